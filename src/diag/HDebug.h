// The two diagnostic channels of the stub.
//  - DebugOut: a text stream whose pieces (at most 128 characters, sent when
//    the buffer fills and at every line end) go to the external debug viewer
//    and/or the debug file. The Win32 shell installs the target; until then,
//    and natively, the pieces are dropped.
//  - LogLine: the log file of agents that ask for one, beside the executable.
// Both are fire-and-forget: nothing depends on whether a line arrived.
// Every unit may report, so this one stands on the platform seam alone: it
// does its own small share of path and text work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string_view>
#include <type_traits>
#include <string>

#include "platform/Platform.h"

namespace havrek {

// ---- Log file ----

// Set once at start-up: the package asks for a log and is an auto-update one.
bool LogEnabled();
void SetLogEnabled(bool on);
// Three characters, "   " until the agent copy makes it " X ".
std::string LogPrefix();
void SetLogPrefix(const std::string& prefix);

// The running executable's path, from which LogFilePath is made; the command
// line's context hands it over when it learns it.
void SetLogExecutable(const std::string& exePath);

// X_<name>.log beside the executable, "X_" added unless the name already
// begins with it (case counts), so the plain agent and its copy share a file.
std::string LogFilePathFor(const std::string& exePath);
// LogFilePathFor the running executable, kept once known; empty while the
// executable's path is not (the line is then dropped).
std::string LogFilePath();

// Where lines go when the log beside the executable cannot be written (an
// agent in a folder its user may not write): a file of the same name in dir.
// Empty (the default): such lines are dropped.
void SetLogFallbackDir(const std::string& dir);

// "dd/mm/yy HH:NN:SS" with the given (or the locale's) separators.
std::string LogStamp(const plat::LocalTime& t);
std::string LogStamp(const plat::LocalTime& t, char dateSep, char timeSep);
// "<stamp> <thread id, 5 wide><prefix><text>\r\n"
std::string LogLineText(const plat::LocalTime& t, char dateSep, char timeSep, std::uint32_t threadId,
                        const std::string& prefix, const std::string& text);
// Appends one line to LogFilePath when LogEnabled; failures are ignored.
void LogLine(const std::string& text = std::string());

// ---- Debug channel ----

inline constexpr std::size_t kDebugBufferSize = 128;
inline constexpr std::size_t kDebugFlushLimit = 10241;
inline constexpr char kDebugLineEnd[] = "\r\n";

// Receives every piece the stream sends, under the debug lock. Exceptions it
// throws are dropped.
using DebugTarget = void (*)(const std::string& piece);

// The program's text output to the debug viewer: a piece leaves whenever the
// 128-byte buffer fills and whenever a line ends. Deliberately not a
// std::ostream: the stream machinery would triple the size of the stub.
class DebugStream {
 public:
  DebugStream& write(const char* s, std::size_t n);
  DebugStream& put(char c) { return write(&c, 1); }
  DebugStream& flush();
  DebugStream& operator<<(std::string_view text) { return write(text.data(), text.size()); }
  DebugStream& operator<<(const char* text) { return *this << std::string_view(text); }
  DebugStream& operator<<(char c) { return put(c); }
  template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, char> && !std::is_same_v<T, bool>,
                                      int> = 0>
  DebugStream& operator<<(T n) {
    return *this << std::string_view(std::to_string(n));
  }
  void setTarget(DebugTarget target);

 private:
  void send();

  std::recursive_mutex lock_;
  DebugTarget target_ = nullptr;
  char buffer_[kDebugBufferSize];
  std::size_t used_ = 0;
};

DebugStream& DebugOut();
// The decimal process id that begins most marker lines.
std::string PidText();
// DebugOut << text << line end: the line leaves at once.
void DebugLine(const std::string& text);
// " --- <routine>() --- <message>" as one debug line.
void ReportException(const std::string& routine, const std::string& message);
// Runs f and reports whatever it throws under routine; nothing unwinds past
// it (a window procedure, a timer, the process entry). False when f threw.
template <class F>
bool ReportingExceptions(const char* routine, F&& f) noexcept {
  try {
    f();
    return true;
  } catch (const std::exception& e) {
    ReportException(routine, e.what());
  } catch (...) {
    ReportException(routine, "unknown exception");
  }
  return false;
}
void SetDebugTarget(DebugTarget target);

// Receives every piece the buffer sends, under the debug lock. Must not throw
// anything it wants to be seen: exceptions are dropped.

// The debug file's form of a piece: CR LF, lone CR and lone LF each become
// one CR LF.
std::string DebugFileText(const std::string& piece);

}  // namespace havrek
