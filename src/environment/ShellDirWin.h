// The standard folders of the running machine: the shell's answers through
// "SHFolder.dll" and "shell32.dll", loaded by name from the system folder on
// first use, and the chains of ShellDir.h over them.
#pragma once

#include <string>

#include "environment/ShellDir.h"

namespace havrek {

// SHGetFolderPathA; empty when it fails or cannot be loaded.
std::string FolderPath(int id);
// SHGetSpecialFolderPathA without creating; empty when it fails or cannot be
// loaded.
std::string SpecialFolder(int id);
bool DirExists(const std::string& path);

const ShellSources& SystemShellSources();

std::string UserDir(bool trailing);
std::string DocumentsAndSettingsDir(bool trailing);
std::string AllUsersDir(bool trailing);
std::string UserAppDataDir(bool trailing);
std::string UserLocalAppDataDir(bool trailing);
std::string AllUsersAppDataDir(bool trailing);
std::string MyDocumentsDir(bool trailing);
std::string AllUsersDocumentsDir(bool trailing);
std::string UserStartMenuDir(bool trailing);
std::string AllUsersStartMenuDir(bool trailing);
std::string UserStartProgramMenuDir(bool trailing);
std::string AllUsersStartProgramMenuDir(bool trailing);
std::string UserDesktopDir(bool trailing);
std::string AllUsersDesktopDir(bool trailing);
std::string System16Dir(bool trailing);
std::string FontFolder(bool trailing);
std::string StartMenuFolder(bool trailing);
std::string ProgramFilesFolder(bool trailing);
std::string CommonFilesFolder(bool trailing);

}  // namespace havrek
