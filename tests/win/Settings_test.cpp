#include "agent/Settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "files/Files.h"
#include "package/SLangId.h"
#include "util/Utils.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::string TestInfoName() { return "http://example.test/dl/Tool.setup.info"; }

// The agent "lives" in a folder of its own (with a blank in its name), so the
// settings files are real files beside a pretended executable.
class SettingsWin : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    dir_ = TempDir(true) + "havrek settings " + std::to_string(::GetCurrentProcessId()) + "\\";
    DeleteTree(dir_, true);
    ASSERT_TRUE(::CreateDirectoryA(dir_.c_str(), nullptr));
    SetProcessCommandLine("\"" + dir_ + "Agent.exe\"", dir_ + "Agent.exe");
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
  }
  void TearDown() override {
    SetSettingsIni(SettingsIni());
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetProcessCommandLine(savedCommandLine_, savedExe_);
    DeleteTree(dir_, true);
  }

  // The profile functions, on files named by a test update record.
  static void BindToTestFiles() {
    SettingsIni ini;
    ini.read = &ReadIniString;
    ini.write = &WriteIniString;
    ini.infoName = &TestInfoName;
    SetSettingsIni(ini);
  }

  std::string dir_, savedCommandLine_, savedExe_;
};

TEST_F(SettingsWin, TheBindingWritesTheOriginalFileBesideTheExecutable) {
  // The test process carries no package, so the update record's .info name
  // is empty and the .original file is plain ".original".
  BindSettingsToIniFiles();
  ASSERT_EQ(GetOriginalFileName(), dir_ + ".original");
  EXPECT_EQ(GetVersionOriginal(), 0);  // no file yet

  SetProbeSecondsLast(3456000000);  // 06-JUL-2009 00:00:00 local time
  SetVersionOriginal(12);
  SetProbeSecondsInterval(-1);
  const std::string text = ReadFileText(dir_ + ".original");
  EXPECT_NE(text.find("[OriginalSetup]"), std::string::npos) << text;
  EXPECT_NE(text.find("ProbeSecondsLast=3456000000\r\n"), std::string::npos) << text;
  const std::string twin = "__ProbeSecondsLast=06-JUL-2009 00" + std::string(1, plat::TimeSeparator()) + "00" +
                           std::string(1, plat::TimeSeparator()) + "00\r\n";
  EXPECT_NE(text.find(twin), std::string::npos) << text;

  EXPECT_EQ(GetProbeSecondsLast(), 3456000000);
  EXPECT_EQ(GetVersionOriginal(), 12);
  EXPECT_EQ(GetProbeSecondsInterval(), -1);
}

TEST_F(SettingsWin, ReadsWhatTheSetupEngineAndTheWebSiteWrote) {
  BindToTestFiles();
  ASSERT_EQ(GetInfoFileName(), dir_ + "Tool.setup.info");
  ASSERT_EQ(GetOriginalFileName(), dir_ + "Tool.original");
  EXPECT_EQ(GetAUText("s3"), "File Download Aborted!");  // no files yet: defaults
  EXPECT_EQ(GetAutoInformW(), 360);

  ASSERT_TRUE(WriteFileText(dir_ + "Tool.original",
                            "[OriginalSetup]\r\nVersionOriginal=3\r\nProgramName=Tool\r\n"
                            "[UnInstall]\r\nStartUpLink=C:\\Links\\Tool.lnk\r\n"
                            "[MsgBox]\r\nFontName=Arial\r\nFontSize=10\r\nBtnText=|&OK|&Abbrechen|\r\n"
                            "[AutoUpdate]\r\ns14=Install PROG_NAME <b>now</b>?\r\n"));
  ASSERT_TRUE(WriteFileText(dir_ + "Tool.setup.info",
                            "[NewSetup]\r\nDownloadURL_UPDATE=http://example.test/dl/\r\n"
                            "NameOfUpdateFile=ToolUpdate.exe\r\nSizeOfUpdateFile=5000000000\r\n"
                            "RequestConfirmationBeforeDownload=true\r\nBackgroundUpdate=1\r\n"
                            "RemoveStartUpShortcut=1\r\nVersionNew=4\r\nShutDownMethod=Using WM_CLOSE\r\n"
                            "[AutoInform]\r\nAutoInformW=640\r\n"));
  EXPECT_EQ(GetVersionOriginal(), 3);
  EXPECT_EQ(GetOriginalProgramName(), "Tool");
  EXPECT_EQ(GetStartUpLink(), "C:\\Links\\Tool.lnk");
  EXPECT_EQ(GetMsgBoxFontName(), "Arial");
  EXPECT_EQ(GetMsgBoxFontSize(), 10);
  EXPECT_EQ(GetMsgBoxBtnText(), "|&OK|&Abbrechen|");
  EXPECT_EQ(GetMsgBoxError(), "Error");
  EXPECT_EQ(GetAUText("s14"), "Install PROG_NAME <b>now</b>?");
  EXPECT_EQ(GetAUText("s3"), "File Download Aborted!");
  EXPECT_EQ(GetDownloadURL_UPDATE(), "http://example.test/dl/");
  EXPECT_EQ(GetNameOfUpdateFile(), "ToolUpdate.exe");
  EXPECT_EQ(GetSizeOfUpdateFile(), 5000000000);
  EXPECT_FALSE(GetAUOption(auoConfirmDownload));  // "true" is not "1"
  EXPECT_TRUE(GetAUOption(auoBackgroundUpdate));
  EXPECT_TRUE(GetRemoveStartUpShortcut());
  EXPECT_FALSE(GetRemoveCheckForNewUpdateShortcut());
  EXPECT_EQ(GetVersionNew(), 4);
  EXPECT_EQ(GetShutDownMethod(), "Using WM_CLOSE");
  EXPECT_EQ(GetAutoInformW(), 640);
  EXPECT_EQ(GetAutoInformH(), 360);

  SetAUOptionOverride(auoBackgroundUpdate, 0);
  EXPECT_FALSE(GetAUOption(auoBackgroundUpdate));

  // A freshly fetched .info file counts at once.
  ASSERT_TRUE(WriteFileText(dir_ + "Tool.setup.info", "[NewSetup]\r\nVersionNew=5\r\n"));
  EXPECT_EQ(GetVersionNew(), 5);
  EXPECT_EQ(GetNameOfUpdateFile(), "");

  // Writes keep what the engine wrote.
  SetReAskSecondsLast(3456000000 + 3600);
  SetOriginalStamp(77);
  EXPECT_EQ(GetReAskSecondsLast(), 3456000000 + 3600);
  EXPECT_EQ(GetOriginalStamp(), 77);
  EXPECT_EQ(GetAUText("s14"), "Install PROG_NAME <b>now</b>?");
  EXPECT_EQ(ReadIniString(dir_ + "Tool.original", "OriginalSetup", "__ReAskSecondsLast", ""),
            "06-JUL-2009 01" + std::string(1, plat::TimeSeparator()) + "00" + std::string(1, plat::TimeSeparator()) +
                "00");
}

TEST(SLangIdWin, SystemLanguageIsAPrimaryIdentifierWithAName) {
  // A whole locale identifier (1033 and the like) names no table row.
  const int saved = SystemPrimaryLanguage();
  InstallSystemLanguage();
  EXPECT_LT(SystemPrimaryLanguage(), 0x400);
  EXPECT_NE(LanguageNameForId(SystemPrimaryLanguage()), "") << SystemPrimaryLanguage();
  SetSystemPrimaryLanguage(saved);
}

}  // namespace
}  // namespace havrek
