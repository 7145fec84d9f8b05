// POSIX side of the seam: used by the native tests, fuzzers, benchmarks and havrek-pack.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "platform/Platform.h"

namespace havrek::plat {

FileId Open(const std::string& path, OpenMode mode) {
  int flags = O_RDONLY;
  if (mode == OpenMode::Write) flags = O_WRONLY | O_CREAT;
  if (mode == OpenMode::Create) flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (mode == OpenMode::Append) flags = O_WRONLY | O_CREAT | O_APPEND;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return kNoFile;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kNoFile;
  }
  return fd;
}

void Close(FileId file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

std::int64_t Read(FileId file, void* buffer, std::int64_t count) {
  if (file == kNoFile || count < 0) return -1;
  if (count > INT_MAX) count = INT_MAX;
  return ::read(static_cast<int>(file), buffer, static_cast<size_t>(count));
}

std::int64_t Write(FileId file, const void* data, std::int64_t count) {
  if (file == kNoFile || count < 0) return -1;
  if (count > INT_MAX) count = INT_MAX;
  return ::write(static_cast<int>(file), data, static_cast<size_t>(count));
}

std::int64_t Seek(FileId file, int origin, std::int64_t distance) {
  if (file == kNoFile) return -1;
  const int whence = origin == 2 ? SEEK_END : origin == 1 ? SEEK_CUR : SEEK_SET;
  return ::lseek(static_cast<int>(file), distance, whence);
}

std::int64_t Size(FileId file) {
  struct stat st {};
  if (file == kNoFile || ::fstat(static_cast<int>(file), &st) != 0) return -1;
  return st.st_size;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool MakeDirs(const std::string& folder) {
  struct stat st {};
  for (std::size_t at = folder.find('/', 1);; at = folder.find('/', at + 1)) {
    const std::string part = folder.substr(0, at);
    if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  return !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool SetDosDate(FileId file, std::uint32_t dos) {
  struct tm t {};
  t.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  t.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  t.tm_sec = static_cast<int>(dos & 0x1F) * 2;
  t.tm_isdst = -1;
  const time_t when = ::mktime(&t);
  if (when == static_cast<time_t>(-1)) return false;
  struct timespec times[2] = {{when, 0}, {when, 0}};
  return ::futimens(static_cast<int>(file), times) == 0;
}

std::uint32_t DosDate(FileId file) {
  struct stat st {};
  if (file == kNoFile || ::fstat(static_cast<int>(file), &st) != 0) return 0;
  struct tm t {};
  const time_t when = st.st_mtime;
  if (!::localtime_r(&when, &t) || t.tm_year < 80) return 0;
  return (static_cast<std::uint32_t>(t.tm_year - 80) << 25) | (static_cast<std::uint32_t>(t.tm_mon + 1) << 21) |
         (static_cast<std::uint32_t>(t.tm_mday) << 16) | (static_cast<std::uint32_t>(t.tm_hour) << 11) |
         (static_cast<std::uint32_t>(t.tm_min) << 5) | static_cast<std::uint32_t>(t.tm_sec / 2);
}

LocalTime Now() {
  struct timeval tv {};
  ::gettimeofday(&tv, nullptr);
  struct tm t {};
  const time_t when = tv.tv_sec;
  ::localtime_r(&when, &t);
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

std::uint64_t TickMs() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec / 1000000);
}

void Sleep(std::uint32_t ms) {
  struct timespec ts {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  ::nanosleep(&ts, nullptr);
}

PathLock::PathLock(const std::string&) {}
PathLock::~PathLock() = default;

void ServeMessages() {}

std::uint32_t ProcessId() { return static_cast<std::uint32_t>(::getpid()); }
std::uint32_t ThreadId() { return static_cast<std::uint32_t>(::syscall(SYS_gettid)); }
char DateSeparator() { return '/'; }
char TimeSeparator() { return ':'; }

}  // namespace havrek::plat
