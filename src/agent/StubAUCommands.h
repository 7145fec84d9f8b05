// What other processes ask of the running agent copy: the agent commands
// carried by wm_AgentMsg, and the pieces of the plain agent that forwards its
// command line to the copy.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// Agent command codes (wParam of wm_AgentMsg); the value is lParam.
// Plain numbers: they are the message's wParam, sent by other processes.
enum AgentCommandCode : std::int32_t {
  kCmdVersionOriginal = 4,
  kCmdVersionNew = 5,
  kCmdAgentState = 7,
  kCmdGetProbeInterval = 8,
  kCmdGetReAskInterval = 9,
  kCmdGetProbeLast = 10,
  kCmdGetReAskLast = 11,
  kCmdSetProbeInterval = 12,
  kCmdSetReAskInterval = 13,
  kCmdSetProbeLast = 14,
  kCmdSetReAskLast = 15,
  kCmdFirstOption = 20,  // 20..25: the override byte of options 0..5
  kCmdLastOption = 25,
  kCmdQuitCountdown = 30,
  kCmdForceProbe = 31,
  kCmdJustDownloadInfo = 32,
};
// The value of kCmdForceProbe that asks for the probe on the user's behalf.
inline constexpr std::int32_t kForceProbeForUser = 2;

// Runs one command over the settings files and the agent state; its result
// goes back to a sender that waits. Codes and values are 32-bit whatever the
// width of the message's parameters; unknown codes do nothing and answer 0.
std::int32_t AgentCommand(std::int32_t code, std::int32_t value);

// "/WM_MSG=" h:m, decimal; a missing or unreadable part counts as 0.
struct ListenerRequest {
  std::int64_t window = 0;
  std::int64_t message = 0;
};
ListenerRequest ParseListenerRequest(const std::string& value);

// The agent copy beside the plain agent: its folder + "X_" + its file name.
std::string AgentCopyPath(const std::string& exePath);

// The command that starts the agent copy: its path, quoted when it holds a
// blank, then " /TRANSIENTx=" transient, or " /SleepX=" delay when a delay is
// given (the delay wins: only one of them is passed), then " /quiet" for an
// unattended agent, whose copy asks the questions.
std::string AgentCopyCommandLine(const std::string& copyPath, const std::string& transient,
                                 const std::string& delay, bool quiet = false);

}  // namespace havrek
