#include "util/UtilsWin.h"

#include <windows.h>

#include "util/Utils.h"

namespace havrek {

namespace {

bool SystemLeadByte(unsigned char c) { return IsDBCSLeadByte(c) != FALSE; }

// Folder getters return the needed size (with the NUL) when the buffer is short.
template <class Getter>
std::string FolderOf(Getter get, bool add) {
  std::string buffer(261, '\0');
  UINT n = get(buffer.data(), static_cast<UINT>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.assign(n + 1, '\0');
    n = get(buffer.data(), static_cast<UINT>(buffer.size()));
    if (n >= buffer.size()) n = 0;
  }
  return SetTrailingBackslash(buffer.substr(0, n), add);
}

}  // namespace

std::string ModulePath() {
  // MAX_PATH is no limit for the running module; grow until it fits.
  std::string buffer(MAX_PATH + 1, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return buffer.substr(0, n);
    if (buffer.size() >= 32768 * 2) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

void InstallLeadByteTest() { SetLeadByteTest(&SystemLeadByte); }

void InitProcessCommandLine() {
  InstallLeadByteTest();
  const char* commandLine = GetCommandLineA();
  SetProcessCommandLine(commandLine ? std::string(commandLine) : std::string(), ModulePath());
}

std::string WindowsDir(bool add) {
  return FolderOf([](char* b, UINT size) { return GetWindowsDirectoryA(b, size); }, add);
}

std::string SystemDir(bool add) {
  return FolderOf([](char* b, UINT size) { return GetSystemDirectoryA(b, size); }, add);
}

std::string LongPathOf(const std::string& path) {
  char buffer[MAX_PATH * 4] = {};
  const DWORD n = ::GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

std::string TempDir(bool add) {
  return FolderOf([](char* b, UINT size) { return static_cast<UINT>(GetTempPathA(size, b)); }, add);
}

}  // namespace havrek
