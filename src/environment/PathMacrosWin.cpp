#include "environment/PathMacrosWin.h"

#include <windows.h>

#include <string>

#include "environment/RunTimeDir.h"
#include "environment/ShellDirWin.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::string MachineValue(MacroValue value) {
  switch (value) {
    case MacroValue::LoggedUserName: return CurrentUserName();
    case MacroValue::OwnerName: return OwnerName();
    case MacroValue::CompanyName: return OrganizationName();
    case MacroValue::ComputerName: return ComputerName();
    case MacroValue::DomainName: return CurrentUserDomain();
    case MacroValue::WindowsDir: return WindowsDir(false);
    case MacroValue::SystemDir: return SystemDir(false);
    case MacroValue::System16Dir: return System16Dir(false);
    case MacroValue::StartMenuFolder: return StartMenuFolder(false);
    case MacroValue::ProgramFilesFolder: return ProgramFilesFolder(false);
    case MacroValue::CommonFilesFolder: return CommonFilesFolder(false);
    case MacroValue::FontFolder: return FontFolder(false);
    case MacroValue::ExeDir: return ExeDir(false);
    case MacroValue::OriginDir: return OriginDir();
    case MacroValue::TempDir: return TempDir(false);
    case MacroValue::UserDir: return UserDir(false);
    case MacroValue::UserAppDataDir: return UserAppDataDir(false);
    case MacroValue::UserLocalAppDataDir: return UserLocalAppDataDir(false);
    case MacroValue::MyDocumentsDir: return MyDocumentsDir(false);
    case MacroValue::UserStartMenuDir: return UserStartMenuDir(false);
    case MacroValue::UserStartProgramMenuDir: return UserStartProgramMenuDir(false);
    case MacroValue::UserDesktopDir: return UserDesktopDir(false);
    case MacroValue::DocumentsAndSettingsDir: return DocumentsAndSettingsDir(false);
    case MacroValue::AllUsersDir: return AllUsersDir(false);
    case MacroValue::AllUsersAppDataDir: return AllUsersAppDataDir(false);
    case MacroValue::AllUsersDocumentsDir: return AllUsersDocumentsDir(false);
    case MacroValue::AllUsersStartMenuDir: return AllUsersStartMenuDir(false);
    case MacroValue::AllUsersStartProgramMenuDir: return AllUsersStartProgramMenuDir(false);
    case MacroValue::AllUsersDesktopDir: return AllUsersDesktopDir(false);
  }
  return std::string();
}

std::string MonthName(int month) {
  if (month < 1 || month > 12) return std::string();
  char name[128] = {};
  if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(month - 1), name,
                       sizeof name) == 0)
    return std::string();
  return name;
}

MacroClock MachineClock() {
  MacroClock clock;
  clock.now = plat::Now();
  clock.dateSeparator = plat::DateSeparator();
  clock.timeSeparator = plat::TimeSeparator();
  clock.monthName = MonthName(clock.now.month);
  return clock;
}

}  // namespace

std::string FullPathName(const std::string& path) {
  if (path.empty()) return std::string();
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return std::string();
    // A buffer too small gets the length it needs, terminator included.
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length, '\0');
  }
}

const MacroSources& SystemMacroSources() {
  static const MacroSources sources{&MachineValue, &RunTimeDirSlot, &MachineClock, &FullPathName};
  return sources;
}

std::string ExpandMacros(const std::string& text, const std::string& separator) {
  return ExpandMacrosWith(SystemMacroSources(), text, separator);
}

std::string NormalizeDots(const std::string& s) { return NormalizeDots(s, &FullPathName); }

}  // namespace havrek
