#include "launcher/AgentHooks.h"

#include <string>

#include "agent/AgentStateWin.h"
#include "agent/StubAU.h"
#include "agent/StubAUCommands.h"
#include "diag/HDebug.h"
#include "launcher/MainWindow.h"

namespace havrek {
namespace {

// The message parameters are pointer-wide; commands, their values and their
// results are 32-bit, and the result goes back sign-extended like any
// 32-bit message result.
LRESULT AgentMessage(WPARAM code, LPARAM value) {
  const auto c = static_cast<std::int32_t>(code);
  const auto v = static_cast<std::int32_t>(value);
  const std::int32_t result = AgentCommand(c, v);
  if (c == kCmdQuitCountdown) AgentShutDown(static_cast<WPARAM>(static_cast<std::uint32_t>(v)));
  LogLine("wm_AgentMsg: " + std::to_string(c) + " " + std::to_string(v) + " -> " + std::to_string(result));
  return result;
}

void ShutDownMessage(WPARAM countdown) {
  LogLine("wm_ShutDown: " + std::to_string(static_cast<std::int32_t>(countdown)));
  AgentShutDown(countdown);
}

}  // namespace

void InstallAgentHooks() {
  MainWindowHooks& hooks = MainHooks();
  hooks.agentTick = AgentTimerTick;
  hooks.sleepTicks = AgentSleepTicks;
  hooks.shutDown = ShutDownMessage;
  hooks.localMsg = AgentRegisterListener;
  hooks.agentMsg = AgentMessage;
  hooks.loopEnded = AgentLoopEnded;
}

}  // namespace havrek
