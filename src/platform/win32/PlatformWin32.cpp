// Win32 side of the seam: the core inside Stub.exe reaches files and the clock here.
#include <windows.h>

#include "platform/Platform.h"
#include "util/Fnv1a.h"

namespace havrek::plat {
namespace {

HANDLE H(FileId file) { return reinterpret_cast<HANDLE>(file); }

char LocaleChar(LCTYPE type, char fallback) {
  char buf[8] = {};
  return ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buf, sizeof buf) > 1 ? buf[0] : fallback;
}

}  // namespace

FileId Open(const std::string& path, OpenMode mode) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  DWORD access = GENERIC_READ;
  DWORD disposition = OPEN_EXISTING;
  if (mode == OpenMode::Write) {
    access = GENERIC_WRITE;
    disposition = OPEN_ALWAYS;
  } else if (mode == OpenMode::Create) {
    access = GENERIC_WRITE;
    disposition = CREATE_ALWAYS;
  } else if (mode == OpenMode::Append) {
    // Appending without the right to write elsewhere: the system then puts
    // each write at the current end, so writers of other processes do not
    // overwrite each other's lines.
    access = FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
    disposition = OPEN_ALWAYS;
  }
  HANDLE h = ::CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileId>(h);
}

void Close(FileId file) {
  if (file != kNoFile) ::CloseHandle(H(file));
}

std::int64_t Read(FileId file, void* buffer, std::int64_t count) {
  if (file == kNoFile || count < 0) return -1;
  DWORD got = 0;
  const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!::ReadFile(H(file), buffer, want, &got, nullptr)) return -1;
  return got;
}

std::int64_t Write(FileId file, const void* data, std::int64_t count) {
  if (file == kNoFile || count < 0) return -1;
  DWORD put = 0;
  const DWORD want = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!::WriteFile(H(file), data, want, &put, nullptr)) return -1;
  return put;
}

std::int64_t Seek(FileId file, int origin, std::int64_t distance) {
  if (file == kNoFile) return -1;
  LARGE_INTEGER to, pos;
  to.QuadPart = distance;
  const DWORD method = origin == 2 ? FILE_END : origin == 1 ? FILE_CURRENT : FILE_BEGIN;
  if (!::SetFilePointerEx(H(file), to, &pos, method)) return -1;
  return pos.QuadPart;
}

std::int64_t Size(FileId file) {
  LARGE_INTEGER size;
  if (file == kNoFile || !::GetFileSizeEx(H(file), &size)) return -1;
  return size.QuadPart;
}

bool Exists(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirs(const std::string& folder) {
  std::string path = folder;
  for (char& c : path)
    if (c == '/') c = '\\';
  // The root is never created: the drive ("C:\\") or the share ("\\\\host\\share\\").
  std::size_t at = 0;
  if (path.size() >= 2 && path[1] == ':') {
    at = 2;
  } else if (path.rfind("\\\\", 0) == 0) {
    at = path.find('\\', 2);
    if (at != std::string::npos) at = path.find('\\', at + 1);
  }
  while (at != std::string::npos) {
    at = path.find('\\', at + 1);
    const std::string part = path.substr(0, at);
    if (!part.empty() && part.back() != '\\' && part.back() != ':') ::CreateDirectoryA(part.c_str(), nullptr);
  }
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return !path.empty() && attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool SetDosDate(FileId file, std::uint32_t dos) {
  FILETIME local, utc;
  if (!::DosDateTimeToFileTime(static_cast<WORD>(dos >> 16), static_cast<WORD>(dos & 0xFFFF), &local) ||
      !::LocalFileTimeToFileTime(&local, &utc))
    return false;
  return ::SetFileTime(H(file), nullptr, nullptr, &utc) != FALSE;
}

std::uint32_t DosDate(FileId file) {
  FILETIME utc, local;
  WORD date = 0, time = 0;
  if (file == kNoFile || !::GetFileTime(H(file), nullptr, nullptr, &utc) || !::FileTimeToLocalFileTime(&utc, &local) ||
      !::FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return (static_cast<std::uint32_t>(date) << 16) | time;
}

LocalTime Now() {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::uint64_t TickMs() { return ::GetTickCount64(); }

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

void ServeMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

PathLock::PathLock(const std::string& path) {
  // One mutex per file, named after its full path in capitals (the system
  // compares names without case); a name cannot hold "\\", so it holds a hash.
  char full[MAX_PATH * 2];
  const DWORD n = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  std::string key = n > 0 && n < sizeof full ? std::string(full, n) : path;
  ::CharUpperBuffA(key.data(), static_cast<DWORD>(key.size()));
  const std::uint64_t hash = Fnv1a64(key);
  char name[64];
  wsprintfA(name, "Local\\havrek-file-%08lx%08lx", static_cast<unsigned long>(hash >> 32),
            static_cast<unsigned long>(hash & 0xFFFFFFFF));
  handle_ = ::CreateMutexA(nullptr, FALSE, name);
  if (!handle_) return;
  const DWORD waited = ::WaitForSingleObject(handle_, 5000);
  // An abandoned mutex is owned all the same: its holder ended mid-write.
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

PathLock::~PathLock() {
  if (held_) ::ReleaseMutex(handle_);
  if (handle_) ::CloseHandle(handle_);
}

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }
std::uint32_t ThreadId() { return ::GetCurrentThreadId(); }
char DateSeparator() { return LocaleChar(LOCALE_SDATE, '/'); }
char TimeSeparator() { return LocaleChar(LOCALE_STIME, ':'); }

}  // namespace havrek::plat
