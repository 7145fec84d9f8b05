#include "agent/Process.h"

#include <unordered_map>

#include "util/Utils.h"

namespace havrek {

bool ProcessMatches(const ProcessNames& process, const std::string& target, const std::string& targetShort,
                    bool fullPathOnly) {
  // A process whose names could not be read never matches, not even an
  // empty target.
  if (process.fullPath.empty() && process.baseName.empty()) return false;
  if (SameTextTrim(process.fullPath, target)) return true;
  if (!fullPathOnly && SameTextTrim(process.baseName, target)) return true;
  const std::string wanted = Trim(targetShort).empty() ? std::string(kNoShortForm) : targetShort;
  return SameTextTrim(process.shortFullPath, wanted);
}

std::ptrdiff_t LastMatchIndex(const std::vector<ProcessNames>& processes, const std::string& target,
                              const std::string& targetShort, bool fullPathOnly) {
  for (std::size_t i = processes.size(); i-- > 0;)
    if (ProcessMatches(processes[i], target, targetShort, fullPathOnly)) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

std::vector<std::uint16_t> ScoreWindows(const std::vector<WindowFacts>& windows) {
  std::unordered_map<std::uintptr_t, std::uint16_t> owned;
  for (const WindowFacts& w : windows)
    if (w.rootOwner != 0) ++owned[w.rootOwner];
  std::vector<std::uint16_t> scores;
  scores.reserve(windows.size());
  for (const WindowFacts& w : windows) {
    const auto it = owned.find(w.handle);
    const unsigned count = it == owned.end() ? 0 : it->second;
    scores.push_back(static_cast<std::uint16_t>(4 * count + (w.hasCaption ? 2 : 0) + (w.visible ? 1 : 0)));
  }
  return scores;
}

std::ptrdiff_t BestWindowIndex(const std::vector<std::uint16_t>& scores) {
  std::ptrdiff_t best = -1;
  std::uint16_t top = 0;
  for (std::size_t i = 0; i < scores.size(); ++i) {
    if (scores[i] > top) {
      top = scores[i];
      best = static_cast<std::ptrdiff_t>(i);
    }
  }
  return best;
}

ShutDownMethod ShutDownMethodOf(const std::string& text) {
  if (text == "Issue a Message Box") return ShutDownMethod::messageBox;
  if (text == "Using WM_CLOSE") return ShutDownMethod::close;
  if (text == "Using WM_QUIT") return ShutDownMethod::quit;
  if (text == "Using Terminate Process") return ShutDownMethod::terminate;
  if (text == "Don't Shut Down") return ShutDownMethod::dontShutDown;
  return ShutDownMethod::none;
}

bool ShutDownWaits(ShutDownMethod method) {
  return method != ShutDownMethod::dontShutDown && method != ShutDownMethod::none;
}

bool ShutDownPutsOff(ShutDownMethod method, bool stillRunning) {
  return stillRunning && method != ShutDownMethod::dontShutDown;
}

std::string CloseRequestText(const std::string& s15, const std::string& program) {
  return ReplaceAll(s15, "PROG_NAME", FileNamePart(program));
}

std::string ShutDownStartLine(const std::string& program, const std::string& method) {
  return "Shut Down Process() - START  (" + program + ")  Method: " + method;
}

std::string KillProcessLine(std::uint32_t id, bool exists, const std::string& target) {
  return "PID=" + std::to_string(id) + "\t   Exists=" + BoolText(exists) + "\t  >" + target + "<";
}

std::string UnknownMethodLine(const std::string& method) {
  return "Shut Down Process() - unknown method \"" + method + "\": nothing is sent";
}

std::string UnattendedWaitLine(const std::string& program, std::int64_t waitMs) {
  return "Shut Down Process() - unattended: waiting up to " + std::to_string(waitMs / 1000) + " s for " + program +
         " to end";
}

std::string NotReachedLine(const std::string& program, const std::string& method) {
  return "Shut Down Process() - " + method + " did not reach " + program;
}

std::string PutOffLine(const std::string& program) {
  return "Shut Down Process() - " + program + " still runs: the update is put off";
}

}  // namespace havrek
