#include "agent/StubAUCommands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "util/Utils.h"
#include "MemoryIni.h"

namespace havrek {
namespace {

std::map<test::IniKey, std::string>& files = test::MemoryIniFiles();

const std::string kDir = "C:\\Program Files\\Tool\\";
const std::string kOriginal = kDir + "Tool.original";
const std::string kInfo = kDir + "Tool.info";

class AgentCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    SetProcessCommandLine("\"" + kDir + "X_Agent.exe\"", kDir + "X_Agent.exe");
    test::BindMemoryIni("http://example.test/Tool.info");
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    ResetAgentState();
  }
  void TearDown() override {
    SetSettingsIni(SettingsIni());
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    ResetAgentState();
    SetProcessCommandLine(savedCommandLine_, savedExe_);
  }
  static std::string& Original(const std::string& key) { return files[{kOriginal, "OriginalSetup", key}]; }
  static std::string Stored(const std::string& key) {
    const auto it = files.find({kOriginal, "OriginalSetup", key});
    return it == files.end() ? "<none>" : it->second;
  }

  std::string savedCommandLine_, savedExe_;
};

TEST_F(AgentCommandTest, ReadersAnswerTheSettingsAndTheStateIn32Bits) {
  Original("VersionOriginal") = "104";
  files[{kInfo, "NewSetup", "VersionNew"}] = "105";
  Original("ProbeSecondsInterval") = "86400";
  Original("ReAskSecondsInterval") = "-1";
  // Times past 32 bits answer their low half.
  Original("ProbeSecondsLast") = std::to_string((std::int64_t{1} << 32) + 7);
  Original("ReAskSecondsLast") = std::to_string(std::int64_t{0x1FFFFFFFF});
  SetAgentState(kAgentInstalling);
  const struct {
    std::int32_t code, result;
  } cases[] = {{4, 104}, {5, 105}, {7, 3}, {8, 86400}, {9, -1}, {10, 7}, {11, -1},
               {0, 0},   {6, 0},   {16, 0}, {26, 0},  {33, 0}, {-1, 0}};
  for (const auto& c : cases) EXPECT_EQ(AgentCommand(c.code, c.result == 0 ? 99 : 0), c.result) << c.code;
  EXPECT_EQ(AgentState(), kAgentInstalling);
}

TEST_F(AgentCommandTest, WritersStoreTheValueSignExtendedAndAnswerZero) {
  const struct {
    std::int32_t code;
    const char* key;
    std::int32_t value;
    const char* stored;
    bool twin;
  } cases[] = {
      {12, "ProbeSecondsInterval", 3600, "3600", false},
      {12, "ProbeSecondsInterval", -1, "-1", false},
      {13, "ReAskSecondsInterval", -7, "-7", false},
      {14, "ProbeSecondsLast", 0, "0", true},
      {14, "ProbeSecondsLast", -2147483647 - 1, "-2147483648", true},
      {15, "ReAskSecondsLast", 2147483647, "2147483647", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key + std::string(" ") + c.stored);
    files.clear();
    EXPECT_EQ(AgentCommand(c.code, c.value), 0);
    EXPECT_EQ(Stored(c.key), c.stored);
    EXPECT_EQ(Stored(std::string("__") + c.key) != "<none>", c.twin);
  }
}

TEST_F(AgentCommandTest, OptionCodesSetTheLowByteOfTheirOverride) {
  for (std::int32_t code = 20; code <= 25; ++code) {
    EXPECT_EQ(AgentCommand(code, 0x1234500 + code), 0);
    EXPECT_EQ(AUOptionOverride(code - 20), code) << code;
  }
  EXPECT_EQ(AgentCommand(20, 255), 0);
  EXPECT_EQ(AUOptionOverride(0), 255);
  // Options 6 and 7 have no command.
  EXPECT_EQ(AgentCommand(26, 1), 0);
  EXPECT_EQ(AgentCommand(27, 1), 0);
  EXPECT_EQ(AUOptionsToText(), "|255|21|22|23|24|25|255|255|");
}

TEST_F(AgentCommandTest, StateCommandsRequestWorkForTheNextTick) {
  EXPECT_EQ(AgentCommand(30, 4), 0);
  EXPECT_EQ(QuitCountdown(), 4);
  EXPECT_EQ(AgentCommand(30, -1), 0);
  EXPECT_EQ(QuitCountdown(), -1);

  EXPECT_EQ(AgentCommand(32, 0), 0);
  EXPECT_TRUE(JustDownloadInfoFile());

  // A forced probe brings a sleeping counter up to 1 but leaves a later one,
  // and only the value 2 asks on the user's behalf.
  const struct {
    std::int64_t count;
    std::int32_t value;
    std::int64_t countAfter;
    UserCheckState userCheck;
  } cases[] = {{-3, 1, 1, UserCheckState::none},
               {0, 0, 1, UserCheckState::none},
               {1, 2, 1, UserCheckState::asked},
               {40, 2, 40, UserCheckState::asked},
               {5, 3, 5, UserCheckState::none}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " " + std::to_string(c.value));
    ResetAgentState();
    SetAutoUpdateTimerCount(c.count);
    EXPECT_EQ(AgentCommand(31, c.value), 0);
    EXPECT_TRUE(ForcedProbe());
    EXPECT_EQ(AutoUpdateTimerCount(), c.countAfter);
    EXPECT_EQ(UserCheck(), c.userCheck);
  }
}

TEST(AgentForwarding, ListenerRequestReadsWindowAndMessage) {
  const struct {
    const char* value;
    std::int64_t window, message;
  } cases[] = {{"4242", 4242, 0}, {"4242:1030", 4242, 1030}, {"x:1030", 0, 1030},
               {":77", 0, 77},    {"12:y", 12, 0},         {"1:2:3", 1, 2}};
  for (const auto& c : cases) {
    const ListenerRequest r = ParseListenerRequest(c.value);
    EXPECT_EQ(r.window, c.window) << c.value;
    EXPECT_EQ(r.message, c.message) << c.value;
  }
}

TEST(AgentForwarding, CopyCommandLineQuotesABlankPathAndKeepsOneExtra) {
  EXPECT_EQ(AgentCopyPath("C:\\Program Files\\Tool\\agent.exe"), "C:\\Program Files\\Tool\\X_agent.exe");
  const struct {
    const char* copy;
    const char* transient;
    const char* delay;
    bool quiet;
    const char* command;
  } cases[] = {
      {"C:\\Tool\\X_agent.exe", "", "", false, "C:\\Tool\\X_agent.exe"},
      {"C:\\Program Files\\Tool\\X_agent.exe", "", "", false, "\"C:\\Program Files\\Tool\\X_agent.exe\""},
      {"\"C:\\Program Files\\X_agent.exe\"", "", "5", false, "\"C:\\Program Files\\X_agent.exe\" /SleepX=5"},
      {"C:\\Tool\\X_agent.exe", "|1|0|", "", false, "C:\\Tool\\X_agent.exe /TRANSIENTx=|1|0|"},
      {"C:\\Tool\\X_agent.exe", "|1|0|", "7", false, "C:\\Tool\\X_agent.exe /SleepX=7"},
      // An unattended agent's copy answers its own questions unattended.
      {"C:\\Tool\\X_agent.exe", "", "", true, "C:\\Tool\\X_agent.exe /quiet"},
      {"C:\\Tool\\X_agent.exe", "|1|0|", "7", true, "C:\\Tool\\X_agent.exe /SleepX=7 /quiet"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AgentCopyCommandLine(c.copy, c.transient, c.delay, c.quiet), c.command) << c.copy;
}

}  // namespace
}  // namespace havrek
