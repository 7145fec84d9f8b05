#include "agent/StubAUCommands.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <string>
#include <tuple>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "context/StubContext.h"
#include "launcher/AgentHooks.h"
#include "launcher/MainWindow.h"
#include "util/Utils.h"
#include "MemoryIni.h"

namespace havrek {
namespace {

std::map<test::IniKey, std::string>& files = test::MemoryIniFiles();

// The agent copy's main window in this process, its hooks installed, the
// settings in memory; commands arrive by SendMessage as from another program.
class AgentCommandWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAgentState();
    test::BindMemoryIni("Tool.info");
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    MainHooks() = MainWindowHooks{};
    SetAutoUpdateProg(true);
    InstallAgentHooks();
    window_ = CreateMainWindow("Agent", 0);
    ASSERT_TRUE(window_);
  }
  void TearDown() override {
    if (window_) DestroyWindow(window_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    MainHooks() = MainWindowHooks{};
    SetAutoUpdateProg(false);
    SetSettingsIni(SettingsIni());
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    ResetAgentState();
  }
  LRESULT Send(WPARAM code, LPARAM value) { return SendMessageA(window_, wm_AgentMsg, code, value); }
  static std::string& Original(const std::string& key) {
    return files[{GetOriginalFileName(), "OriginalSetup", key}];
  }

  HWND window_ = nullptr;
};

TEST_F(AgentCommandWindowTest, EveryCodeAnswersASynchronousSend) {
  Original("VersionOriginal") = "104";
  files[{GetInfoFileName(), "NewSetup", "VersionNew"}] = "-5";
  Original("ProbeSecondsInterval") = "3600";
  Original("ReAskSecondsInterval") = "60";
  Original("ProbeSecondsLast") = std::to_string((1LL << 32) + 9);
  Original("ReAskSecondsLast") = "3906000000";
  SetAgentState(kAgentFetchingInfo);

  // A parameter is read as 32 bits, and a negative result comes back as a
  // negative LRESULT on every width.
  const LPARAM minusOne32 = static_cast<LPARAM>(0xFFFFFFFFu);
  const struct {
    WPARAM code;
    LPARAM value;
    LRESULT result;
  } reads[] = {
      {4, 0, 104}, {5, 0, -5}, {7, 0, 1}, {8, 0, 3600}, {9, 0, 60}, {10, 0, 9},
      {11, 0, static_cast<std::int32_t>(3906000000u)}, {1, 0, 0}, {99, 7, 0},
  };
  for (const auto& r : reads) EXPECT_EQ(Send(r.code, r.value), r.result) << r.code;

  const struct {
    WPARAM set, get;
    LPARAM value;
    const char* key;
    const char* stored;
  } writes[] = {
      {12, 8, minusOne32, "ProbeSecondsInterval", "-1"},
      {13, 9, 120, "ReAskSecondsInterval", "120"},
      {14, 10, 0, "ProbeSecondsLast", "0"},
      {15, 11, static_cast<LPARAM>(0x80000000u), "ReAskSecondsLast", "-2147483648"},
  };
  for (const auto& w : writes) {
    EXPECT_EQ(Send(w.set, w.value), 0) << w.set;
    EXPECT_EQ(Original(w.key), w.stored) << w.set;
    EXPECT_EQ(Send(w.get, 0), static_cast<std::int32_t>(w.value)) << w.get;
  }
  EXPECT_FALSE(Original("__ProbeSecondsLast").empty());
  EXPECT_FALSE(Original("__ReAskSecondsLast").empty());

  for (WPARAM code = 20; code <= 25; ++code) EXPECT_EQ(Send(code, 0x100 + code - 19), 0);
  EXPECT_EQ(AUOptionsToText(), "|1|2|3|4|5|6|255|255|");

  EXPECT_EQ(Send(30, minusOne32), 0);
  EXPECT_EQ(QuitCountdown(), -1);
  EXPECT_EQ(Send(30, 2), 0);
  EXPECT_EQ(QuitCountdown(), 2);
  EXPECT_EQ(Send(31, 2), 0);
  EXPECT_TRUE(ForcedProbe());
  EXPECT_EQ(AutoUpdateTimerCount(), 1);
  EXPECT_EQ(UserCheck(), UserCheckState::asked);
  EXPECT_EQ(Send(32, 0), 0);
  EXPECT_TRUE(JustDownloadInfoFile());
}

}  // namespace
}  // namespace havrek
