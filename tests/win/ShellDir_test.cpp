#include "environment/ShellDirWin.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "environment/PathMacrosWin.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

TEST(ShellDirWin, TheShellAnswersWithExistingFolders) {
  for (int id : {kFolderPersonal, kFolderAppData, kFolderLocalAppData, kFolderCommonAppData, kFolderCommonDocuments}) {
    const std::string folder = FolderPath(id);
    EXPECT_TRUE(DirExists(folder)) << std::hex << id << ": " << folder;
  }
  for (int id : {kFolderStartMenu, kFolderCommonStartMenu, kFolderPrograms, kFolderCommonPrograms, kFolderDesktop,
                 kFolderCommonDesktop}) {
    const std::string folder = SpecialFolder(id);
    EXPECT_TRUE(DirExists(folder)) << id << ": " << folder;
  }
  EXPECT_EQ(FolderPath(0x7FFF), "");
  EXPECT_EQ(SpecialFolder(0x7FFF), "");
}

TEST(ShellDirWin, DirExistsOnlyForFolders) {
  EXPECT_FALSE(DirExists(""));
  EXPECT_TRUE(DirExists(WindowsDir(false)));
  EXPECT_TRUE(DirExists(WindowsDir(true)));
  EXPECT_FALSE(DirExists(ExePath()));
  EXPECT_FALSE(DirExists(WindowsDir(true) + "no such folder"));
}

using Folder = std::string (*)(bool);

TEST(ShellDirWin, EveryFolderExistsAndFollowsTheTrailingFlag) {
  const Folder folders[] = {&UserDir,           &DocumentsAndSettingsDir, &AllUsersDir,
                            &UserAppDataDir,    &UserLocalAppDataDir,     &AllUsersAppDataDir,
                            &MyDocumentsDir,    &AllUsersDocumentsDir,    &UserStartMenuDir,
                            &AllUsersStartMenuDir, &UserStartProgramMenuDir, &AllUsersStartProgramMenuDir,
                            &UserDesktopDir,    &AllUsersDesktopDir,      &System16Dir,
                            &FontFolder,        &ProgramFilesFolder,      &CommonFilesFolder};
  for (Folder folder : folders) {
    const std::string without = folder(false);
    EXPECT_TRUE(DirExists(without)) << without;
    EXPECT_NE(without.back(), '\\') << without;
    EXPECT_EQ(folder(true), without + "\\");
  }
  // The user's folders lie under the profile folders.
  EXPECT_TRUE(StartsWith(UserDir(true), MyDocumentsDir(false), true));
  EXPECT_TRUE(StartsWith(DocumentsAndSettingsDir(true), UserDir(false), true));
  EXPECT_TRUE(SameText(System16Dir(false), WindowsDir(true) + "system"));
}

TEST(PathMacrosWin, TokensExpandToTheMachinesFolders) {
  InitProcessCommandLine();
  SetInstallFolders("C:\\Apps", "", "");
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"<WinDir>", WindowsDir(false)},
      {"<WinSysDir>x.dll", SystemDir(true) + "x.dll"},
      {"<TempDir>", TempDir(false)},
      {"<SrcDir>\\a.exe", ExeDir(true) + "a.exe"},
      {"<OriginDir>", ExeDir(false)},
      {"<UserAppDataDir>\\x.ini", UserAppDataDir(true) + "x.ini"},
      {"<AllUsersDesktopDir>a.lnk", AllUsersDesktopDir(true) + "a.lnk"},
      {"<ProgramFilesDir>", ProgramFilesFolder(false)},
      {"<FontDir>", FontFolder(false)},
      {"<ComputerName>", ComputerName()},
      {"<LoggedUserName>", CurrentUserName()},
      {"<InstallDir>\\bin\\..\\x.exe", "C:\\Apps\\x.exe"},
      {"<RunTimeDir_2>", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExpandMacros(c.text, "\\"), c.expected) << c.text;

  SYSTEMTIME now;
  ::GetLocalTime(&now);
  char month[128] = {};
  ASSERT_GT(::GetDateFormatA(LOCALE_USER_DEFAULT, 0, &now, "MMMM", month, sizeof month), 0);
  const std::string year = IntText(now.wYear);
  EXPECT_TRUE(StartsWith(year + "-", ExpandMacros("<Date=6>", "\\"), false));
  const std::string dated = ExpandMacros("<Date=#>", "\\");
  EXPECT_NE(dated.find(month), std::string::npos) << dated;
  EXPECT_TRUE(EndsWith(year, dated, false)) << dated;
}

TEST(PathMacrosWin, NormalizeDotsResolvesWithThePlatform) {
  const std::string deep = "C:\\" + std::string(300, 'x') + "\\" + std::string(300, 'y');
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"C:\\a\\b\\..\\c.exe", "C:\\a\\c.exe"},
      {"C:\\a\\.\\b\\..\\..\\c", "C:\\c"},
      {"|C:\\a\\..\\b|x|", "|C:\\b|x|"},
      {"C:\\a\\b.exe", "C:\\a\\b.exe"},
      // Beyond what the ANSI functions take: kept as written, never cut.
      {deep + "\\..\\z.exe", deep + "\\..\\z.exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeDots(c.text), c.expected) << c.text.substr(0, 40);

  char current[MAX_PATH] = {};
  ASSERT_GT(::GetCurrentDirectoryA(MAX_PATH, current), 0u);
  EXPECT_TRUE(SameText(NormalizeDots("..\\q.txt"), FileDirPart(RemoveTrailingBackslash(current)) + "q.txt"));
}

}  // namespace
}  // namespace havrek
