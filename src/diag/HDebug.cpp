#include "diag/HDebug.h"

#include <algorithm>
#include <atomic>
#include <mutex>


namespace havrek {
namespace {

std::atomic<bool> g_logEnabled{false};
std::mutex g_logStateLock;
std::string g_logPrefix = "   ";
std::string g_logExecutable;
std::string g_logFilePath;
std::string g_logFallbackDir;

DebugStream& Stream() {
  // Never destroyed: static destructors of other units may still write.
  static DebugStream* stream = new DebugStream;
  return *stream;
}

// The path rules of util (a trail byte of a double-byte character is never a
// separator), for the log's own path.
std::size_t LastSeparator(const std::string& path) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); i += plat::IsLeadByte(static_cast<unsigned char>(path[i])) ? 2 : 1)
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') last = i;
  return last;
}

bool EndsWithBackslash(const std::string& s) {
  if (s.empty() || s.back() != '\\') return false;
  std::size_t i = 0;
  while (i < s.size() - 1) i += plat::IsLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
  return i == s.size() - 1;
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

std::string TwoDigits(int n) {
  const std::string digits = std::to_string(n);
  return digits.size() < 2 ? "0" + digits : digits;
}

bool AppendBytes(const std::string& path, const std::string& bytes) {
  const plat::File file(path, plat::OpenMode::Append);
  return file && file.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size()));
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

void SetLogExecutable(const std::string& exePath) {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  g_logExecutable = exePath;
}

std::string LogFilePathFor(const std::string& exePath) {
  if (exePath.empty()) return std::string();
  const std::size_t at = LastSeparator(exePath);
  std::string name = at == std::string::npos ? exePath : exePath.substr(at + 1);
  std::string folder = at == std::string::npos ? std::string() : exePath.substr(0, at + 1);
  if (name.compare(0, 2, "X_") != 0) name = "X_" + name;
  // A dot is never the second byte of a double-byte character.
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  if (folder.size() >= 3 && EndsWithBackslash(folder)) folder.pop_back();
  return folder + "\\" + name + ".log";
}

std::string LogFilePath() {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  if (g_logFilePath.empty()) g_logFilePath = LogFilePathFor(g_logExecutable);
  return g_logFilePath;
}

void SetLogFallbackDir(const std::string& dir) {
  std::lock_guard<std::mutex> hold(g_logStateLock);
  g_logFallbackDir = dir;
}

std::string LogStamp(const plat::LocalTime& t, char dateSep, char timeSep) {
  const std::string ds(1, dateSep), ts(1, timeSep);
  const int yy = ((t.year % 100) + 100) % 100;
  return TwoDigits(t.day) + ds + TwoDigits(t.month) + ds + TwoDigits(yy) + " " + TwoDigits(t.hour) + ts +
         TwoDigits(t.minute) + ts + TwoDigits(t.second);
}

std::string LogStamp(const plat::LocalTime& t) { return LogStamp(t, plat::DateSeparator(), plat::TimeSeparator()); }

std::string LogLineText(const plat::LocalTime& t, char dateSep, char timeSep, std::uint32_t threadId,
                        const std::string& prefix, const std::string& text) {
  std::string id = std::to_string(threadId);
  if (id.size() < 5) id.insert(0, 5 - id.size(), ' ');
  return LogStamp(t, dateSep, timeSep) + " " + id + prefix + text + "\r\n";
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
    if (AppendBytes(path, line)) return;
  }
  std::string fallbackDir;
  {
    std::lock_guard<std::mutex> hold(g_logStateLock);
    fallbackDir = g_logFallbackDir;
  }
  if (fallbackDir.empty()) return;
  std::string folder = fallbackDir;
  if (folder.size() >= 3 && EndsWithBackslash(folder)) folder.pop_back();
  const std::string fallback = folder + "\\" + path.substr(LastSeparator(path) + 1);
  if (SameTextAscii(fallback, path)) return;
  const plat::PathLock lock(fallback);
  AppendBytes(fallback, line);
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
