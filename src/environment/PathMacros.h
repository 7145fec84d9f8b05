// Macros in settings texts, such as "<InstallDir>app.exe" or
// "<UserDesktopDir>", replaced with the values of the running machine so that
// one setting fits every machine. Tokens match ignoring case; a token this
// program does not know stays as written.
// The expansion is portable: every machine value comes from a MacroSources
// table, which the Win32 shell fills with the real lookups (PathMacrosWin.h)
// and tests fill with fixed values.
#pragma once

#include <functional>
#include <string>

#include "platform/Platform.h"

namespace havrek {

// The values a macro may stand for, apart from the installation folders,
// which SetInstallFolders keeps. Folders come without trailing backslash;
// an unknown value is the empty text.
enum class MacroValue {
  LoggedUserName,
  OwnerName,
  CompanyName,
  ComputerName,
  DomainName,
  WindowsDir,
  SystemDir,
  System16Dir,
  StartMenuFolder,
  ProgramFilesFolder,
  CommonFilesFolder,
  FontFolder,
  ExeDir,
  OriginDir,
  TempDir,
  UserDir,
  UserAppDataDir,
  UserLocalAppDataDir,
  MyDocumentsDir,
  UserStartMenuDir,
  UserStartProgramMenuDir,
  UserDesktopDir,
  DocumentsAndSettingsDir,
  AllUsersDir,
  AllUsersAppDataDir,
  AllUsersDocumentsDir,
  AllUsersStartMenuDir,
  AllUsersStartProgramMenuDir,
  AllUsersDesktopDir,
};

// The current local time and the locale's ways of writing it.
struct MacroClock {
  plat::LocalTime now;
  char dateSeparator = '/';
  char timeSeparator = ':';
  std::string monthName;  // full name of now's month
};

struct MacroSources {
  std::function<std::string(MacroValue)> value;
  std::function<std::string(int slot)> runTimeDir;  // slots 1..8
  std::function<MacroClock()> clock;
  // The platform's full-path expansion ("." and ".." resolved, relative paths
  // taken against the current folder); empty when it fails.
  std::function<std::string(const std::string&)> fullPath;
};

// Kept until set again; the agent sets them from the installed program's
// settings right before each expansion.
void SetInstallFolders(const std::string& installDir, const std::string& commonDir, const std::string& auxDir);

// Every known token of text replaced, then "." and ".." resolved.
std::string ExpandMacrosWith(const MacroSources& sources, const std::string& text, const std::string& separator);

// Every occurrence of token (ignoring case) replaced by folder, followed by
// separator unless the first occurrence ends the text, stands before a blank
// or ends a field of a delimited list.
std::string ReplaceDirToken(const std::string& s, const std::string& token, const std::string& folder,
                            const std::string& separator);

// The first "<Date=c>" replaced by the date in format c ("#" or "0".."7");
// the text unchanged when that token is not well formed.
std::string ExpandDateToken(const std::string& s, const MacroClock& clock);

// "\.." and "..\" resolved by full-path expansion: of each field that holds
// them in a list that begins with "," or "|", else of the whole text. A text
// the expansion fails on stays as it was.
std::string NormalizeDots(const std::string& s, const std::function<std::string(const std::string&)>& fullPath);

// The path the user started: the "/OriginExe=" switch (kept once found), or
// the running executable's path.
std::string OriginExePath();
// The folder of OriginExePath without trailing backslash (kept once found),
// or ExeDir when that is empty.
std::string OriginDir();

}  // namespace havrek
