#include "environment/ShellDir.h"

#include <cstddef>

#include "util/Utils.h"

namespace havrek {
namespace {

bool Exists(const ShellSources& src, const std::string& path) { return !path.empty() && src.dirExists(path); }

// An unknown folder stays empty: with a trailing backslash it would name the
// root of the current drive.
std::string Finish(const std::string& path, bool trailing) {
  return path.empty() ? path : SetTrailingBackslash(path, trailing);
}

std::string Parent(const std::string& path) {
  return SetTrailingBackslash(FileDirPart(RemoveTrailingBackslash(path)), false);
}

std::string WinDir(const ShellSources& src, bool trailing) { return Finish(src.windowsDir(), trailing); }

// The shell's folder when it exists, else base + name, else (when given)
// second + name; the last fallback is taken unchecked.
std::string Chain(const ShellSources& src, std::string folder, const std::string& name, const std::string& base,
                  const std::string& second = std::string()) {
  if (Exists(src, folder)) return folder;
  folder = base + name;
  if (second.empty() || Exists(src, folder)) return folder;
  return second + name;
}

}  // namespace

std::string ProfileFolderFallback(const ShellSources& src, bool trailing) {
  const std::string profile = WinDir(src, true) + "Profiles\\" + src.ownerName();
  return Finish(Exists(src, profile) ? profile : WinDir(src, false), trailing);
}

std::string UserDir(const ShellSources& src, bool trailing) {
  std::string folder = src.folderPath(kFolderPersonal);
  if (Exists(src, folder)) folder = Parent(folder);
  if (!Exists(src, folder)) folder = ProfileFolderFallback(src, false);
  return Finish(folder, trailing);
}

std::string DocumentsAndSettingsDir(const ShellSources& src, bool trailing) {
  std::string folder = src.folderPath(kFolderPersonal);
  if (Exists(src, folder)) folder = Parent(folder);
  if (Exists(src, folder)) folder = Parent(folder);
  if (!Exists(src, folder)) folder = ProfileFolderFallback(src, false);
  return Finish(folder, trailing);
}

std::string AllUsersDir(const ShellSources& src, bool trailing) {
  std::string folder = src.folderPath(kFolderCommonAppData);
  if (Exists(src, folder)) folder = Parent(folder);
  if (!Exists(src, folder)) folder = WinDir(src, false);
  return Finish(folder, trailing);
}

std::string UserAppDataDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.folderPath(kFolderAppData), "Application Data", ProfileFolderFallback(src, true)),
                trailing);
}

std::string UserLocalAppDataDir(const ShellSources& src, bool trailing) {
  return Finish(
      Chain(src, src.folderPath(kFolderLocalAppData), "Application Data", ProfileFolderFallback(src, true)),
      trailing);
}

std::string AllUsersAppDataDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.folderPath(kFolderCommonAppData), "Application Data", WinDir(src, true)), trailing);
}

std::string MyDocumentsDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.folderPath(kFolderPersonal), "My Documents", ProfileFolderFallback(src, true)),
                trailing);
}

std::string AllUsersDocumentsDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.folderPath(kFolderCommonDocuments), "Documents", WinDir(src, true)), trailing);
}

std::string UserStartMenuDir(const ShellSources& src, bool trailing) {
  return Finish(
      Chain(src, src.specialFolder(kFolderStartMenu), "Start Menu", UserDir(src, true), AllUsersDir(src, true)),
      trailing);
}

std::string AllUsersStartMenuDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.specialFolder(kFolderCommonStartMenu), "Start Menu", AllUsersDir(src, true)),
                trailing);
}

std::string UserStartProgramMenuDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.specialFolder(kFolderPrograms), "Start Menu\\Programs", UserDir(src, true),
                      AllUsersDir(src, true)),
                trailing);
}

std::string AllUsersStartProgramMenuDir(const ShellSources& src, bool trailing) {
  return Finish(
      Chain(src, src.specialFolder(kFolderCommonPrograms), "Start Menu\\Programs", AllUsersDir(src, true)),
      trailing);
}

std::string UserDesktopDir(const ShellSources& src, bool trailing) {
  return Finish(
      Chain(src, src.specialFolder(kFolderDesktop), "Desktop", UserDir(src, true), AllUsersDir(src, true)),
      trailing);
}

std::string AllUsersDesktopDir(const ShellSources& src, bool trailing) {
  return Finish(Chain(src, src.specialFolder(kFolderCommonDesktop), "Desktop", AllUsersDir(src, true)), trailing);
}

std::string System16Dir(const ShellSources& src, bool trailing) {
  const std::string system = Finish(src.systemDir(), false);
  if (const std::int64_t at = LastPos("32", system); at > 0) {
    std::string folder = system;
    folder.erase(static_cast<std::size_t>(at - 1), 2);
    if (Exists(src, folder)) return Finish(folder, trailing);
  }
  const std::string winSystem = WinDir(src, true) + "System";
  if (Exists(src, winSystem)) return Finish(winSystem, trailing);
  return Finish(system, trailing);
}

std::string FontFolder(const ShellSources& src, bool trailing) {
  const std::string named = src.readRegString(kShellFoldersKey, "Fonts");
  return Finish(Exists(src, named) ? named : WinDir(src, true) + "Fonts", trailing);
}

std::string StartMenuFolder(const ShellSources& src, bool trailing) {
  return Finish(src.readRegString(kStartMenuKey, "Start Menu"), trailing);
}

std::string ProgramFilesFolder(const ShellSources& src, bool trailing) {
  return Finish(src.readRegString(kCurrentVersionKey, "ProgramFilesDir"), trailing);
}

std::string CommonFilesFolder(const ShellSources& src, bool trailing) {
  return Finish(src.readRegString(kCurrentVersionKey, "CommonFilesDir"), trailing);
}

}  // namespace havrek
