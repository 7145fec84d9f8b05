#include "agent/Settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "diag/HDebug.h"
#include "util/Utils.h"
#include "MemoryIni.h"

namespace havrek {
namespace {

std::map<test::IniKey, std::string>& files = test::MemoryIniFiles();

const std::string kDir = "C:\\Program Files\\Tool\\";
const std::string kOriginal = kDir + "Tool.original";
const std::string kInfo = kDir + "Tool.setup.info";

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    SetProcessCommandLine("\"" + kDir + "Agent.exe\"", kDir + "Agent.exe");
    test::BindMemoryIni("http://example.test/dl\\Tool.setup.info");
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
  }
  void TearDown() override {
    SetSettingsIni(SettingsIni());
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetAutoProbeEnabled(true);
    SetProcessCommandLine(savedCommandLine_, savedExe_);
  }

  static void Original(const std::string& section, const std::string& key, const std::string& value) {
    files[{kOriginal, section, key}] = value;
  }
  static void Info(const std::string& section, const std::string& key, const std::string& value) {
    files[{kInfo, section, key}] = value;
  }
  static std::string Written(const std::string& key) {
    const auto it = files.find({kOriginal, "OriginalSetup", key});
    return it == files.end() ? "<none>" : it->second;
  }

  std::string savedCommandLine_, savedExe_;
};

TEST_F(SettingsTest, FileNamesComeFromTheInfoNameInTheAgentsFolder) {
  EXPECT_EQ(GetInfoFileName(), kInfo);
  EXPECT_EQ(GetOriginalFileName(), kOriginal);
  const struct {
    const char* field;
    const char* info;
    const char* original;
  } cases[] = {
      {"C:\\x\\Tool.setup.info", "D:\\a\\Tool.setup.info", "D:\\a\\Tool.original"},
      {"Editor.info", "D:\\a\\Editor.info", "D:\\a\\Editor.original"},
      {"Editor.main.info", "D:\\a\\Editor.main.info", "D:\\a\\Editor.original"},
      {"http://h/x/.info", "D:\\a\\.info", "D:\\a\\.original"},
      {"", "D:\\a\\", "D:\\a\\.original"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InfoFileNameIn("D:\\a", c.field), c.info) << c.field;
    EXPECT_EQ(OriginalFileNameIn("D:\\a\\", c.field), c.original) << c.field;
  }
}

// Each getter as text, so one table covers every kind.
struct Getter {
  const char* name;
  std::function<std::string()> get;
  std::string def;
};

template <typename T>
std::function<std::string()> AsText(T (*f)()) {
  return [f] {
    if constexpr (std::is_same_v<T, std::string>) return f();
    else if constexpr (std::is_same_v<T, bool>) return std::string(f() ? "yes" : "no");
    else return IntText(f());
  };
}

TEST_F(SettingsTest, EveryGetterHasItsDefault) {
  const Getter getters[] = {
      {"ProbeSecondsInterval", AsText(&GetProbeSecondsInterval), "0"},
      {"ProbeSecondsLast", AsText(&GetProbeSecondsLast), "0"},
      {"ReAskSecondsInterval", AsText(&GetReAskSecondsInterval), "0"},
      {"ReAskSecondsLast", AsText(&GetReAskSecondsLast), "0"},
      {"VersionOriginal", AsText(&GetVersionOriginal), "0"},
      {"Stamp", AsText(&GetOriginalStamp), "0"},
      {"ProgramName", AsText(&GetOriginalProgramName), ""},
      {"TargetDir", AsText(&GetTargetDir), ""},
      {"SharedDir", AsText(&GetSharedDir), ""},
      {"AuxiliaryDir", AsText(&GetAuxiliaryDir), ""},
      {"StartUpLink", AsText(&GetStartUpLink), ""},
      {"CheckforNewUpdateLink", AsText(&GetCheckforNewUpdateLink), ""},
      {"BtnText", AsText(&GetMsgBoxBtnText), "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"},
      {"Error", AsText(&GetMsgBoxError), "Error"},
      {"Confirm", AsText(&GetMsgBoxConfirm), "Confirm"},
      {"Attention", AsText(&GetMsgBoxAttention), "Attention"},
      {"CharSet", AsText(&GetMsgBoxCharSet), "0"},
      {"FontName", AsText(&GetMsgBoxFontName), "Tahoma"},
      {"FontSize", AsText(&GetMsgBoxFontSize), "8"},
      {"DownloadURL_UPDATE", AsText(&GetDownloadURL_UPDATE), ""},
      {"NameOfUpdateFile", AsText(&GetNameOfUpdateFile), ""},
      {"SizeOfUpdateFile", AsText(&GetSizeOfUpdateFile), "0"},
      {"RequestConfirmationBeforeDownload", AsText(&GetRequestConfirmationBeforeDownload), "no"},
      {"RequestConfirmationBeforeDownloadForce", AsText(&GetRequestConfirmationBeforeDownloadForce), "no"},
      {"RequestConfirmationBeforeInstall", AsText(&GetRequestConfirmationBeforeInstall), "no"},
      {"RequestConfirmationBeforeInstallForce", AsText(&GetRequestConfirmationBeforeInstallForce), "no"},
      {"BackgroundUpdate", AsText(&GetBackgroundUpdate), "no"},
      {"RestartProcess", AsText(&GetRestartProcess), "no"},
      {"InformFinish", AsText(&GetInformFinish), "no"},
      {"ShutDownMethod", AsText(&GetShutDownMethod), ""},
      {"RunningProcess", AsText(&GetRunningProcess), ""},
      {"ProgramName (.info)", AsText(&GetInfoProgramName), ""},
      {"VersionNew", AsText(&GetVersionNew), "0"},
      {"Stamp (.info)", AsText(&GetInfoStamp), "0"},
      {"ValidVersions", AsText(&GetValidVersions), ""},
      {"RemoveStartUpShortcut", AsText(&GetRemoveStartUpShortcut), "no"},
      {"RemoveCheckForNewUpdateShortcut", AsText(&GetRemoveCheckForNewUpdateShortcut), "no"},
      {"AutoInform", AsText(&GetAutoInform), "0"},
      {"DownloadURL_INFORM", AsText(&GetDownloadURL_INFORM), ""},
      {"NameOfInformFile", AsText(&GetNameOfInformFile), ""},
      {"SizeOfInformFile", AsText(&GetSizeOfInformFile), "0"},
      {"AutoInformW", AsText(&GetAutoInformW), "360"},
      {"AutoInformH", AsText(&GetAutoInformH), "360"},
  };
  for (const Getter& g : getters) EXPECT_EQ(g.get(), g.def) << g.name;
  // Unbound (before start-up binds the files) reads the same defaults.
  SetSettingsIni(SettingsIni());
  for (const Getter& g : getters) EXPECT_EQ(g.get(), g.def) << g.name << " unbound";
  SetProbeSecondsLast(5);  // goes nowhere, and does not crash
}

TEST_F(SettingsTest, GettersReadTheirSectionAndKey) {
  const struct {
    bool original;
    const char* section;
    const char* key;
    const char* value;
    std::function<std::string()> get;
    const char* expected;
  } cases[] = {
      {true, "OriginalSetup", "ProbeSecondsInterval", "-1", AsText(&GetProbeSecondsInterval), "-1"},
      {true, "OriginalSetup", "ProbeSecondsLast", "3455827200", AsText(&GetProbeSecondsLast), "3455827200"},
      {true, "OriginalSetup", "ReAskSecondsInterval", " 86400 ", AsText(&GetReAskSecondsInterval), "86400"},
      {true, "OriginalSetup", "ReAskSecondsLast", "12x", AsText(&GetReAskSecondsLast), "0"},
      {true, "OriginalSetup", "VersionOriginal", "4294967297", AsText(&GetVersionOriginal), "1"},  // low 32 bits
      {true, "OriginalSetup", "Stamp", "4294967295", AsText(&GetOriginalStamp), "-1"},
      {true, "OriginalSetup", "ProgramName", "Tool 2", AsText(&GetOriginalProgramName), "Tool 2"},
      {true, "OriginalSetup", "OfferSignedLast", "2027-01-15T08:00:00Z", AsText(&GetOfferSignedLast), "1800000000"},
      {true, "OriginalSetup", "OfferSignedLast", "1800000000", AsText(&GetOfferSignedLast), "0"},  // no UTC time
      {true, "Directories", "TargetDir", "C:\\T", AsText(&GetTargetDir), "C:\\T"},
      {true, "Directories", "SharedDir", "C:\\S", AsText(&GetSharedDir), "C:\\S"},
      {true, "Directories", "AuxiliaryDir", "C:\\A", AsText(&GetAuxiliaryDir), "C:\\A"},
      {true, "UnInstall", "StartUpLink", "C:\\s.lnk", AsText(&GetStartUpLink), "C:\\s.lnk"},
      {true, "UnInstall", "CheckforNewUpdateLink", "C:\\c.lnk", AsText(&GetCheckforNewUpdateLink), "C:\\c.lnk"},
      {true, "MsgBox", "BtnText", "|O|C|", AsText(&GetMsgBoxBtnText), "|O|C|"},
      {true, "MsgBox", "Error", "Fehler", AsText(&GetMsgBoxError), "Fehler"},
      {true, "MsgBox", "Confirm", "Frage", AsText(&GetMsgBoxConfirm), "Frage"},
      {true, "MsgBox", "Attention", "Achtung", AsText(&GetMsgBoxAttention), "Achtung"},
      {true, "MsgBox", "CharSet", "204", AsText(&GetMsgBoxCharSet), "204"},
      {true, "MsgBox", "FontName", "Arial", AsText(&GetMsgBoxFontName), "Arial"},
      {true, "MsgBox", "FontSize", "big", AsText(&GetMsgBoxFontSize), "8"},
      {false, "NewSetup", "DownloadURL_UPDATE", "http://h/u/", AsText(&GetDownloadURL_UPDATE), "http://h/u/"},
      {false, "NewSetup", "NameOfUpdateFile", "up.exe", AsText(&GetNameOfUpdateFile), "up.exe"},
      {false, "NewSetup", "SizeOfUpdateFile", "5000000000", AsText(&GetSizeOfUpdateFile), "5000000000"},
      {false, "NewSetup", "SHA256OfUpdateFile", "AB12", AsText(&GetSHA256OfUpdateFile), "AB12"},
      {false, "NewSetup", "ShutDownMethod", "Using WM_CLOSE", AsText(&GetShutDownMethod), "Using WM_CLOSE"},
      {false, "NewSetup", "RunningProcess", "<TARGETDIR>\\t.exe", AsText(&GetRunningProcess), "<TARGETDIR>\\t.exe"},
      {false, "NewSetup", "ProgramName", "Tool 3", AsText(&GetInfoProgramName), "Tool 3"},
      {false, "NewSetup", "VersionNew", "-3", AsText(&GetVersionNew), "-3"},
      {false, "NewSetup", "Stamp", "77", AsText(&GetInfoStamp), "77"},
      {false, "NewSetup", "ValidVersions", "1,2", AsText(&GetValidVersions), "1,2"},
      {false, "NewSetup", "RemoveStartUpShortcut", "1", AsText(&GetRemoveStartUpShortcut), "yes"},
      {false, "NewSetup", "RemoveCheckForNewUpdateShortcut", "1", AsText(&GetRemoveCheckForNewUpdateShortcut), "yes"},
      {false, "NewSetup", "BackgroundUpdate", "1", AsText(&GetBackgroundUpdate), "yes"},
      {false, "General", "AutoInform", "1", AsText(&GetAutoInform), "1"},
      {false, "AutoInform", "DownloadURL_INFORM", "http://h/i", AsText(&GetDownloadURL_INFORM), "http://h/i"},
      {false, "AutoInform", "NameOfInformFile", "page.txt", AsText(&GetNameOfInformFile), "page.txt"},
      {false, "AutoInform", "SizeOfInformFile", "123", AsText(&GetSizeOfInformFile), "123"},
      {false, "AutoInform", "SHA256OfInformFile", "cd34", AsText(&GetSHA256OfInformFile), "cd34"},
      {false, "AutoInform", "AutoInformW", "640", AsText(&GetAutoInformW), "640"},
      {false, "AutoInform", "AutoInformH", "480", AsText(&GetAutoInformH), "480"},
  };
  for (const auto& c : cases) {
    files.clear();
    const std::string def = c.get();
    (c.original ? Original : Info)(c.section, c.key, c.value);
    EXPECT_EQ(c.get(), c.expected) << c.section << "/" << c.key;
    // The same key in the other file or another section is not read.
    files.clear();
    (c.original ? Info : Original)(c.section, c.key, c.value);
    Original("Elsewhere", c.key, c.value);
    EXPECT_EQ(c.get(), def) << c.section << "/" << c.key << " in the wrong place";
  }
}

std::string noted;

// The font values are read at every tick: a note per read would write
// megabytes a day.
TEST_F(SettingsTest, ANumberThatDoesNotParseIsNotedOncePerValue) {
  noted.clear();
  SetDebugTarget([](const std::string& piece) { noted += piece; });
  const auto count = [](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = noted.find(what); at != std::string::npos; at = noted.find(what, at + 1)) ++n;
    return n;
  };
  Original("MsgBox", "FontSize", "eight-and-a-half");
  Original("MsgBox", "CharSet", "western-once");
  for (int tick = 0; tick < 5; ++tick) {
    EXPECT_EQ(GetMsgBoxFontSize(), 8);
    EXPECT_EQ(GetMsgBoxCharSet(), 0);
  }
  EXPECT_EQ(count("FontSize=\"eight-and-a-half\" is no number, 8 used"), 1u) << noted;
  EXPECT_EQ(count("CharSet=\"western-once\" is no number, 0 used"), 1u) << noted;
  // Another wrong value is news.
  Original("MsgBox", "FontSize", "nine-ish");
  EXPECT_EQ(GetMsgBoxFontSize(), 8);
  EXPECT_EQ(count("FontSize=\"nine-ish\" is no number"), 1u) << noted;
  SetDebugTarget(nullptr);
}

TEST_F(SettingsTest, YesIsExactlyOne) {
  const struct {
    const char* value;
    bool yes;
  } cases[] = {{"1", true}, {"0", false}, {"", false}, {" 1", false}, {"1 ", false},
               {"01", false}, {"true", false}, {"yes", false}, {"2", false}};
  for (const auto& c : cases) {
    Info("NewSetup", "RequestConfirmationBeforeDownload", c.value);
    EXPECT_EQ(GetRequestConfirmationBeforeDownload(), c.yes) << "'" << c.value << "'";
    EXPECT_EQ(GetAUOption(auoConfirmDownload), c.yes) << "'" << c.value << "'";
  }
}

TEST_F(SettingsTest, SettersWriteDecimalText) {
  SetProbeSecondsInterval(-1);
  SetReAskSecondsInterval(604800);
  SetVersionOriginal(-7);
  SetOriginalStamp(2147483647);
  EXPECT_EQ(Written("ProbeSecondsInterval"), "-1");
  EXPECT_EQ(Written("ReAskSecondsInterval"), "604800");
  EXPECT_EQ(Written("VersionOriginal"), "-7");
  EXPECT_EQ(Written("Stamp"), "2147483647");
  EXPECT_EQ(GetProbeSecondsInterval(), -1);
  EXPECT_EQ(GetVersionOriginal(), -7);
  EXPECT_EQ(GetOriginalStamp(), 2147483647);
  EXPECT_EQ(files.size(), 4u);  // no readable twins for these
}

TEST_F(SettingsTest, TimePairsWriteTheirReadableTwin) {
  const auto seconds = [](int y, int mo, int d, int h, int mi, int s) {
    plat::LocalTime t;
    t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
    return static_cast<std::int64_t>(LocalTimeToDays(t) * 86400.0 + 0.5);
  };
  const std::int64_t july = seconds(2009, 7, 6, 0, 0, 0);
  ASSERT_EQ(july, 3456000000);  // day 40000
  SetProbeSecondsLast(july);
  EXPECT_EQ(Written("ProbeSecondsLast"), "3456000000");
  EXPECT_EQ(Written("__ProbeSecondsLast"), "06-JUL-2009 00:00:00");
  EXPECT_EQ(GetProbeSecondsLast(), july);

  const std::int64_t evening = seconds(2024, 12, 31, 23, 59, 59);
  SetReAskSecondsLast(evening);
  EXPECT_EQ(Written("ReAskSecondsLast"), IntText(evening));
  EXPECT_EQ(Written("__ReAskSecondsLast"), "31-DEC-2024 23:59:59");
  EXPECT_EQ(GetReAskSecondsLast(), evening);
  EXPECT_EQ(Written("__ProbeSecondsLast"), "06-JUL-2009 00:00:00");  // the other pair untouched
}

TEST_F(SettingsTest, TheNewestAcceptedSigningTimeIsWrittenAsUtcText) {
  SetOfferSignedLast(1800000000);
  EXPECT_EQ(Written("OfferSignedLast"), "2027-01-15T08:00:00Z");
  EXPECT_EQ(GetOfferSignedLast(), 1800000000);
}

TEST_F(SettingsTest, AgentTextsComeFromAutoUpdateOfTheOriginalFile) {
  Original("AutoUpdate", "s14", "Install PROG_NAME now?");
  Original("AutoUpdate", "s3", "Abgebrochen!");
  Info("AutoUpdate", "s16", "from the wrong file");
  EXPECT_EQ(GetAUText("s14", ""), "Install PROG_NAME now?");
  EXPECT_EQ(GetAUText("s3"), "Abgebrochen!");
  EXPECT_EQ(GetAUText("s16"), "");
  EXPECT_EQ(GetAUText("s16", "fallback"), "fallback");
  const struct {
    const char* key;
    const char* text;
  } defaults[] = {{"s2", ""},
                  {"s3", "File Download Aborted!"},
                  {"s4", "File not Found!"},
                  {"s5", "Unable to Download File!"},
                  {"s11", ""},
                  {"s31", "Downloading INFO File..."},
                  {"s32", "Downloading UPDATE File..."},
                  {"s33", "Downloading INFORM File..."},
                  {"s34", "New Version"},
                  {"s35", "Download"}};
  files.clear();
  for (const auto& d : defaults) EXPECT_EQ(GetAUText(d.key), d.text) << d.key;
}

TEST_F(SettingsTest, OverrideBytesDecideBeforeTheInfoFile) {
  const struct {
    std::uint8_t byte;
    const char* file;
    bool yes;
  } cases[] = {{255, "1", true}, {255, "0", false}, {1, "0", true}, {0, "1", false}, {2, "1", false}, {254, "1", false}};
  const struct {
    int option;
    const char* key;
  } options[] = {{auoConfirmDownload, "RequestConfirmationBeforeDownload"},
                 {auoConfirmInstall, "RequestConfirmationBeforeInstall"},
                 {auoBackgroundUpdate, "BackgroundUpdate"},
                 {auoInformFinish, "InformFinish"},
                 {auoRestartProcess, "RestartProcess"},
                 {auoForcedDownloadNotice, "RequestConfirmationBeforeDownloadForce"},
                 {auoForcedInstallNotice, "RequestConfirmationBeforeInstallForce"}};
  for (const auto& o : options) {
    for (const auto& c : cases) {
      files.clear();
      Info("NewSetup", o.key, c.file);
      std::string bytes = "|";
      for (int i = 0; i < AUOptionCount; ++i) bytes += (i == o.option ? IntText(c.byte) : "255") + "|";
      AUOptionsFromText(bytes);
      EXPECT_EQ(GetAUOption(o.option), c.yes) << o.key << " byte " << int{c.byte} << " file " << c.file;
    }
  }
  // Option 0 has no key: only its byte can make it yes.
  EXPECT_FALSE(GetAUOption(auoAskBeforeProbe));
  SetAUOptionOverride(auoAskBeforeProbe, 1);
  EXPECT_TRUE(GetAUOption(auoAskBeforeProbe));
  EXPECT_FALSE(GetAUOption(-1));
  EXPECT_FALSE(GetAUOption(AUOptionCount));
}

TEST_F(SettingsTest, OverrideTextRoundTrips) {
  EXPECT_EQ(AUOptionsToText(), "|255|255|255|255|255|255|255|255|");
  AUOptionsFromText("|1|0|");
  EXPECT_EQ(AUOptionsToText(), "|1|0|255|255|255|255|255|255|");

  AUOptionsFromText("|255|255|1|255|255|0|255|255|");
  EXPECT_EQ(AUOptionsToText(), "|255|255|1|255|255|0|255|255|");
  EXPECT_TRUE(GetAUOption(auoConfirmInstall));

  // Not a byte: the old value stays, rather than 257 wrapping round to 1.
  AUOptionsFromText("|x| 7 |257|-1||1.5|9|0|extra|");
  EXPECT_EQ(AUOptionsToText(), "|255|7|1|255|255|0|9|0|");

  // Agent commands reach options 0 to 5 only.
  SetAUOptionOverride(auoRestartProcess, 1);
  SetAUOptionOverride(auoForcedDownloadNotice, 1);
  SetAUOptionOverride(-1, 1);
  SetAUOptionOverride(8, 1);
  EXPECT_EQ(AUOptionsToText(), "|255|7|1|255|255|1|9|0|");
  EXPECT_EQ(AUOptionOverride(auoBackgroundUpdate), 255);
  EXPECT_EQ(AUOptionOverride(99), 255);

  for (const std::string junk : {"", "|", "no delimiter", "\x01\x01\x01", "|1"}) AUOptionsFromText(junk);
  EXPECT_EQ(AUOptionsToText(), "|255|7|1|255|255|1|9|0|");
}

TEST_F(SettingsTest, AutoProbeSwitch) {
  EXPECT_TRUE(GetAutoProbeEnabled());
  SetAutoProbeEnabled(false);
  EXPECT_FALSE(GetAutoProbeEnabled());
}

}  // namespace
}  // namespace havrek
