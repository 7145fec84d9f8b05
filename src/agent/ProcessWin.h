// Stopping the running program: finding the process that runs an executable,
// its main window, and applying the stopping method of the .info file.
// Targets are executable paths; fullPathOnly switches the file-name match
// off, so that a bare name never reaches the posting and killing operations.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/Process.h"

namespace havrek {

// Where the process list comes from: PSAPI on the NT family, ToolHelp on
// the others.
enum class ProcessSource { psapi, toolHelp };
ProcessSource DefaultProcessSource();

// The id of the matching process the system lists last, 0 if none (also
// when the source's library is missing).
std::uint32_t FindProcessId(const std::string& target, bool fullPathOnly);
std::uint32_t FindProcessId(const std::string& target, bool fullPathOnly, ProcessSource source);

// Both trim the target and strip its quotes, and match by file name too.
bool IsProcessRunning(const std::string& target);
// Returns once no process matches (on the NT family: once the process found
// first has gone), or after timeoutMs (0: no time-out). Serves the thread's
// messages meanwhile.
void WaitProcessGone(const std::string& target, std::int64_t timeoutMs);

// The top-level windows of one process and their scores; the best scored is
// taken for the process's main window.
class TAnalizer {
 public:
  explicit TAnalizer(std::uint32_t processId) : processId_(processId) {}
  void Clear();
  // Lists the process's top-level windows, at most kMaxAnalizerWindows.
  void Collect();
  void Score();
  // The first window of the highest score above 0, or none.
  HWND Best() const;

  std::size_t Count() const { return windows_.size(); }
  HWND Window(std::size_t i) const { return windows_[i]; }
  std::uint16_t ScoreOf(std::size_t i) const { return i < scores_.size() ? scores_[i] : 0; }

 private:
  static BOOL CALLBACK Add(HWND window, LPARAM self);

  std::uint32_t processId_;
  std::vector<HWND> windows_;
  std::vector<std::uint16_t> scores_;
};

HWND FindProcessWindow(const std::string& target, bool fullPathOnly);
// Posts (never sends) to the process's main window; false when there is none.
bool PostProcessMessage(const std::string& target, bool fullPathOnly, UINT message, WPARAM wParam, LPARAM lParam);
// WM_CLOSE and WM_QUIT, each with wParam 15 and lParam 255.
bool CloseProcessWindow(const std::string& target, bool fullPathOnly);
bool QuitProcessWindow(const std::string& target, bool fullPathOnly);
// Terminates the matching process with exit code 0.
bool KillProcess(const std::string& target, bool fullPathOnly);

struct ShutDownResult {
  bool wasRunning = false;
  bool stillRunning = false;
  // The program still runs although the method was meant to end it (or is
  // unknown): nothing may be installed over it now.
  bool putOff = false;
};
// Stops program by method (the .info file's ShutDownMethod) and waits
// without time-out until it has gone, for the four methods that ask it to
// end. Unattended, "Issue a Message Box" waits at most unattendedWaitMs.
ShutDownResult ShutDownProcess(const std::string& program, const std::string& method,
                               std::int64_t unattendedWaitMs = kUnattendedStopWaitMs);

}  // namespace havrek
