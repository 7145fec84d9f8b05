// The agent copy's process-wide state, its test mode and the one listener
// window that follows its work. Only the agent copy changes these values; in
// every other role they keep their initial state. The automatic probing flag
// belongs to the settings (agent/Settings.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "context/AgentMessages.h"

namespace havrek {

// Notification codes a listener receives (wParam), with their values (lParam).
inline constexpr int kNotifyInfoFetch = 40;     // 1 before, 2 after every .info fetch
inline constexpr int kNotifyPackageFetch = 41;  // 1 before, 2 after the package or page fetch
inline constexpr int kNotifyInstall = 42;       // 1 before, 2 after the setup engine's run
inline constexpr int kNotifyLoopEnded = 43;     // 0: the agent is about to exit
inline constexpr int kNotifyAgentWindow = 50;   // the agent's main window handle
inline constexpr int kNotifyCommandMessage = 51;  // the message number of agent commands
inline constexpr std::intptr_t kAgentCommandMessage = wm_AgentMsg;

// The phase of the work in progress, readable by other processes.
// Plain numbers: agent command 7 answers the phase as its value.
enum AgentPhase : int {
  kAgentIdle = 0,
  kAgentFetchingInfo = 1,
  kAgentFetchingPackage = 2,
  kAgentInstalling = 3,
};

inline constexpr char kTestModeKey[] = "HKEY_CURRENT_USER\\Software\\Morvessa\\Havrek\\AutoUpdate";
// An unforced CheckTestMode reads the registry only after a longer pause
// between two calls.
inline constexpr std::uint32_t kTestModeRereadMs = 30000;

// Reads the test-mode values when forced or after a pause of more than
// 30 seconds since the last call; the test-mode flag.
bool CheckTestMode(bool force);
// As of the last CheckTestMode.
bool TestMode();
// The base location that replaces every other one while test mode holds.
std::string TestModeLocation();

// What CheckTestMode reads. The Win32 shell fills it with the system's tick
// count, the registry and the local date (AgentStateWin.h); tests fill it
// with fixed ones.
struct TestModeSources {
  std::function<std::uint32_t()> tickCount;
  // A value under kTestModeKey, or def when it cannot be read.
  std::function<std::string(const std::string& name, const std::string& def)> readValue;
  // Today's DateText, DD-MON-YYYY in local time.
  std::function<std::string()> today;
};
bool CheckTestMode(bool force, const TestModeSources& src);

// A probe on the user's behalf: asked for, then running for the one tick
// that carries it out.
enum class UserCheckState { none, asked, running };
UserCheckState UserCheck();
void SetUserCheck(UserCheckState value);

// Ticks of the scheduler; a probe is considered from 1 on.
std::int64_t AutoUpdateTimerCount();
void SetAutoUpdateTimerCount(std::int64_t count);
// Ticks left before the agent quits; -1: no quit pending.
std::int64_t QuitCountdown();
void SetQuitCountdown(std::int64_t ticks);
// The next schedule computation probes whatever the schedule says.
bool ForcedProbe();
void SetForcedProbe(bool forced);
// The next tick only fetches the .info file.
bool JustDownloadInfoFile();
void SetJustDownloadInfoFile(bool just);
// An AgentPhase.
int AgentState();
void SetAgentState(int phase);
// Up while a tick runs: a tick entered again meanwhile returns at once.
bool TickRunning();
void SetTickRunning(bool running);

// The registered listener; window 0 or message 0 silences the notifications.
std::uintptr_t ListenerWindow();
std::uint32_t ListenerMessage();
void SetListener(std::uintptr_t window, std::uint32_t message);

// Posts (window, message, code, value) through post when a listener is
// registered; never waits.
using ListenerPost = void (*)(std::uintptr_t window, std::uint32_t message, std::uintptr_t code,
                              std::intptr_t value);
void NotifyListener(int code, std::intptr_t value, ListenerPost post);
// Through the system's PostMessage (Win32 shell).
void NotifyListener(int code, std::intptr_t value);

// Every value back to its state at process start.
void ResetAgentState();

}  // namespace havrek
