// The machine's standard folders (documents, application data, start menu,
// desktop, their profile folders, fonts, program files), each asked of the
// shell first and built from the Windows folder and a fixed name where the
// shell has no existing answer. The chains are portable: every fact they
// need comes from a ShellSources table, which the Win32 shell fills with the
// real lookups (ShellDirWin.h) and tests fill with fixed ones.
// Every folder function ends with SetTrailingBackslash (result, trailing);
// none reports an error.
#pragma once

#include <functional>
#include <string>

namespace havrek {

// Shell folder identifiers; 0x8000 asks the shell to create a missing folder.
enum ShellFolderId : int {
  kFolderPersonal = 0x8005,
  kFolderAppData = 0x801A,
  kFolderLocalAppData = 0x801C,
  kFolderCommonAppData = 0x8023,
  kFolderCommonDocuments = 0x802E,
  kFolderStartMenu = 11,
  kFolderCommonStartMenu = 22,
  kFolderPrograms = 2,
  kFolderCommonPrograms = 23,
  kFolderDesktop = 16,
  kFolderCommonDesktop = 25,
  kFolderStartup = 7,
  kFolderCommonStartup = 24,
};

inline constexpr char kShellFoldersKey[] =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kStartMenuKey[] =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
inline constexpr char kCurrentVersionKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// Every source answers with an empty text (or false) when it has no answer.
struct ShellSources {
  std::function<std::string(int id)> folderPath;     // per-user and common folders (0x80xx ids)
  std::function<std::string(int id)> specialFolder;  // menus and desktops
  std::function<bool(const std::string& path)> dirExists;
  std::function<std::string()> windowsDir;
  std::function<std::string()> systemDir;
  std::function<std::string()> ownerName;
  std::function<std::string(const std::string& key, const std::string& name)> readRegString;
};

// Windows folder + "Profiles\" + owner name, or the Windows folder when that
// profile folder does not exist.
std::string ProfileFolderFallback(const ShellSources& src, bool trailing);

std::string UserDir(const ShellSources& src, bool trailing);
std::string DocumentsAndSettingsDir(const ShellSources& src, bool trailing);
std::string AllUsersDir(const ShellSources& src, bool trailing);
std::string UserAppDataDir(const ShellSources& src, bool trailing);
std::string UserLocalAppDataDir(const ShellSources& src, bool trailing);
std::string AllUsersAppDataDir(const ShellSources& src, bool trailing);
std::string MyDocumentsDir(const ShellSources& src, bool trailing);
std::string AllUsersDocumentsDir(const ShellSources& src, bool trailing);
std::string UserStartMenuDir(const ShellSources& src, bool trailing);
std::string AllUsersStartMenuDir(const ShellSources& src, bool trailing);
std::string UserStartProgramMenuDir(const ShellSources& src, bool trailing);
std::string AllUsersStartProgramMenuDir(const ShellSources& src, bool trailing);
std::string UserDesktopDir(const ShellSources& src, bool trailing);
std::string AllUsersDesktopDir(const ShellSources& src, bool trailing);

std::string System16Dir(const ShellSources& src, bool trailing);
std::string FontFolder(const ShellSources& src, bool trailing);
std::string StartMenuFolder(const ShellSources& src, bool trailing);
std::string ProgramFilesFolder(const ShellSources& src, bool trailing);
std::string CommonFilesFolder(const ShellSources& src, bool trailing);

}  // namespace havrek
