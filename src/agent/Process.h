// Stopping the running program, the portable half: when a process matches a
// target path, how the main window of a process is scored, and what each
// stopping method of the .info file does. The Win32 half (ProcessWin.h)
// gathers the facts from the system and acts on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace havrek {

// ---- Matching ----

// What the system tells about one running process. Short forms are empty
// when the system has none.
struct ProcessNames {
  std::string fullPath;
  std::string baseName;
  std::string shortFullPath;
};

// Stands in for the short form of a target that has none, so that it
// matches nothing.
inline constexpr char kNoShortForm[] = "*XX*";

// Full path, file name (unless fullPathOnly) or short form equal, ignoring
// case and surrounding blanks. targetShort is the short form of target as
// the system gives it (empty: none).
bool ProcessMatches(const ProcessNames& process, const std::string& target, const std::string& targetShort,
                    bool fullPathOnly);

// Index of the match the system listed last, -1 if none.
std::ptrdiff_t LastMatchIndex(const std::vector<ProcessNames>& processes, const std::string& target,
                              const std::string& targetShort, bool fullPathOnly);

// ---- Main-window scoring ----

// The window list of one search holds at most this many windows.
inline constexpr std::size_t kMaxAnalizerWindows = 2001;

// One top-level window of the process, as the scoring sees it. Handles are
// opaque numbers; rootOwner is 0 for a window without owner.
struct WindowFacts {
  std::uintptr_t handle = 0;
  std::uintptr_t rootOwner = 0;
  bool hasCaption = false;
  bool visible = false;
};

// 4 for each listed window whose root owner it is, 2 for a caption, 1 when
// visible.
std::vector<std::uint16_t> ScoreWindows(const std::vector<WindowFacts>& windows);
// The first window with the highest score, -1 when no score is above 0.
std::ptrdiff_t BestWindowIndex(const std::vector<std::uint16_t>& scores);

// ---- Stopping methods ----

enum class ShutDownMethod {
  messageBox,  // "Issue a Message Box"
  close,       // "Using WM_CLOSE"
  quit,        // "Using WM_QUIT"
  terminate,   // "Using Terminate Process"
  dontShutDown,
  none,        // any other text: nothing is done
};

// The .info text compared exactly: another letter case is "none".
ShutDownMethod ShutDownMethodOf(const std::string& text);
// The four methods that ask the program to end wait for it. An unknown
// method sends nothing, so waiting would last until someone happens to end
// the program: it does not wait.
bool ShutDownWaits(ShutDownMethod method);
// Whether the update must not be installed now: the program still runs and
// the method was not "Don't Shut Down" (which installs over it on purpose).
bool ShutDownPutsOff(ShutDownMethod method, bool stillRunning);

// How long an unattended run (nobody to answer "Issue a Message Box") waits
// for the program to end before it puts the update off; test mode, where a
// probe comes every few seconds, waits less.
inline constexpr std::int64_t kUnattendedStopWaitMs = 10 * 60 * 1000;
inline constexpr std::int64_t kTestModeStopWaitMs = 15 * 1000;

// The wParam and lParam that mark the agent's close and quit requests.
inline constexpr std::uintptr_t kShutDownWParam = 15;
inline constexpr std::intptr_t kShutDownLParam = 255;

// ---- Texts ----

// s15 with "PROG_NAME" replaced by the program's file name.
std::string CloseRequestText(const std::string& s15, const std::string& program);
// "Shut Down Process() - START  (<program>)  Method: <method>"
std::string ShutDownStartLine(const std::string& program, const std::string& method);
// "PID=<id>\t   Exists=<TRUE|FALSE>\t  ><target><"
std::string KillProcessLine(std::uint32_t id, bool exists, const std::string& target);
// The log lines of a stop that does not go as the method says.
std::string UnknownMethodLine(const std::string& method);
std::string UnattendedWaitLine(const std::string& program, std::int64_t waitMs);
std::string NotReachedLine(const std::string& program, const std::string& method);
std::string PutOffLine(const std::string& program);

}  // namespace havrek
