#include "agent/AgentState.h"

namespace havrek {
namespace {

struct State {
  std::int64_t autoUpdateTimerCount = -3;
  std::int64_t quitCountdown = -1;
  UserCheckState userCheck = UserCheckState::none;
  bool forcedProbe = false;
  bool justDownloadInfoFile = false;
  int agentState = kAgentIdle;
  bool tickRunning = false;
  bool testMode = false;
  std::string testModeLocation;
  std::uint32_t lastTestModeRead = 0;
  std::uintptr_t listenerWindow = 0;
  std::uint32_t listenerMessage = 0;
};

State state;

}  // namespace

bool CheckTestMode(bool force, const TestModeSources& src) {
  const std::uint32_t now = src.tickCount();
  // Unsigned distance: the 32-bit tick count wraps after 49.7 days, and a
  // running agent must neither re-read every second nor stop re-reading then.
  if (force || now - state.lastTestModeRead > kTestModeRereadMs) {
    const std::string mode = src.readValue("TestMode", "0");
    const std::string date = src.readValue("TestModeDate", "");
    state.testModeLocation = src.readValue("TestModeURL", "");
    state.testMode = mode == "1" && date == src.today();
  }
  state.lastTestModeRead = now;
  return state.testMode;
}

bool TestMode() { return state.testMode; }
std::string TestModeLocation() { return state.testModeLocation; }

UserCheckState UserCheck() { return state.userCheck; }
void SetUserCheck(UserCheckState value) { state.userCheck = value; }

std::int64_t AutoUpdateTimerCount() { return state.autoUpdateTimerCount; }
void SetAutoUpdateTimerCount(std::int64_t count) { state.autoUpdateTimerCount = count; }
std::int64_t QuitCountdown() { return state.quitCountdown; }
void SetQuitCountdown(std::int64_t ticks) { state.quitCountdown = ticks; }
bool ForcedProbe() { return state.forcedProbe; }
void SetForcedProbe(bool forced) { state.forcedProbe = forced; }
bool JustDownloadInfoFile() { return state.justDownloadInfoFile; }
void SetJustDownloadInfoFile(bool just) { state.justDownloadInfoFile = just; }
int AgentState() { return state.agentState; }
void SetAgentState(int phase) { state.agentState = phase; }
bool TickRunning() { return state.tickRunning; }
void SetTickRunning(bool running) { state.tickRunning = running; }

std::uintptr_t ListenerWindow() { return state.listenerWindow; }
std::uint32_t ListenerMessage() { return state.listenerMessage; }
void SetListener(std::uintptr_t window, std::uint32_t message) {
  state.listenerWindow = window;
  state.listenerMessage = message;
}

void NotifyListener(int code, std::intptr_t value, ListenerPost post) {
  if (state.listenerWindow == 0 || state.listenerMessage == 0 || !post) return;
  post(state.listenerWindow, state.listenerMessage, static_cast<std::uintptr_t>(code), value);
}

void ResetAgentState() { state = State{}; }

}  // namespace havrek
