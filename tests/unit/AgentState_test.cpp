#include "agent/AgentState.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace havrek {
namespace {

const std::string kToday = "06-JUL-2009";

// A registry and a clock the test moves by hand; counts the registry reads.
struct FakeSystem {
  std::map<std::string, std::string> values;
  std::uint32_t now = 0;
  int reads = 0;

  TestModeSources Sources() {
    return {[this] { return now; },
            [this](const std::string& name, const std::string& def) {
              ++reads;
              const auto it = values.find(name);
              return it == values.end() ? def : it->second;
            },
            [] { return kToday; }};
  }
};

class AgentStateTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAgentState(); }
  void TearDown() override { ResetAgentState(); }
};

TEST_F(AgentStateTest, StartsInItsInitialState) {
  SetAutoUpdateTimerCount(7);
  SetQuitCountdown(2);
  SetUserCheck(UserCheckState::asked);
  SetForcedProbe(true);
  SetJustDownloadInfoFile(true);
  SetAgentState(kAgentInstalling);
  SetTickRunning(true);
  SetListener(0x1234, 0x8001);
  ResetAgentState();

  EXPECT_EQ(AutoUpdateTimerCount(), -3);
  EXPECT_EQ(QuitCountdown(), -1);
  EXPECT_EQ(UserCheck(), UserCheckState::none);
  EXPECT_FALSE(ForcedProbe());
  EXPECT_FALSE(JustDownloadInfoFile());
  EXPECT_EQ(AgentState(), kAgentIdle);
  EXPECT_FALSE(TickRunning());
  EXPECT_FALSE(TestMode());
  EXPECT_EQ(TestModeLocation(), "");
  EXPECT_EQ(ListenerWindow(), 0u);
  EXPECT_EQ(ListenerMessage(), 0u);
}

TEST_F(AgentStateTest, TestModeHoldsOnlyOnTheDayItNames) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> values;
    bool on;
    std::string location;
  } cases[] = {
      {"on today", {{"TestMode", "1"}, {"TestModeDate", kToday}, {"TestModeURL", "C:\\TestDrop"}}, true,
       "C:\\TestDrop"},
      // The location is taken also while test mode is off.
      {"yesterday's date", {{"TestMode", "1"}, {"TestModeDate", "05-JUL-2009"}, {"TestModeURL", "C:\\TestDrop"}},
       false, "C:\\TestDrop"},
      {"today, no location", {{"TestMode", "1"}, {"TestModeDate", kToday}}, true, ""},
      {"no date", {{"TestMode", "1"}, {"TestModeURL", "C:\\TestDrop"}}, false, "C:\\TestDrop"},
      {"switched off", {{"TestMode", "0"}, {"TestModeDate", kToday}}, false, ""},
      {"other than 1", {{"TestMode", "2"}, {"TestModeDate", kToday}}, false, ""},
      {"nothing set", {}, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeSystem sys;
    sys.values = c.values;
    EXPECT_EQ(CheckTestMode(true, sys.Sources()), c.on);
    EXPECT_EQ(TestMode(), c.on);
    EXPECT_EQ(TestModeLocation(), c.location);
  }
}

TEST_F(AgentStateTest, UnforcedChecksReadOnlyAfterAPauseOfMoreThanThirtySeconds) {
  FakeSystem sys;
  sys.values = {{"TestMode", "1"}, {"TestModeDate", kToday}, {"TestModeURL", "C:\\A"}};
  sys.now = 5000000;
  ASSERT_TRUE(CheckTestMode(true, sys.Sources()));
  const int perRead = sys.reads;

  // A tick every second for a minute: the switch-off is never seen.
  sys.values["TestMode"] = "0";
  for (int i = 0; i < 60; ++i) {
    sys.now += 1000;
    EXPECT_TRUE(CheckTestMode(false, sys.Sources()));
  }
  EXPECT_EQ(sys.reads, perRead);

  struct Step {
    std::uint32_t pause;
    bool force;
    const char* mode;
    bool read;
    bool on;
  } steps[] = {
      {31000, false, "0", true, false},  // a pause of 31 s
      {30000, false, "1", false, false}, // exactly 30 s is not more
      {30001, false, "1", true, true},
      {1000, true, "0", true, false},    // every probe forces a read
      {29999, false, "1", false, false},
      {0, true, "1", true, true},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::to_string(s.pause) + (s.force ? " forced" : ""));
    sys.values["TestMode"] = s.mode;
    sys.now += s.pause;
    const int before = sys.reads;
    EXPECT_EQ(CheckTestMode(s.force, sys.Sources()), s.on);
    EXPECT_EQ(sys.reads > before, s.read);
  }
}

TEST_F(AgentStateTest, TheRuleHoldsWhereTheTickCountWraps) {
  FakeSystem sys;
  sys.now = 0xFFFFC000u;  // 16 s before the 32-bit count wraps
  CheckTestMode(true, sys.Sources());
  sys.values = {{"TestMode", "1"}, {"TestModeDate", kToday}};
  const int before = sys.reads;

  for (int tick = 0; tick < 40; ++tick) {
    sys.now += 1000;
    EXPECT_FALSE(CheckTestMode(false, sys.Sources())) << tick;
  }
  EXPECT_EQ(sys.reads, before);
  sys.now += 31000;
  EXPECT_TRUE(CheckTestMode(false, sys.Sources()));
}

struct Posted {
  std::uintptr_t window;
  std::uint32_t message;
  std::uintptr_t code;
  std::intptr_t value;
  bool operator==(const Posted& o) const {
    return window == o.window && message == o.message && code == o.code && value == o.value;
  }
};
std::vector<Posted> posted;

void Record(std::uintptr_t window, std::uint32_t message, std::uintptr_t code, std::intptr_t value) {
  posted.push_back({window, message, code, value});
}

TEST_F(AgentStateTest, NotificationsGoOnlyToARegisteredListener) {
  posted.clear();
  NotifyListener(kNotifyInfoFetch, 1, Record);  // nobody registered yet
  EXPECT_TRUE(posted.empty());

  SetListener(0x5000, 0x8001);
  NotifyListener(kNotifyInfoFetch, 1, Record);
  NotifyListener(kNotifyInfoFetch, 2, Record);
  // A new registration replaces the old one.
  SetListener(0x6000, 0x8002);
  NotifyListener(kNotifyLoopEnded, 0, Record);
  const std::vector<Posted> expected = {
      {0x5000, 0x8001, 40, 1}, {0x5000, 0x8001, 40, 2}, {0x6000, 0x8002, 43, 0}};
  EXPECT_EQ(posted, expected);

  // Window 0 or message 0 silences them.
  for (const auto& [window, message] : {std::pair<std::uintptr_t, std::uint32_t>{0, 0x8001}, {0x5000, 0}}) {
    posted.clear();
    SetListener(window, message);
    NotifyListener(kNotifyInstall, 1, Record);
    EXPECT_TRUE(posted.empty());
  }
}

}  // namespace
}  // namespace havrek
