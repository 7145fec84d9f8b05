#include "environment/PathMacros.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "environment/RunTimeDir.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {
namespace {

struct InstallFolders {
  std::string install, common, aux;
};

InstallFolders& Folders() {
  static InstallFolders folders;
  return folders;
}

// How a row of the token table joins its value to the text.
enum class Join {
  Text,             // every occurrence replaced by the value alone
  Dir,              // ReplaceDirToken with the expander's separator
  Drive,            // the value's first 3 characters ("C:\")
  Disk,             // the value's first 2 characters ("C:")
  RemoveIfChanged,  // removed when an earlier folder row changed the text
};

// Values the token table names beside MacroValue: the three installation
// folders, and the constant texts of values this program does not keep.
enum class Own { None, Install, Common, Aux, Zero, Empty };

struct Row {
  const char* token;
  Join join;
  Own own;
  MacroValue value;
};

constexpr Row Mine(const char* token, Join join, Own own) { return {token, join, own, MacroValue::WindowsDir}; }
constexpr Row Theirs(const char* token, Join join, MacroValue value) { return {token, join, Own::None, value}; }

// Names and constants, replaced before the folders and outside the
// "text changed" test of the old-style folder tokens.
constexpr Row kNameRows[] = {
    Theirs("<LoggedUserName>", Join::Text, MacroValue::LoggedUserName),
    Theirs("<UserName>", Join::Text, MacroValue::OwnerName),
    Theirs("<CompanyName>", Join::Text, MacroValue::CompanyName),
    Theirs("<ComputerName>", Join::Text, MacroValue::ComputerName),
    Theirs("<CurrentDomainName>", Join::Text, MacroValue::DomainName),
    Mine("<LastExecutableExitCode>", Join::Text, Own::Zero),
    Mine("<ReqFreeDiskSpaceMB>", Join::Text, Own::Zero),
    // Values only an interactive setup collects.
    Mine("<EnteredUserName>", Join::Text, Own::Empty),
    Mine("<EnteredCompanyName>", Join::Text, Own::Empty),
    Mine("<EnteredSerialNum>", Join::Text, Own::Empty),
    Mine("<EnteredStartProgramMenu>", Join::Text, Own::Empty),
    Mine("<VendorCompanyName>", Join::Text, Own::Empty),
    Mine("<ProjectName>", Join::Text, Own::Empty),
    Mine("<ProgramDescriptiveName>", Join::Text, Own::Empty),
    Mine("<ProgramVersion>", Join::Text, Own::Empty),
    Mine("<SelectedLanguage>", Join::Text, Own::Empty),
};

constexpr char kUninstallToken[] = "<UnInstallExePath>";
constexpr char kRunTimeDirPrefix[] = "<RunTimeDir_";

// The folder rows, after the run-time slots. The old-style names come first;
// a text written with them uses "<InstallDir>" and its kin only as a marker
// that is dropped, while a text without them gets the new-style folders.
constexpr Row kFolderRows[] = {
    Mine("<Application Folder>", Join::Dir, Own::Install),
    Mine("<Common Folder>", Join::Dir, Own::Common),
    Mine("<Auxiliary Folder>", Join::Dir, Own::Aux),
    Theirs("<Windows Directory>", Join::Dir, MacroValue::WindowsDir),
    Theirs("<System Directory>", Join::Dir, MacroValue::SystemDir),
    Theirs("<System16 Directory>", Join::Dir, MacroValue::System16Dir),
    Mine("<InstallDir>", Join::RemoveIfChanged, Own::None),
    Mine("<InstallCommonDir>", Join::RemoveIfChanged, Own::None),
    Mine("<InstallAuxDir>", Join::RemoveIfChanged, Own::None),
    Mine("<AbsoluteDir>", Join::Text, Own::Empty),
    Mine("<InstallDir>", Join::Dir, Own::Install),
    Mine("<InstallCommonDir>", Join::Dir, Own::Common),
    Mine("<InstallAuxDir>", Join::Dir, Own::Aux),
    Mine("<AbsoluteDir>", Join::Text, Own::Empty),
    Theirs("<WinDir>", Join::Dir, MacroValue::WindowsDir),
    Theirs("<WinSysDir>", Join::Dir, MacroValue::SystemDir),
    Theirs("<WinSys32Dir>", Join::Dir, MacroValue::SystemDir),
    Theirs("<WinSys16Dir>", Join::Dir, MacroValue::System16Dir),
    Mine("<InstallDrive>", Join::Drive, Own::Install),
    Theirs("<WinDrive>", Join::Drive, MacroValue::WindowsDir),
    Theirs("<WinSysDrive>", Join::Drive, MacroValue::SystemDir),
    Theirs("<OriginDrive>", Join::Drive, MacroValue::OriginDir),
    Mine("<InstallDisk>", Join::Disk, Own::Install),
    Theirs("<WinDisk>", Join::Disk, MacroValue::WindowsDir),
    Theirs("<WinSysDisk>", Join::Disk, MacroValue::SystemDir),
    Theirs("<OriginDisk>", Join::Disk, MacroValue::OriginDir),
    Theirs("<StartMenuDir>", Join::Dir, MacroValue::StartMenuFolder),
    Theirs("<ProgramFilesDir>", Join::Dir, MacroValue::ProgramFilesFolder),
    Theirs("<CommonFilesDir>", Join::Dir, MacroValue::CommonFilesFolder),
    Theirs("<FontDir>", Join::Dir, MacroValue::FontFolder),
    Theirs("<SrcDir>", Join::Dir, MacroValue::ExeDir),
    Theirs("<OriginDir>", Join::Dir, MacroValue::OriginDir),
    Theirs("<TempDir>", Join::Dir, MacroValue::TempDir),
    Theirs("<ServiceDir>", Join::Dir, MacroValue::ExeDir),
    Theirs("<UserDir>", Join::Dir, MacroValue::UserDir),
    Theirs("<UserAppDataDir>", Join::Dir, MacroValue::UserAppDataDir),
    Theirs("<UserLocalAppDataDir>", Join::Dir, MacroValue::UserLocalAppDataDir),
    Theirs("<MyDocumentsDir>", Join::Dir, MacroValue::MyDocumentsDir),
    Theirs("<UserStartMenuDir>", Join::Dir, MacroValue::UserStartMenuDir),
    Theirs("<UserStartProgramMenuDir>", Join::Dir, MacroValue::UserStartProgramMenuDir),
    Theirs("<UserDesktopDir>", Join::Dir, MacroValue::UserDesktopDir),
    Theirs("<DocumentsAndSettingsDir>", Join::Dir, MacroValue::DocumentsAndSettingsDir),
    Theirs("<AllUsersDir>", Join::Dir, MacroValue::AllUsersDir),
    Theirs("<AllUsersAppDataDir>", Join::Dir, MacroValue::AllUsersAppDataDir),
    Theirs("<AllUsersDocumentsDir>", Join::Dir, MacroValue::AllUsersDocumentsDir),
    Theirs("<AllUsersStartMenuDir>", Join::Dir, MacroValue::AllUsersStartMenuDir),
    Theirs("<AllUsersStartProgramMenuDir>", Join::Dir, MacroValue::AllUsersStartProgramMenuDir),
    Theirs("<AllUsersDesktopDir>", Join::Dir, MacroValue::AllUsersDesktopDir),
};

std::string ValueOf(const MacroSources& sources, const Row& row) {
  switch (row.own) {
    case Own::Install: return Folders().install;
    case Own::Common: return Folders().common;
    case Own::Aux: return Folders().aux;
    case Own::Zero: return "0";
    case Own::Empty: return std::string();
    case Own::None: break;
  }
  return sources.value(row.value);
}

// Every value is asked for, whether its token occurs or not: the shell's
// folder lookups create missing standard folders, and settings written for
// this expander may count on that.
std::string ApplyRow(const MacroSources& sources, const Row& row, const std::string& s, const std::string& snapshot,
                     const std::string& separator) {
  if (row.join == Join::RemoveIfChanged) return s != snapshot ? ReplaceAllNoCase(s, row.token, "") : s;
  const std::string value = ValueOf(sources, row);
  switch (row.join) {
    case Join::Dir: return ReplaceDirToken(s, row.token, value, separator);
    case Join::Drive: return ReplaceAllNoCase(s, row.token, value.substr(0, 3));
    case Join::Disk: return ReplaceAllNoCase(s, row.token, value.substr(0, 2));
    default: return ReplaceAllNoCase(s, row.token, value);
  }
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string Two(int n) { return ZeroPad(n % 100, 2); }

// Whole days from 1 January 2000 to the day of t.
std::int64_t DaysSince2000(const plat::LocalTime& t) {
  plat::LocalTime start;
  start.year = 2000;
  start.month = 1;
  start.day = 1;
  return static_cast<std::int64_t>(std::floor(LocalTimeToDays(t) - LocalTimeToDays(start)));
}

std::string FormatDate(char code, const MacroClock& clock) {
  const plat::LocalTime& t = clock.now;
  const std::string dd = Two(t.day), mm = Two(t.month), yy = Two(t.year), yyyy = ZeroPad(t.year, 4);
  switch (code) {
    case '#': return dd + clock.dateSeparator + clock.monthName + clock.dateSeparator + yyyy;
    case '0': return IntText(DaysSince2000(t));
    case '1': return dd + "-" + mm + "-" + yy;
    case '2': return mm + "-" + dd + "-" + yy;
    case '3': return yy + "-" + mm + "-" + dd;
    case '4': return dd + "-" + mm + "-" + yyyy;
    case '5': return mm + "-" + dd + "-" + yyyy;
    case '6': return yyyy + "-" + mm + "-" + dd;
    default:
      return yyyy + "-" + mm + "-" + dd + " " + Two(t.hour) + clock.timeSeparator + Two(t.minute) +
             clock.timeSeparator + Two(t.second);
  }
}

bool HasDots(const std::string& s) {
  return s.find("\\..") != std::string::npos || s.find("..\\") != std::string::npos;
}

struct OriginCache {
  std::string exePath, dir;
};

OriginCache& Origin() {
  static OriginCache cache;
  return cache;
}

}  // namespace

void SetInstallFolders(const std::string& installDir, const std::string& commonDir, const std::string& auxDir) {
  Folders() = {installDir, commonDir, auxDir};
}

std::string ExpandMacrosWith(const MacroSources& sources, const std::string& text, const std::string& separator) {
  std::string result = text;
  if (text.find('<') != std::string::npos) {
    std::string s = text;
    if (PosNoCase("<Date=", s) > 0) s = ExpandDateToken(s, sources.clock());
    for (const Row& row : kNameRows) s = ApplyRow(sources, row, s, s, separator);

    const std::string snapshot = s;
    s = ReplaceAllNoCase(s, kUninstallToken, "");
    if (PosNoCase(kRunTimeDirPrefix, s) > 0) {
      for (int slot = 1; slot <= kRunTimeDirSlots; ++slot) {
        const std::string token = kRunTimeDirPrefix + IntText(slot) + ">";
        if (PosNoCase(token, s) > 0) s = ReplaceDirToken(s, token, sources.runTimeDir(slot), separator);
      }
    }
    for (const Row& row : kFolderRows) s = ApplyRow(sources, row, s, snapshot, separator);
    // A folder joined to a text that already had a backslash leaves two.
    result = s != snapshot ? CollapseBackslashes(s, false) : snapshot;
  }
  return NormalizeDots(result, sources.fullPath);
}

std::string ReplaceDirToken(const std::string& s, const std::string& token, const std::string& folder,
                            const std::string& separator) {
  const std::int64_t at = PosNoCase(token, s);
  if (at <= 0) return s;
  const std::size_t after = static_cast<std::size_t>(at - 1) + token.size();
  bool append = true;
  if (after >= s.size()) {
    append = false;
  } else {
    const char next = s[after];
    // The token ends a field of a list that its own delimiter encloses.
    const bool endsField = s.front() == s.back() && next == s.front() && next != '<' && !IsAsciiLetter(next);
    if (next == ' ' || endsField) append = false;
  }
  return ReplaceAllNoCase(s, token, append ? folder + separator : folder);
}

std::string ExpandDateToken(const std::string& s, const MacroClock& clock) {
  static constexpr char kOpen[] = "<Date=";
  const std::int64_t at = PosNoCase(kOpen, s);
  if (at <= 0) return s;
  const std::size_t code = static_cast<std::size_t>(at - 1) + sizeof kOpen - 1;
  // Only a code directly closed by ">" is a date token: anything else would
  // swallow a character of the text that follows.
  if (code + 1 >= s.size() || s[code + 1] != '>') return s;
  const char c = s[code];
  if (c != '#' && (c < '0' || c > '7')) return s;
  return s.substr(0, static_cast<std::size_t>(at - 1)) + FormatDate(c, clock) + s.substr(code + 2);
}

std::string NormalizeDots(const std::string& s, const std::function<std::string(const std::string&)>& fullPath) {
  if (!HasDots(s)) return s;
  const auto expand = [&](const std::string& path) {
    const std::string full = fullPath(path);
    return full.empty() ? path : full;
  };
  if ((s[0] == ',' || s[0] == '|') && SUB::FieldCount(s) > 0) {
    std::string list = s;
    const int count = SUB::FieldCount(s);
    for (int i = 0; i < count; ++i) {
      const std::string field = SUB::GetField(list, i);
      if (HasDots(field)) list = SUB::SetField(list, i, expand(field));
    }
    return list;
  }
  return expand(s);
}

std::string OriginExePath() {
  std::string& cached = Origin().exePath;
  if (cached.empty()) cached = GetSwitch("/OriginExe=", "");
  return cached.empty() ? ExePath() : cached;
}

std::string OriginDir() {
  std::string& cached = Origin().dir;
  if (cached.empty()) cached = SetTrailingBackslash(FileDirPart(OriginExePath()), false);
  return cached.empty() ? ExeDir(false) : cached;
}

}  // namespace havrek
