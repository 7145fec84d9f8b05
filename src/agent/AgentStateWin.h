// The agent state's Win32 half: test mode from the registry, notifications
// through PostMessage, and the agent copy's answers to its main window's
// start, private messages and end.
#pragma once

#include <windows.h>

#include <cstdint>

#include "agent/AgentState.h"

namespace havrek {

// The system's 32-bit tick count, the values under kTestModeKey through
// ReadRegString, and today's DateText in local time.
const TestModeSources& SystemTestModeSources();

// "/SleepX=n": the first probe is considered n + 1 ticks after the start.
void AgentSleepTicks(std::int64_t n);
// wm_ShutDown and agent command 30: the agent quits at the (countdown + 1)-th
// following tick; a fetch under way is aborted.
void AgentShutDown(WPARAM countdown);
// wm_LocalMsg: the window registers (replacing any earlier one) and is told
// the agent's main window and the message number of agent commands.
void AgentRegisterListener(WPARAM window, LPARAM message);
// The main window's loop has ended: the listener is told the agent exits.
void AgentLoopEnded();

}  // namespace havrek
