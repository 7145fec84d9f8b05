#include "agent/StubAU.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "util/Utils.h"
#include "MemoryIni.h"

namespace havrek {
namespace {

std::map<test::IniKey, std::string>& files = test::MemoryIniFiles();
std::string debugText;

const std::string kDir = "C:\\Program Files\\Tool\\";
const std::string kOriginal = kDir + "Tool.original";
const std::string kInfo = kDir + "Tool.info";
constexpr std::int64_t kNow = 3'900'000'000;

class AgentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    SetProcessCommandLine("\"" + kDir + "X_Agent.exe\"", kDir + "X_Agent.exe");
    debugText.clear();
    test::BindMemoryIni("http://example.test/dl/Tool.info");
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetAutoProbeEnabled(true);
    ResetAgentState();
    SetDebugTarget([](const std::string& piece) { debugText += piece; });
  }
  void TearDown() override {
    SetDebugTarget(nullptr);
    SetSettingsIni(SettingsIni());
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetAutoProbeEnabled(true);
    ResetAgentState();
    SetProcessCommandLine(savedCommandLine_, savedExe_);
  }

  static void Original(const std::string& key, const std::string& value) {
    files[{kOriginal, "OriginalSetup", key}] = value;
  }
  static void Info(const std::string& key, const std::string& value, const std::string& section = "NewSetup") {
    files[{kInfo, section, key}] = value;
  }

  std::string savedCommandLine_, savedExe_;
};

// ---- Update decision ----

// A pair that passes every stage: an installed version 5, a new offer of 6.
void PrepareDuePair() {
  files[{kOriginal, "OriginalSetup", "VersionOriginal"}] = "5";
  files[{kOriginal, "OriginalSetup", "Stamp"}] = "100";
  files[{kInfo, "NewSetup", "Stamp"}] = "101";
  files[{kInfo, "NewSetup", "VersionNew"}] = "6";
  files[{kInfo, "NewSetup", "DownloadURL_UPDATE"}] = "http://example.test/dl";
  files[{kInfo, "NewSetup", "NameOfUpdateFile"}] = "Update.exe";
  files[{kInfo, "NewSetup", "SizeOfUpdateFile"}] = "1000";
}

SizeLookup ServerWithSize(std::int64_t size) {
  SizeLookup lookup;
  lookup.fileSize = [](const std::string&) -> std::int64_t { return -1; };
  lookup.internetConnected = [] { return true; };
  lookup.httpSize = [size](const std::string&) { return size; };
  return lookup;
}

TEST_F(AgentTest, EachDecisionReasonIsReachedWithItsExactText) {
  const struct {
    const char* name;
    bool fetched;
    std::vector<std::pair<std::string, std::string>> original, info;  // changes to the due pair
    std::int64_t serverSize;
    int reason;
    const char* text;
  } cases[] = {
      {"fetch failed", false, {}, {}, 1000, 0, "Error downloading .INFO file"},
      {"no .original", true, {{"VersionOriginal", ""}}, {}, 1000, 1, "Error reading .ORIGINAL file"},
      {"version 0", true, {{"VersionOriginal", "0"}}, {}, 1000, 1, "Error reading .ORIGINAL file"},
      {"same stamp", true, {{"Stamp", "101"}}, {}, 1000, 2, "Too early for retesting"},
      {"not higher", true, {}, {{"VersionNew", "5"}}, 1000, 3, "New version is not higher then old version"},
      {"lower", true, {}, {{"VersionNew", "4"}}, 1000, 3, "New version is not higher then old version"},
      {"not valid for", true, {}, {{"ValidVersions", "1,2,3"}}, 1000, 4, "\"Valid for version\" mismatch"},
      {"blank in list", true, {}, {{"ValidVersions", "4, 5"}}, 1000, 4, "\"Valid for version\" mismatch"},
      {"size off", true, {}, {}, 1100, 5, "Download file size error"},
      {"no file", true, {}, {}, -1, 5, "Download file size error"},
      {"due", true, {}, {}, 1099, 6, "OK"},
      {"valid for", true, {}, {{"ValidVersions", "4,5,6"}}, 1000, 6, "OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.clear();
    debugText.clear();
    PrepareDuePair();
    for (const auto& [k, v] : c.original) {
      if (v.empty()) files.erase({kOriginal, "OriginalSetup", k});
      else Original(k, v);
    }
    for (const auto& [k, v] : c.info) Info(k, v);
    const AUDecision d = DecideAU(c.fetched, kNow, false, false, "", ServerWithSize(c.serverSize));
    EXPECT_EQ(d.reason, c.reason);
    EXPECT_EQ(d.text, c.text);
    EXPECT_EQ(d.due, c.reason == 6);
    EXPECT_NE(debugText.find(" GetOkToPerformAU=" + IntText(c.reason) + "\r\n"), std::string::npos) << debugText;
  }
}

TEST_F(AgentTest, ReasonListHoldsTheSevenTextsInOrder) {
  EXPECT_EQ(AUReasonText(3), "New version is not higher then old version");
  EXPECT_EQ(AUReasonText(4), "\"Valid for version\" mismatch");
  EXPECT_EQ(AUReasonText(6), "OK");
  EXPECT_EQ(AUReasonText(7), "");
}

TEST_F(AgentTest, TheSameOfferPassesOnlyAtTheReAskTimeOrForTheUser) {
  const struct {
    const char* name;
    std::int64_t reAskLast, reAskInterval;
    bool userProbe;
    int reason;
  } cases[] = {
      {"never re-asked", kNow - 10'000, 0, false, 2},
      {"user probe", kNow - 10'000, 0, true, 6},
      {"not yet", kNow - 100, 1000, false, 2},
      {"exactly now", kNow - 1000, 1000, false, 2},
      {"past", kNow - 1001, 1000, false, 6},
      {"negative interval", kNow - 10'000, -5, false, 2},
      {"huge interval does not wrap", kNow, std::numeric_limits<std::int64_t>::max(), false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.clear();
    PrepareDuePair();
    Original("Stamp", "101");
    Original("ReAskSecondsLast", IntText(c.reAskLast));
    Original("ReAskSecondsInterval", IntText(c.reAskInterval));
    EXPECT_EQ(DecideAU(true, kNow, c.userProbe, false, "", ServerWithSize(1000)).reason, c.reason);
  }
}

TEST_F(AgentTest, DeclinedOfferIsNotMadeAgainBeforeTheReAskTimeOrANewStamp) {
  PrepareDuePair();
  Original("ReAskSecondsInterval", "3600");
  ASSERT_TRUE(DecideAU(true, kNow, false, false, "", ServerWithSize(1000)).due);
  RecordDueOffer(kNow);  // the user then declines
  EXPECT_EQ(DecideAU(true, kNow + 60, false, false, "", ServerWithSize(1000)).reason, 2);
  EXPECT_EQ(DecideAU(true, kNow + 3600, false, false, "", ServerWithSize(1000)).reason, 2);
  EXPECT_TRUE(DecideAU(true, kNow + 3601, false, false, "", ServerWithSize(1000)).due);
  Info("Stamp", "102");
  EXPECT_TRUE(DecideAU(true, kNow + 60, false, false, "", ServerWithSize(1000)).due);
}

TEST_F(AgentTest, VersionListIsMatchedAsCommaDelimitedText) {
  EXPECT_TRUE(VersionAdmitted("", 56));
  EXPECT_TRUE(VersionAdmitted("100,101,102", 101));
  EXPECT_FALSE(VersionAdmitted("100, 101", 101));
  EXPECT_FALSE(VersionAdmitted("5,6", 56));
  EXPECT_FALSE(VersionAdmitted("1010", 101));
  EXPECT_TRUE(VersionAdmitted("-3", -3));
}

TEST_F(AgentTest, SizeToleranceIsUnderAHundredBytesEitherWay) {
  EXPECT_TRUE(SizeMatches(1099, 1000));
  EXPECT_TRUE(SizeMatches(901, 1000));
  EXPECT_FALSE(SizeMatches(1100, 1000));
  EXPECT_FALSE(SizeMatches(900, 1000));
  // Nothing found (-1) passes only for an announced size of -100 to 98.
  EXPECT_TRUE(SizeMatches(-1, 0));
  EXPECT_TRUE(SizeMatches(-1, 98));
  EXPECT_FALSE(SizeMatches(-1, 99));
  EXPECT_TRUE(SizeMatches(-1, -100));
  EXPECT_FALSE(SizeMatches(-1, -101));
  EXPECT_FALSE(SizeMatches(std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()));
  EXPECT_FALSE(SizeMatches(std::numeric_limits<std::int64_t>::min(), 1));
}

TEST_F(AgentTest, SizeTestTriesTheFolderThenTheWebButNeverTheWebInTestMode) {
  PrepareDuePair();
  Info("NameOfUpdateFile", "sub/Update.exe");
  std::vector<std::string> asked;
  SizeLookup lookup;
  lookup.fileSize = [&](const std::string& p) -> std::int64_t {
    asked.push_back("file " + p);
    return p == "T:\\test\\Update.exe" ? 1000 : -1;
  };
  lookup.internetConnected = [] { return true; };
  lookup.httpSize = [&](const std::string& u) -> std::int64_t {
    asked.push_back("http " + u);
    return 1000;
  };

  SizeCheck web = CheckUpdateSize(false, "T:\\test", lookup);
  EXPECT_TRUE(web.passes);
  EXPECT_EQ(asked, (std::vector<std::string>{"file http://example.test/dl\\Update.exe",
                                             "http http://example.test/dl/Update.exe"}));

  asked.clear();
  EXPECT_TRUE(CheckUpdateSize(true, "T:\\test", lookup).passes);
  EXPECT_EQ(asked, (std::vector<std::string>{"file T:\\test\\Update.exe"}));

  asked.clear();
  const SizeCheck missing = CheckUpdateSize(true, "T:\\empty", lookup);
  EXPECT_FALSE(missing.passes);
  EXPECT_EQ(missing.actual, -1);
  EXPECT_EQ(asked, (std::vector<std::string>{"file T:\\empty\\Update.exe"}));
}

TEST_F(AgentTest, SizeTestOfAnInformationPageUsesThePageFigures) {
  PrepareDuePair();
  Info("AutoInform", "1", "General");
  Info("NameOfInformFile", "Page.inf", "AutoInform");
  Info("SizeOfInformFile", "50", "AutoInform");
  std::string url;
  SizeLookup lookup = ServerWithSize(50);
  lookup.httpSize = [&](const std::string& u) -> std::int64_t {
    url = u;
    return 50;
  };
  EXPECT_TRUE(CheckUpdateSize(false, "", lookup).passes);
  EXPECT_EQ(url, "http://example.test/dl/Page.inf");
}

// An unreadable number reads as its default and is noted, so that the reason
// that follows can be understood from the log.
TEST_F(AgentTest, NumbersThatDoNotParseReadAsTheirDefaultsAndAreNoted) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> original, info;
    int reason;
    const char* noted;
  } cases[] = {
      {"version with a point", {{"VersionOriginal", "5.1"}}, {}, 1, "[OriginalSetup] VersionOriginal=\"5.1\""},
      {"new version with letters", {}, {{"VersionNew", "6a"}}, 3, "[NewSetup] VersionNew=\"6a\""},
      {"size beyond 64 bits", {}, {{"SizeOfUpdateFile", "99999999999999999999"}}, 5,
       "[NewSetup] SizeOfUpdateFile=\"99999999999999999999\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.clear();
    debugText.clear();
    PrepareDuePair();
    for (const auto& [k, v] : c.original) Original(k, v);
    for (const auto& [k, v] : c.info) Info(k, v);
    EXPECT_EQ(DecideAU(true, kNow, false, false, "", ServerWithSize(1000)).reason, c.reason);
    EXPECT_NE(debugText.find(c.noted), std::string::npos) << debugText;
  }

  files.clear();
  debugText.clear();
  Original("ProbeSecondsInterval", "ten");
  EXPECT_EQ(GetProbeSecondsInterval(), 0);
  EXPECT_NE(debugText.find("ProbeSecondsInterval=\"ten\" is no number, 0 used"), std::string::npos);
}

// ---- Scheduling ----

TEST_F(AgentTest, ShotTimeStatusFollowsTheStoredInterval) {
  const std::int64_t last = kNow - 60;
  const struct {
    const char* name;
    bool autoProbe, forced;
    std::int64_t interval;
    bool testMode;
    int status;
  } cases[] = {
      {"never", true, false, -1, false, 0},
      {"never, even in test mode", true, false, -1, true, 0},
      {"never, but forced", true, true, -1, false, 1},
      {"once", true, false, 0, false, 2},
      {"every 60 s, due", true, false, 60, false, 1},
      {"every 61 s, not yet", true, false, 61, false, 0},
      {"every hour, test mode's 5 s", true, false, 3600, true, 1},
      {"once in test mode", true, false, 0, true, 2},
      {"probing off", false, false, 60, false, 0},
      {"probing off, forced", false, true, 3600, false, 1},
      {"interval beyond the range", true, false, std::numeric_limits<std::int64_t>::max(), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ShotTimeStatusFor(c.autoProbe, c.forced, c.interval, last, kNow, c.testMode), c.status);
  }
  EXPECT_EQ(ShotTimeStatusFor(true, false, 3600, kNow - 4, kNow, true), 0);
}

TEST_F(AgentTest, ForcedProbeCountsOnce) {
  Original("ProbeSecondsInterval", "-1");
  SetForcedProbe(true);
  EXPECT_EQ(GetShotTimeStatus(kNow), 1);
  EXPECT_FALSE(ForcedProbe());
  EXPECT_EQ(GetShotTimeStatus(kNow), 0);
}

// The tick with recorded actions: what it calls and what it leaves behind.
struct TickRecorder {
  std::vector<std::string> calls;
  bool decline = false;
  std::int64_t now = kNow;
  TickActions actions;
  TickRecorder() {
    actions.justFetchInfo = [this] { calls.push_back("info"); };
    actions.postQuit = [this] { calls.push_back("quit"); };
    actions.checkTestMode = [] { return TestMode(); };
    actions.now = [this] { return now; };
    actions.askCheckNow = [this](ShotStatus& status) {
      calls.push_back("ask");
      if (decline) status = shotNone;
    };
    actions.performShot = [this] {
      calls.push_back("shot");
      SetProbeSecondsLast(now);
    };
  }
};

TEST_F(AgentTest, TicksWaitForTheStartDelayThenProbeOnSchedule) {
  Original("ProbeSecondsInterval", "10");
  Original("ProbeSecondsLast", IntText(kNow - 100));
  TickRecorder r;
  for (int i = 0; i < 3; ++i) RunAgentTick(r.actions);
  EXPECT_TRUE(r.calls.empty());
  EXPECT_EQ(AutoUpdateTimerCount(), 0);
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, std::vector<std::string>{"shot"});
  r.now += 5;
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls.size(), 1u);
  r.now += 5;
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls.size(), 2u);
  EXPECT_FALSE(TickRunning());
}

TEST_F(AgentTest, OnceProbesAtTheFirstConsideredTickOnly) {
  Original("ProbeSecondsInterval", "0");
  Original("ProbeSecondsLast", IntText(kNow));
  SetAutoUpdateTimerCount(0);
  TickRecorder r;
  for (int i = 0; i < 5; ++i, r.now += 100) RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, std::vector<std::string>{"shot"});
  EXPECT_FALSE(GetAutoProbeEnabled());
  // A forced probe still goes through afterwards.
  SetForcedProbe(true);
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls.size(), 2u);
}

TEST_F(AgentTest, UserProbeAsksFirstAndRestartsTheCount) {
  Original("ProbeSecondsInterval", "-1");
  SetAutoUpdateTimerCount(-2);
  SetUserCheck(UserCheckState::asked);
  SetForcedProbe(true);
  TickRecorder r;
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"ask", "shot"}));
  EXPECT_EQ(AutoUpdateTimerCount(), 1);
  EXPECT_EQ(UserCheck(), UserCheckState::none);
}

TEST_F(AgentTest, DeclinedQuestionLeavesTheProbeTimeSoItReturnsNextTick) {
  Original("ProbeSecondsInterval", "10");
  Original("ProbeSecondsLast", IntText(kNow - 100));
  SetAUOptionOverride(auoAskBeforeProbe, 1);
  SetAutoUpdateTimerCount(0);
  TickRecorder r;
  r.decline = true;
  RunAgentTick(r.actions);
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"ask", "ask"}));
  EXPECT_EQ(GetProbeSecondsLast(), kNow - 100);
}

TEST_F(AgentTest, QuitCountdownQuitsAtTheNextTickAndStillProbes) {
  Original("ProbeSecondsInterval", "10");
  Original("ProbeSecondsLast", IntText(kNow - 100));
  SetAutoUpdateTimerCount(0);
  SetQuitCountdown(2);
  TickRecorder r;
  RunAgentTick(r.actions);
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, std::vector<std::string>{"shot"});
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"shot", "quit"}));
  EXPECT_EQ(QuitCountdown(), -1);
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls.size(), 2u);

  SetQuitCountdown(0);
  r.now += 100;
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, (std::vector<std::string>{"shot", "quit", "quit", "shot"}));
}

TEST_F(AgentTest, JustDownloadInfoFileDoesNothingElse) {
  SetAutoUpdateTimerCount(5);
  SetJustDownloadInfoFile(true);
  SetQuitCountdown(0);
  TickRecorder r;
  RunAgentTick(r.actions);
  EXPECT_EQ(r.calls, std::vector<std::string>{"info"});
  EXPECT_EQ(AutoUpdateTimerCount(), 5);
  EXPECT_EQ(QuitCountdown(), 0);
  EXPECT_FALSE(JustDownloadInfoFile());
}

TEST_F(AgentTest, ReenteredTickReturnsAndAThrowingTickReleasesTheGuard) {
  Original("ProbeSecondsInterval", "10");
  SetAutoUpdateTimerCount(0);
  TickRecorder r;
  int inner = 0;
  r.actions.performShot = [&] {
    SetAgentState(kAgentInstalling);
    RunAgentTick(r.actions);  // a tick served by a message box meanwhile
    ++inner;
    throw std::runtime_error("box failed");
  };
  EXPECT_THROW(RunAgentTick(r.actions), std::runtime_error);
  EXPECT_EQ(inner, 1);
  EXPECT_EQ(AutoUpdateTimerCount(), 1);
  EXPECT_FALSE(TickRunning());
  EXPECT_EQ(AgentState(), kAgentIdle);
}

// ---- Texts ----

TEST_F(AgentTest, CheckNowQuestionDropsTheWebPartForDrivesAndAddsTheTestNote) {
  const struct {
    const char* location;
    bool testMode;
    const char* expected;
  } cases[] = {
      {"http://example.test", false, "Check PROG? web. Go?"},
      {"C:\\updates", false, "Check PROG? Go?"},
      {"x", false, "Check PROG? Go?"},
      {"\\\\server\\share", true,
       "Check PROG? web. Go?<P><P><T><B>PLEASE NOTE</B> - You are now running in <B>Test Mode</B>!"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CheckNowQuestion("Check PROG_NAME? ", "web. ", "Go?", c.location, c.testMode, "PROG"), c.expected);
}

TEST_F(AgentTest, DownloadQuestionPicksItsSecondPartByTheTwoOptions) {
  const struct {
    bool confirmInstall, forced;
    const char* expected;
  } cases[] = {{false, false, "A-12"}, {true, false, "A-13"}, {false, true, "A-18"}, {true, true, "A-19"}};
  for (const auto& c : cases)
    EXPECT_EQ(DownloadQuestion("PROG_NAME-", "12", "13", "18", "19", c.confirmInstall, c.forced, "A"), c.expected);
}

TEST_F(AgentTest, UserProbeReportNamesWhatWentWrong) {
  ProbeReportInput in;
  in.s2 = "No connection";
  in.s21 = "Nothing new";
  in.reason = 3;
  in.reasonText = "New version is not higher then old version";

  in.due = true;
  EXPECT_EQ(UserProbeReport(in).kind, ProbeReportKind::none);
  in.due = false;

  in.connected = false;
  in.connectionError = "offline";
  ProbeReport r = UserProbeReport(in);
  EXPECT_EQ(r.kind, ProbeReportKind::error);
  EXPECT_EQ(r.text, "No connection<P><P>offline");
  in.testMode = true;
  EXPECT_EQ(UserProbeReport(in).kind, ProbeReportKind::warning);
  in.testMode = false;
  in.connected = true;

  in.fetchError = "404 Not Found";
  r = UserProbeReport(in);
  EXPECT_EQ(r.kind, ProbeReportKind::error);
  EXPECT_EQ(r.text, "404 Not Found");
  // In test mode a missing file is the normal answer: nothing new, no error.
  in.testMode = true;
  r = UserProbeReport(in);
  EXPECT_EQ(r.kind, ProbeReportKind::warning);
  EXPECT_EQ(r.text, "Nothing new");
  in.testMode = false;

  in.fetchError.clear();
  in.developerMode = true;
  r = UserProbeReport(in);
  EXPECT_EQ(r.kind, ProbeReportKind::warning);
  EXPECT_EQ(r.text, "Nothing new<P><P>(3 - New version is not higher then old version)   ");
}

TEST_F(AgentTest, ProgramPathsWithBlanksAreQuotedArgumentsKept) {
  EXPECT_EQ(FreshAgentCommand("C:\\Program Files\\Tool", "Agent.exe", "|255|1|"),
            "\"C:\\Program Files\\Tool\\Agent.exe\" /_ZZ=99 /WAIT=10 /TRANSIENT=|255|1|");
  EXPECT_EQ(FreshAgentCommand("C:\\Tool\\", "Agent.exe", "|"), "C:\\Tool\\Agent.exe /_ZZ=99 /WAIT=10 /TRANSIENT=|");
  EXPECT_EQ(FreshAgentCommand("C:\\Tool", "Agent.exe", "|", true),
            "C:\\Tool\\Agent.exe /_ZZ=99 /WAIT=10 /TRANSIENT=| /quiet");
  EXPECT_EQ(RestartCommand("C:\\Program Files\\Tool\\Tool.exe"), "\"C:\\Program Files\\Tool\\Tool.exe\"");
  EXPECT_EQ(RestartCommand("\"C:\\Program Files\\Tool.exe\""), "\"C:\\Program Files\\Tool.exe\"");
  EXPECT_EQ(RestartCommand("C:\\Tool\\Tool.exe"), "C:\\Tool\\Tool.exe");
  EXPECT_EQ(OriginalInfoSwitch("C:\\Program Files\\Tool\\Tool.info"),
            "/OriginalInfoFile=\"C:\\Program Files\\Tool\\Tool.info\"");
}

TEST_F(AgentTest, OnlyAProgramTheAgentStoppedIsRestarted) {
  EXPECT_TRUE(ShouldRestart(true, true, false));
  EXPECT_FALSE(ShouldRestart(false, true, false));
  EXPECT_FALSE(ShouldRestart(true, false, false));
  EXPECT_FALSE(ShouldRestart(true, true, true));
}

}  // namespace
}  // namespace havrek
