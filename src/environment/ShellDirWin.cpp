#include "environment/ShellDirWin.h"

#include <windows.h>

#include <array>

#include "util/UtilsDllWin.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

// Larger than any path either function writes, and zero-filled, so the
// answer always ends in a zero byte.
using PathBuffer = std::array<char, 1025>;

using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using GetSpecialFolderPathFn = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);

template <class Fn>
Fn LoadProc(const char* library, const char* proc) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(LoadDllProc(library, proc)));
}

}  // namespace

std::string FolderPath(int id) {
  static const auto fn = LoadProc<GetFolderPathFn>("SHFolder.dll", "SHGetFolderPathA");
  if (!fn) return std::string();
  PathBuffer buffer{};
  if (fn(nullptr, id, nullptr, 0, buffer.data()) != 0) return std::string();
  return buffer.data();
}

std::string SpecialFolder(int id) {
  static const auto fn = LoadProc<GetSpecialFolderPathFn>("shell32.dll", "SHGetSpecialFolderPathA");
  if (!fn) return std::string();
  PathBuffer buffer{};
  if (!fn(nullptr, buffer.data(), id, FALSE)) return std::string();
  return buffer.data();
}

bool DirExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

const ShellSources& SystemShellSources() {
  static const ShellSources sources{
      &FolderPath,
      &SpecialFolder,
      &DirExists,
      [] { return WindowsDir(false); },
      [] { return SystemDir(false); },
      &OwnerName,
      [](const std::string& key, const std::string& name) { return ReadRegString(key, name, std::string()); },
  };
  return sources;
}

std::string UserDir(bool trailing) { return UserDir(SystemShellSources(), trailing); }
std::string DocumentsAndSettingsDir(bool trailing) { return DocumentsAndSettingsDir(SystemShellSources(), trailing); }
std::string AllUsersDir(bool trailing) { return AllUsersDir(SystemShellSources(), trailing); }
std::string UserAppDataDir(bool trailing) { return UserAppDataDir(SystemShellSources(), trailing); }
std::string UserLocalAppDataDir(bool trailing) { return UserLocalAppDataDir(SystemShellSources(), trailing); }
std::string AllUsersAppDataDir(bool trailing) { return AllUsersAppDataDir(SystemShellSources(), trailing); }
std::string MyDocumentsDir(bool trailing) { return MyDocumentsDir(SystemShellSources(), trailing); }
std::string AllUsersDocumentsDir(bool trailing) { return AllUsersDocumentsDir(SystemShellSources(), trailing); }
std::string UserStartMenuDir(bool trailing) { return UserStartMenuDir(SystemShellSources(), trailing); }
std::string AllUsersStartMenuDir(bool trailing) { return AllUsersStartMenuDir(SystemShellSources(), trailing); }
std::string UserStartProgramMenuDir(bool trailing) { return UserStartProgramMenuDir(SystemShellSources(), trailing); }
std::string AllUsersStartProgramMenuDir(bool trailing) {
  return AllUsersStartProgramMenuDir(SystemShellSources(), trailing);
}
std::string UserDesktopDir(bool trailing) { return UserDesktopDir(SystemShellSources(), trailing); }
std::string AllUsersDesktopDir(bool trailing) { return AllUsersDesktopDir(SystemShellSources(), trailing); }
std::string System16Dir(bool trailing) { return System16Dir(SystemShellSources(), trailing); }
std::string FontFolder(bool trailing) { return FontFolder(SystemShellSources(), trailing); }
std::string StartMenuFolder(bool trailing) { return StartMenuFolder(SystemShellSources(), trailing); }
std::string ProgramFilesFolder(bool trailing) { return ProgramFilesFolder(SystemShellSources(), trailing); }
std::string CommonFilesFolder(bool trailing) { return CommonFilesFolder(SystemShellSources(), trailing); }

}  // namespace havrek
