#include "launcher/AgentHooks.h"

#include "agent/AgentStateWin.h"
#include "agent/StubAU.h"
#include "launcher/MainWindow.h"

namespace havrek {

static_assert(static_cast<UINT>(kAgentCommandMessage) == wm_AgentMsg, "the listener is told the message the window answers");

void InstallAgentHooks() {
  MainWindowHooks& hooks = MainHooks();
  hooks.agentTick = AgentTimerTick;
  hooks.sleepTicks = AgentSleepTicks;
  hooks.shutDown = AgentShutDown;
  hooks.localMsg = AgentRegisterListener;
  hooks.loopEnded = AgentLoopEnded;
}

}  // namespace havrek
