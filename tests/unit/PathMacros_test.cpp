#include "environment/PathMacros.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "environment/RunTimeDir.h"
#include "util/Utils.h"

namespace havrek {
namespace {

// A machine with fixed values; every lookup is counted.
struct FakeMachine {
  std::map<MacroValue, std::string> values = {
      {MacroValue::LoggedUserName, "jdoe"},
      {MacroValue::OwnerName, "John Doe"},
      {MacroValue::CompanyName, "ACME"},
      {MacroValue::ComputerName, "PC1"},
      {MacroValue::DomainName, "DOM"},
      {MacroValue::WindowsDir, "C:\\Windows"},
      {MacroValue::SystemDir, "C:\\Windows\\system32"},
      {MacroValue::System16Dir, "C:\\Windows\\system"},
      {MacroValue::StartMenuFolder, "C:\\Menu"},
      {MacroValue::ProgramFilesFolder, "C:\\Program Files"},
      {MacroValue::CommonFilesFolder, "C:\\Program Files\\Common Files"},
      {MacroValue::FontFolder, "C:\\Windows\\Fonts"},
      {MacroValue::ExeDir, "E:\\Src"},
      {MacroValue::OriginDir, "F:\\Origin"},
      {MacroValue::TempDir, "C:\\Temp"},
      {MacroValue::UserDir, "C:\\Users\\jdoe"},
      {MacroValue::UserAppDataDir, "C:\\Users\\jdoe\\Roaming"},
      {MacroValue::UserLocalAppDataDir, "C:\\Users\\jdoe\\Local"},
      {MacroValue::MyDocumentsDir, "C:\\Users\\jdoe\\Documents"},
      {MacroValue::UserStartMenuDir, "C:\\Users\\jdoe\\Start Menu"},
      {MacroValue::UserStartProgramMenuDir, "C:\\Users\\jdoe\\Start Menu\\Programs"},
      {MacroValue::UserDesktopDir, "C:\\Users\\jdoe\\Desktop"},
      {MacroValue::DocumentsAndSettingsDir, "C:\\Users"},
      {MacroValue::AllUsersDir, "C:\\ProgramData"},
      {MacroValue::AllUsersAppDataDir, "C:\\ProgramData\\AppData"},
      {MacroValue::AllUsersDocumentsDir, "C:\\Users\\Public\\Documents"},
      {MacroValue::AllUsersStartMenuDir, "C:\\ProgramData\\Start Menu"},
      {MacroValue::AllUsersStartProgramMenuDir, "C:\\ProgramData\\Start Menu\\Programs"},
      {MacroValue::AllUsersDesktopDir, "C:\\Users\\Public\\Desktop"},
  };
  std::map<int, std::string> slots;
  MacroClock clock;
  int valueCalls = 0, slotCalls = 0, clockCalls = 0;
  std::map<MacroValue, int> asked;
  std::vector<std::string> fullPathCalls;

  FakeMachine() {
    for (int i = 1; i <= kRunTimeDirSlots; ++i) slots[i] = "R:\\Slot" + IntText(i);
    clock.now = {2019, 3, 5, 14, 7, 9, 0};
    clock.dateSeparator = '.';
    clock.timeSeparator = '.';
    clock.monthName = "March";
    SetInstallFolders("D:\\Apps", "D:\\Common", "D:\\Aux");
  }

  MacroSources Sources() {
    return {[this](MacroValue v) { return ++valueCalls, ++asked[v], values.at(v); },
            [this](int slot) { return ++slotCalls, slots.at(slot); },
            [this] { return ++clockCalls, clock; },
            [this](const std::string& path) {
              fullPathCalls.push_back(path);
              return "[" + path + "]";
            }};
  }

  std::string Expand(const std::string& text) { return ExpandMacrosWith(Sources(), text, "\\"); }
};

TEST(PathMacros, EveryTokenOfTheTable) {
  struct Case {
    std::string token, value;
    bool dir;  // joined by the separator rule
  } cases[] = {
      {"<LoggedUserName>", "jdoe", false},
      {"<UserName>", "John Doe", false},
      {"<CompanyName>", "ACME", false},
      {"<ComputerName>", "PC1", false},
      {"<CurrentDomainName>", "DOM", false},
      {"<LastExecutableExitCode>", "0", false},
      {"<ReqFreeDiskSpaceMB>", "0", false},
      {"<EnteredUserName>", "", false},
      {"<EnteredCompanyName>", "", false},
      {"<EnteredSerialNum>", "", false},
      {"<EnteredStartProgramMenu>", "", false},
      {"<VendorCompanyName>", "", false},
      {"<ProjectName>", "", false},
      {"<ProgramDescriptiveName>", "", false},
      {"<ProgramVersion>", "", false},
      {"<SelectedLanguage>", "", false},
      {"<UnInstallExePath>", "", false},
      {"<RunTimeDir_1>", "R:\\Slot1", true},
      {"<RunTimeDir_2>", "R:\\Slot2", true},
      {"<RunTimeDir_3>", "R:\\Slot3", true},
      {"<RunTimeDir_4>", "R:\\Slot4", true},
      {"<RunTimeDir_5>", "R:\\Slot5", true},
      {"<RunTimeDir_6>", "R:\\Slot6", true},
      {"<RunTimeDir_7>", "R:\\Slot7", true},
      {"<RunTimeDir_8>", "R:\\Slot8", true},
      {"<Application Folder>", "D:\\Apps", true},
      {"<Common Folder>", "D:\\Common", true},
      {"<Auxiliary Folder>", "D:\\Aux", true},
      {"<Windows Directory>", "C:\\Windows", true},
      {"<System Directory>", "C:\\Windows\\system32", true},
      {"<System16 Directory>", "C:\\Windows\\system", true},
      {"<AbsoluteDir>", "", false},
      {"<InstallDir>", "D:\\Apps", true},
      {"<InstallCommonDir>", "D:\\Common", true},
      {"<InstallAuxDir>", "D:\\Aux", true},
      {"<WinDir>", "C:\\Windows", true},
      {"<WinSysDir>", "C:\\Windows\\system32", true},
      {"<WinSys32Dir>", "C:\\Windows\\system32", true},
      {"<WinSys16Dir>", "C:\\Windows\\system", true},
      {"<InstallDrive>", "D:\\", false},
      {"<WinDrive>", "C:\\", false},
      {"<WinSysDrive>", "C:\\", false},
      {"<OriginDrive>", "F:\\", false},
      {"<InstallDisk>", "D:", false},
      {"<WinDisk>", "C:", false},
      {"<WinSysDisk>", "C:", false},
      {"<OriginDisk>", "F:", false},
      {"<StartMenuDir>", "C:\\Menu", true},
      {"<ProgramFilesDir>", "C:\\Program Files", true},
      {"<CommonFilesDir>", "C:\\Program Files\\Common Files", true},
      {"<FontDir>", "C:\\Windows\\Fonts", true},
      {"<SrcDir>", "E:\\Src", true},
      {"<OriginDir>", "F:\\Origin", true},
      {"<TempDir>", "C:\\Temp", true},
      {"<ServiceDir>", "E:\\Src", true},
      {"<UserDir>", "C:\\Users\\jdoe", true},
      {"<UserAppDataDir>", "C:\\Users\\jdoe\\Roaming", true},
      {"<UserLocalAppDataDir>", "C:\\Users\\jdoe\\Local", true},
      {"<MyDocumentsDir>", "C:\\Users\\jdoe\\Documents", true},
      {"<UserStartMenuDir>", "C:\\Users\\jdoe\\Start Menu", true},
      {"<UserStartProgramMenuDir>", "C:\\Users\\jdoe\\Start Menu\\Programs", true},
      {"<UserDesktopDir>", "C:\\Users\\jdoe\\Desktop", true},
      {"<DocumentsAndSettingsDir>", "C:\\Users", true},
      {"<AllUsersDir>", "C:\\ProgramData", true},
      {"<AllUsersAppDataDir>", "C:\\ProgramData\\AppData", true},
      {"<AllUsersDocumentsDir>", "C:\\Users\\Public\\Documents", true},
      {"<AllUsersStartMenuDir>", "C:\\ProgramData\\Start Menu", true},
      {"<AllUsersStartProgramMenuDir>", "C:\\ProgramData\\Start Menu\\Programs", true},
      {"<AllUsersDesktopDir>", "C:\\Users\\Public\\Desktop", true},
  };
  FakeMachine machine;
  for (const auto& c : cases) {
    EXPECT_EQ(machine.Expand(c.token), c.value) << c.token;
    EXPECT_EQ(machine.Expand(LowerCase(c.token)), c.value) << c.token;
    EXPECT_EQ(machine.Expand(UpperCase(c.token) + "x.exe"), c.value + (c.dir ? "\\x.exe" : "x.exe")) << c.token;
  }
}

TEST(PathMacros, OrderOfReplacement) {
  struct Case {
    std::string text, expected;
  } cases[] = {
      // An old-style folder token marks "<InstallDir>" as a leftover to drop.
      {"<Application Folder>\\bin\\<InstallDir>x.exe", "D:\\Apps\\bin\\x.exe"},
      {"<Windows Directory>\\<InstallCommonDir>x.exe", "C:\\Windows\\x.exe"},
      {"<UnInstallExePath><InstallAuxDir>", ""},
      {"<InstallDir>\\<InstallCommonDir>\\<InstallAuxDir>", "D:\\Apps\\D:\\Common\\D:\\Aux"},
      // Names and constants do not count as a change of the folder rows.
      {"<LoggedUserName>\\<InstallDir>", "jdoe\\D:\\Apps"},
      {"<Date=6>_<InstallDir>", "2019-03-05_D:\\Apps"},
      // Only the first date token is replaced.
      {"<Date=1>_<Date=6>", "05-03-19_<Date=6>"},
  };
  FakeMachine machine;
  for (const auto& c : cases) EXPECT_EQ(machine.Expand(c.text), c.expected) << c.text;

  // A value brought in by an earlier row is expanded by a later one, never
  // the other way round.
  machine.values[MacroValue::LoggedUserName] = "<TempDir>";
  machine.values[MacroValue::TempDir] = "C:\\<UserName>";
  EXPECT_EQ(machine.Expand("<LoggedUserName>"), "C:\\<UserName>");
}

TEST(PathMacros, SeparatorRuleAndBackslashes) {
  struct Case {
    std::string text, install, expected;
  } cases[] = {
      {"<InstallDir>app.exe", "D:\\Apps", "D:\\Apps\\app.exe"},
      {"<InstallDir>\\app.exe", "D:\\Apps", "D:\\Apps\\app.exe"},
      {"<InstallDir>", "D:\\Apps", "D:\\Apps"},
      {"<InstallDir> /quiet", "D:\\Apps", "D:\\Apps /quiet"},
      {"|<InstallDir>|<TempDir>|", "D:\\Apps", "|D:\\Apps|C:\\Temp|"},
      {"\"<InstallDir>a.exe\"", "D:\\Apps", "\"D:\\Apps\\a.exe\""},
      {"<installdir>a.exe;<INSTALLDIR>", "D:\\Apps", "D:\\Apps\\a.exe;D:\\Apps\\"},
      // An unknown folder leaves the separator alone.
      {"<InstallDir>app.exe", "", "\\app.exe"},
      {"<InstallDir>x.exe", "\\\\srv\\apps", "\\\\srv\\apps\\x.exe"},
      // Nothing replaced: doubled backslashes of the text stay.
      {"C:\\a\\\\b <Unknown>", "D:\\Apps", "C:\\a\\\\b <Unknown>"},
  };
  for (const auto& c : cases) {
    FakeMachine machine;
    SetInstallFolders(c.install, "", "");
    EXPECT_EQ(machine.Expand(c.text), c.expected) << c.text;
  }
}

TEST(PathMacros, UnknownTokensAndPlainTextStay) {
  FakeMachine machine;
  for (const std::string text : {"<Foo>x", "<InstallDirX>", "<Install Dir>", "<InstallDir", "InstallDir>",
                                 "<RunTimeDir_0>", "<RunTimeDir_9>", "<RunTimeDir_>", "<Date=9>", "<Date=>"})
    EXPECT_EQ(machine.Expand(text), text);
  EXPECT_EQ(machine.slotCalls, 0);

  FakeMachine plain;
  EXPECT_EQ(plain.Expand("C:\\Apps\\x.exe"), "C:\\Apps\\x.exe");
  EXPECT_EQ(plain.valueCalls + plain.slotCalls + plain.clockCalls, 0);
}

TEST(PathMacros, ReplaceDirTokenDecidesFromTheFirstOccurrence) {
  struct Case {
    std::string s, separator, expected;
  } cases[] = {
      {"<T>", "\\", "F"},
      {"<T>x", "\\", "F\\x"},
      {"<T> x", "\\", "F x"},
      {"<T>x<T>", "\\", "F\\xF\\"},  // every occurrence gets the first one's join
      {"<T><T>", "\\", "F\\F\\"},    // "<" never ends a field
      {"<T><", "\\", "F\\<"},        // not even in a text that "<" encloses
      {"a<T>a", "\\", "aF\\a"},      // a letter never ends a field
      {"|<T>|", "\\", "|F|"},
      {";<T>;x;", "\\", ";F;x;"},
      {"|<T>|<T>", "\\", "|F\\|F\\"},  // not enclosed by its delimiter
      {"<t>x", "/", "F/x"},
      {"<T>x", "", "Fx"},
      {"x", "\\", "x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceDirToken(c.s, "<T>", "F", c.separator), c.expected) << c.s;
}

TEST(PathMacros, DateTokens) {
  MacroClock clock;
  clock.now = {2019, 3, 5, 14, 7, 9, 0};
  clock.dateSeparator = '.';
  clock.timeSeparator = '.';
  clock.monthName = "March";
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"<Date=#>", "05.March.2019"},
      {"<Date=0>", "7003"},
      {"<Date=1>", "05-03-19"},
      {"<Date=2>", "03-05-19"},
      {"<Date=3>", "19-03-05"},
      {"<Date=4>", "05-03-2019"},
      {"<Date=5>", "03-05-2019"},
      {"<Date=6>", "2019-03-05"},
      {"<Date=7>", "2019-03-05 14.07.09"},
      {"log_<date=6>.txt", "log_2019-03-05.txt"},
      {"<Date=1><Date=2>", "05-03-19<Date=2>"},
      {"<Date=8>", "<Date=8>"},
      {"<Date=9>", "<Date=9>"},
      {"<Date=", "<Date="},
      {"<Date=1", "<Date=1"},
      // A code not closed at once is no token; nothing of the text is eaten.
      {"<Date=12>", "<Date=12>"},
      {"<Date=1 x>", "<Date=1 x>"},
      {"<Date=1x", "<Date=1x"},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandDateToken(c.text, clock), c.expected) << c.text;

  // The date and the time each take their own separator.
  clock.dateSeparator = '/';
  clock.timeSeparator = ':';
  EXPECT_EQ(ExpandDateToken("<Date=7>", clock), "2019-03-05 14:07:09");
  EXPECT_EQ(ExpandDateToken("<Date=#>", clock), "05/March/2019");

  clock.now = {2000, 1, 2, 23, 59, 59, 0};
  EXPECT_EQ(ExpandDateToken("<Date=0>", clock), "1");
  clock.now = {2000, 1, 1, 0, 0, 0, 0};
  EXPECT_EQ(ExpandDateToken("<Date=0>", clock), "0");
  clock.now = {2004, 3, 1, 0, 0, 0, 0};  // across two leap days
  EXPECT_EQ(ExpandDateToken("<Date=0>", clock), "1521");
}

TEST(PathMacros, NormalizeDotsExpandsOnlyWhatHoldsDots) {
  struct Case {
    std::string text, expected;
    std::vector<std::string> expanded;
  } cases[] = {
      {"C:\\a\\b.exe", "C:\\a\\b.exe", {}},
      {"C:\\a..b\\c", "C:\\a..b\\c", {}},
      {"C:\\a\\b\\..\\c.exe", "[C:\\a\\b\\..\\c.exe]", {"C:\\a\\b\\..\\c.exe"}},
      {"..\\c.exe", "[..\\c.exe]", {"..\\c.exe"}},
      {"|C:\\a\\..\\b|x|", "|[C:\\a\\..\\b]|x|", {"C:\\a\\..\\b"}},
      {",x,y\\..\\z,..\\w,", ",x,[y\\..\\z],[..\\w],", {"y\\..\\z", "..\\w"}},
      // Not closed by its delimiter: no fields, so the whole text.
      {"|C:\\a\\..\\b", "[|C:\\a\\..\\b]", {"|C:\\a\\..\\b"}},
  };
  for (const auto& c : cases) {
    FakeMachine machine;
    EXPECT_EQ(NormalizeDots(c.text, machine.Sources().fullPath), c.expected) << c.text;
    EXPECT_EQ(machine.fullPathCalls, c.expanded) << c.text;
  }

  const auto fails = [](const std::string&) { return std::string(); };
  EXPECT_EQ(NormalizeDots("C:\\a\\..\\b", fails), "C:\\a\\..\\b");
  EXPECT_EQ(NormalizeDots("|C:\\a\\..\\b|", fails), "|C:\\a\\..\\b|");

  // Also after the expansion, and on a text without macros.
  FakeMachine machine;
  EXPECT_EQ(machine.Expand("<InstallDir>..\\x.exe"), "[D:\\Apps\\..\\x.exe]");
  EXPECT_EQ(machine.Expand("a\\..\\b"), "[a\\..\\b]");
}

TEST(PathMacros, EveryFolderIsLookedUpOnEachExpansion) {
  // The shell's lookups create missing standard folders; settings written
  // for this expander may count on that, whichever token they name.
  for (const std::string text : {"<InstallDir>x.exe", "<LoggedUserName>", "<Foo>"}) {
    FakeMachine machine;
    machine.Expand(text);
    for (int v = static_cast<int>(MacroValue::WindowsDir); v <= static_cast<int>(MacroValue::AllUsersDesktopDir); ++v)
      EXPECT_GE(machine.asked[static_cast<MacroValue>(v)], 1) << text << " value " << v;
  }
}

TEST(PathMacros, RunTimeSlotsAreEmptyAndLookedAtOnlyWhenNamed) {
  for (int slot = 0; slot <= kRunTimeDirSlots + 1; ++slot) {
    EXPECT_EQ(RunTimeDirSlot(slot), "") << slot;
    EXPECT_EQ(RunTimeDirSlot(slot), "") << slot;
  }
  FakeMachine machine;
  machine.slots[3] = "";
  EXPECT_EQ(machine.Expand("<RunTimeDir_3>"), "");
  EXPECT_EQ(machine.slotCalls, 1);
  EXPECT_EQ(machine.Expand("<TempDir>"), "C:\\Temp");
  EXPECT_EQ(machine.slotCalls, 1);
}

TEST(PathMacros, OriginIsTheStartedPathKeptOnceKnown) {
  SetProcessCommandLine("\"C:\\t\\X_agent.exe\" /hide", "C:\\t\\X_agent.exe");
  EXPECT_EQ(OriginExePath(), "C:\\t\\X_agent.exe");

  SetProcessCommandLine("\"C:\\t\\X_agent.exe\" /OriginExe=\"D:\\Prog\\agent.exe\" /hide", "C:\\t\\X_agent.exe");
  EXPECT_EQ(OriginExePath(), "D:\\Prog\\agent.exe");
  EXPECT_EQ(OriginDir(), "D:\\Prog");

  SetProcessCommandLine("\"C:\\t\\X_agent.exe\" /OriginExe=\"E:\\Other\\agent.exe\"", "C:\\t\\X_agent.exe");
  EXPECT_EQ(OriginExePath(), "D:\\Prog\\agent.exe");
  EXPECT_EQ(OriginDir(), "D:\\Prog");
}

}  // namespace
}  // namespace havrek
