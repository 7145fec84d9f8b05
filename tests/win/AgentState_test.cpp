#include "agent/AgentStateWin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "context/StubContext.h"
#include "files/Files.h"
#include "launcher/AgentHooks.h"
#include "launcher/MainWindow.h"
#include "launcher/StubWin.h"
#include "net/InetHTTP.h"
#include "platform/Platform.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"

namespace havrek {
namespace {

using test::FixturePath;

constexpr char kSubKey[] = "Software\\Morvessa\\Havrek\\AutoUpdate";

// The test-mode key of the prefix, as the test found it once the test is
// over: values it set are restored or removed, keys it made are removed.
class TestModeRegistry {
 public:
  TestModeRegistry() {
    for (const char* path : kPaths) {
      RegKey probe;
      existed_.push_back(RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, probe.put()) == ERROR_SUCCESS);
    }
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr),
              ERROR_SUCCESS);
  }
  ~TestModeRegistry() {
    for (const auto& [name, before] : saved_) {
      if (before) {
        RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(before->c_str()),
                       static_cast<DWORD>(before->size() + 1));
      } else {
        RegDeleteValueA(key_.get(), name.c_str());
      }
    }
    key_.reset();
    for (std::size_t i = existed_.size(); i-- > 0;)
      if (!existed_[i]) RegDeleteKeyA(HKEY_CURRENT_USER, kPaths[i]);
  }

  void Set(const std::string& name, const std::optional<std::string>& value) {
    Save(name);
    if (value) {
      ASSERT_EQ(RegSetValueExA(key_.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                               static_cast<DWORD>(value->size() + 1)),
                ERROR_SUCCESS);
    } else {
      RegDeleteValueA(key_.get(), name.c_str());
    }
  }

 private:
  static constexpr const char* kPaths[] = {"Software\\Morvessa", "Software\\Morvessa\\Havrek", kSubKey};

  void Save(const std::string& name) {
    for (const auto& [saved, value] : saved_)
      if (saved == name) return;
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    DWORD type = 0;
    const bool present = RegQueryValueExA(key_.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                                          &size) == ERROR_SUCCESS;
    saved_.emplace_back(name, present ? std::optional<std::string>(buffer) : std::nullopt);
  }

  RegKey key_;
  std::vector<bool> existed_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

std::string DayText(int offset) {
  return DateText(DaysToLocalTime(LocalTimeToDays(plat::Now()) + offset));
}

class AgentTestModeTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetAgentState(); }
  void TearDown() override { ResetAgentState(); }
  TestModeRegistry registry_;
};

TEST_F(AgentTestModeTest, ReadFromTheUsersRegistryOnlyOnTheDayItNames) {
  struct Case {
    const char* what;
    std::optional<std::string> mode, date, url;
    bool on;
    const char* location;
  } cases[] = {
      {"on today", "1", DayText(0), "C:\\TestDrop", true, "C:\\TestDrop"},
      {"yesterday", "1", DayText(-1), "C:\\TestDrop", false, "C:\\TestDrop"},
      {"tomorrow", "1", DayText(1), "C:\\TestDrop", false, "C:\\TestDrop"},
      {"today, no location", "1", DayText(0), std::nullopt, true, ""},
      {"switched off", "0", DayText(0), "C:\\TestDrop", false, "C:\\TestDrop"},
      {"no values", std::nullopt, std::nullopt, std::nullopt, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    registry_.Set("TestMode", c.mode);
    registry_.Set("TestModeDate", c.date);
    registry_.Set("TestModeURL", c.url);
    EXPECT_EQ(CheckTestMode(true), c.on);
    EXPECT_EQ(TestMode(), c.on);
    EXPECT_EQ(TestModeLocation(), c.location);
  }
}

std::uint32_t fakeNow = 0;

TEST_F(AgentTestModeTest, ARunningAgentPicksUpTheSwitchAfterThePause) {
  registry_.Set("TestMode", "1");
  registry_.Set("TestModeDate", DayText(0));
  registry_.Set("TestModeURL", "C:\\TestDrop");
  ASSERT_TRUE(CheckTestMode(true));
  // Right after a read the real clock keeps the next unforced call from the registry.
  registry_.Set("TestMode", "0");
  EXPECT_TRUE(CheckTestMode(false));

  // The registry as the agent reads it, on a clock the test moves.
  TestModeSources sources = SystemTestModeSources();
  sources.tickCount = [] { return fakeNow; };
  fakeNow = 100000;
  registry_.Set("TestMode", "1");
  ASSERT_TRUE(CheckTestMode(true, sources));

  registry_.Set("TestMode", "0");
  for (int tick = 0; tick < 40; ++tick) {
    fakeNow += 1000;
    EXPECT_TRUE(CheckTestMode(false, sources)) << tick;
  }
  fakeNow += 31000;
  EXPECT_FALSE(CheckTestMode(false, sources));

  registry_.Set("TestMode", "1");
  fakeNow += 1000;
  EXPECT_FALSE(CheckTestMode(false, sources));
  EXPECT_TRUE(CheckTestMode(true, sources));
  EXPECT_EQ(TestModeLocation(), "C:\\TestDrop");
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadAll(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The listener fixture for one test: it registers with the first window of
// the class it is given and writes what it is told to its file.
class Listener {
 public:
  explicit Listener(const std::string& windowClass)
      : file_(TempDir(true) + "havrek_listener_" + std::to_string(GetCurrentProcessId()) + ".txt") {
    Clean();
    process_ = test::StartFixture("listener.exe", "\"" + file_ + "\" \"" + windowClass + "\" 60");
  }
  ~Listener() {
    WriteFileText(file_ + ".stop", "");
    if (process_ && WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    Clean();
  }
  bool Ready() const { return process_ && WaitFor(".ready", 1); }
  // Waits until count notifications have come.
  bool Received(std::size_t count) const { return WaitFor("", count); }
  std::vector<std::string> Notifications() const { return Lines(file_); }
  std::string Target() const { return ReadAll(file_ + ".target"); }

 private:
  bool WaitFor(const char* suffix, std::size_t lines) const {
    for (int i = 0; i < 400; ++i) {
      if (Lines(file_ + suffix).size() >= lines) return true;
      Sleep(50);
    }
    return false;
  }
  void Clean() const {
    for (const char* suffix : {"", ".ready", ".stop", ".target"}) DeleteFileA((file_ + suffix).c_str());
  }

  std::string file_;
  KernelHandle process_;
};

using test::DrainQuit;

struct AgentRun {
  HWND window = nullptr;
  int ticks = 0;
} agentRun;

// The agent copy's window as the stub runs it, in this process: the agent's
// hooks installed, a tick that ends the run once a listener has registered.
class AgentWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAgentState();
    MainHooks() = MainWindowHooks{};
    SetAutoUpdateProg(true);
    SetDownloadAbort(false);
    agentRun = {};
  }
  void TearDown() override {
    if (MainWindowHandle()) DestroyWindow(MainWindowHandle());
    DrainQuit();
    MainHooks() = MainWindowHooks{};
    SetAutoUpdateProg(false);
    SetDownloadAbort(false);
    InitProcessCommandLine();
    ResetAgentState();
  }
};

TEST_F(AgentWindowTest, ARegisteredListenerHearsTheWindowTheCommandMessageAndTheEnd) {
  const std::string exe = ExePath(false);
  SetProcessCommandLine("\"" + exe + "\" /SleepX=5", exe);
  Listener listener(StubWindowClassFor(true, exe));
  ASSERT_TRUE(listener.Ready());

  InstallAgentHooks();
  MainHooks().agentTick = [] {
    agentRun.window = MainWindowHandle();
    // Nothing is posted before the listener registers; the guard of 15
    // ticks keeps a listener that never comes from hanging the test.
    if (ListenerWindow() != 0 || ++agentRun.ticks >= 15) {
      PostMessageA(MainWindowHandle(), WM_CLOSE, 0, 0);
      PostMessageA(MainWindowHandle(), WM_CLOSE, 0, 0);
    }
  };
  WinMain();
  EXPECT_EQ(AutoUpdateTimerCount(), -5);
  ASSERT_NE(ListenerWindow(), 0u);

  ASSERT_TRUE(listener.Received(3)) << ::testing::PrintToString(listener.Notifications());
  const std::string window = std::to_string(reinterpret_cast<unsigned long long>(agentRun.window));
  EXPECT_EQ(listener.Target(), window);
  const std::vector<std::string> expected = {"50 " + window, "51 1125", "43 0"};
  EXPECT_EQ(listener.Notifications(), expected);
}

TEST_F(AgentWindowTest, ShutDownSetsTheCountdownAndANewListenerReplacesTheOld) {
  InstallAgentHooks();
  const HWND w = CreateMainWindow("Agent", 0);
  ASSERT_TRUE(w);
  struct Case {
    WPARAM sent;
    std::int64_t countdown;
  } cases[] = {{3, 3}, {0, 0}, {static_cast<WPARAM>(-1), -1}, {0xFFFFFFFFu, -1}};
  for (const Case& c : cases) {
    SendMessageA(w, wm_ShutDown, c.sent, 0);
    EXPECT_EQ(QuitCountdown(), c.countdown) << c.sent;
  }

  // Registering window 0 silences the notifications; the window of this
  // thread then hears only what comes after its own registration.
  SendMessageA(w, wm_LocalMsg, 0, WM_APP + 5);
  EXPECT_EQ(ListenerWindow(), 0u);
  AgentLoopEnded();
  SendMessageA(w, wm_LocalMsg, reinterpret_cast<WPARAM>(w), WM_APP + 6);
  AgentLoopEnded();
  std::vector<std::pair<WPARAM, LPARAM>> heard;
  MSG msg;
  while (PeekMessageA(&msg, w, WM_APP, WM_APP + 10, PM_REMOVE)) {
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_APP + 6));
    heard.emplace_back(msg.wParam, msg.lParam);
  }
  const std::vector<std::pair<WPARAM, LPARAM>> expected = {
      {50, reinterpret_cast<LPARAM>(w)}, {51, 1125}, {43, 0}};
  EXPECT_EQ(heard, expected);
}

// Posting to a number that is no window, or to HWND_BROADCAST, would reach
// every window of the session: such a listener is refused and the one
// registered before keeps hearing.
TEST_F(AgentWindowTest, AListenerThatIsNoWindowIsRefused) {
  InstallAgentHooks();
  const HWND w = CreateMainWindow("Agent", 0);
  ASSERT_TRUE(w);
  SendMessageA(w, wm_LocalMsg, reinterpret_cast<WPARAM>(w), WM_APP + 6);
  MSG msg;
  while (PeekMessageA(&msg, w, WM_APP, WM_APP + 10, PM_REMOVE)) {
  }
  const HWND gone = CreateWindowExA(0, "Static", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(gone);
  DestroyWindow(gone);
  for (const WPARAM bad : {static_cast<WPARAM>(0xFFFF), reinterpret_cast<WPARAM>(gone), static_cast<WPARAM>(0x12345)}) {
    SCOPED_TRACE(bad);
    SendMessageA(w, wm_LocalMsg, bad, WM_CLOSE);
    EXPECT_EQ(ListenerWindow(), reinterpret_cast<std::uintptr_t>(w));
    EXPECT_EQ(ListenerMessage(), static_cast<std::uint32_t>(WM_APP + 6));
  }
  EXPECT_TRUE(IsWindow(w));
}

}  // namespace
}  // namespace havrek
