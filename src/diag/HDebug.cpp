#include "diag/HDebug.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "files/Files.h"
#include "util/Utils.h"

namespace havrek {
namespace {

std::atomic<bool> g_logEnabled{false};
std::mutex g_logStateLock;
std::string g_logPrefix = "   ";
std::string g_logFilePath;
std::string g_logFallbackDir;

DebugStream& Stream() {
  // Never destroyed: static destructors of other units may still write.
  static DebugStream* stream = new DebugStream;
  return *stream;
}

}  // namespace

bool LogEnabled() { return g_logEnabled.load(); }
void SetLogEnabled(bool on) { g_logEnabled.store(on); }

std::string LogPrefix() {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  return g_logPrefix;
}

void SetLogPrefix(const std::string& prefix) {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  g_logPrefix = prefix;
}

std::string LogFilePathFor(const std::string& exePath) {
  if (exePath.empty()) return std::string();
  std::string name = FileNamePart(exePath);
  if (name.compare(0, 2, "X_") != 0) name = "X_" + name;
  return SetTrailingBackslash(FileDirPart(exePath), true) + FileNameNoExt(name, false) + ".log";
}

std::string LogFilePath() {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  if (g_logFilePath.empty()) g_logFilePath = LogFilePathFor(ExePath());
  return g_logFilePath;
}

void SetLogFallbackDir(const std::string& dir) {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  g_logFallbackDir = dir;
}

std::string LogLineText(const plat::LocalTime& t, char dateSep, char timeSep, std::uint32_t threadId,
                        const std::string& prefix, const std::string& text) {
  return LogStamp(t, dateSep, timeSep) + " " + PadLeft(IntText(threadId), 5) + prefix + text + "\r\n";
}

void LogLine(const std::string& text) {
  if (!LogEnabled()) return;
  const std::string path = LogFilePath();
  if (path.empty()) return;
  const std::string line =
      LogLineText(plat::Now(), plat::DateSeparator(), plat::TimeSeparator(), plat::ThreadId(), LogPrefix(), text);
  {
    // The plain agent and its copy share one log.
    const plat::PathLock lock(path);
    if (AppendText(path, line)) return;
  }
  std::string fallbackDir;
  {
    std::lock_guard<std::mutex> hold(g_logStateLock);
    fallbackDir = g_logFallbackDir;
  }
  if (fallbackDir.empty()) return;
  const std::string fallback = SetTrailingBackslash(fallbackDir, true) + FileNamePart(path);
  if (SameText(fallback, path)) return;
  const plat::PathLock lock(fallback);
  AppendText(fallback, line);
}

// The lock is recursive because sending to the viewer is a synchronous
// cross-process message: while it waits, the thread serves incoming sent
// messages, and their handlers may write debug lines again.
DebugStream& DebugStream::write(const char* s, std::size_t n) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  for (std::size_t i = 0; i < n; ++i) {
    buffer_[used_++] = s[i];
    if (s[i] == '\n' || used_ == kDebugBufferSize) send();
  }
  return *this;
}

DebugStream& DebugStream::flush() {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  send();
  return *this;
}

void DebugStream::setTarget(DebugTarget target) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  target_ = target;
}

void DebugStream::send() {
  if (used_ == 0) return;
  const std::string piece(buffer_, std::min(used_, kDebugFlushLimit));
  // Emptied before the target runs, so that a line written from inside the
  // send starts a fresh piece instead of being sent twice or wiped.
  used_ = 0;
  if (!target_) return;
  try {
    target_(piece);
  } catch (...) {
  }
}

DebugStream& DebugOut() { return Stream(); }

std::string PidText() { return std::to_string(plat::ProcessId()); }

void DebugLine(const std::string& text) { DebugOut() << text << kDebugLineEnd; }

void ReportException(const std::string& routine, const std::string& message) {
  DebugLine(" --- " + routine + "() --- " + message);
}

void SetDebugTarget(DebugTarget target) { Stream().setTarget(target); }

std::string DebugFileText(const std::string& piece) {
  std::string out;
  out.reserve(piece.size() + 8);
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = piece[i];
    if (c == '\r') {
      if (i + 1 < piece.size() && piece[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace havrek
