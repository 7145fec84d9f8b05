#include "launcher/MainWindow.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "files/Files.h"
#include "launcher/StubWin.h"
#include "net/InetHTTP.h"
#include "setup/StubSetupFolder.h"
#include "ui/UiKitWin.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "BuildTree.h"

namespace havrek {
namespace {

bool IsFolder(const std::string& path) {
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

RECT ClientRectOf(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string ClassOf(HWND window) {
  char name[300] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

using test::DrainQuit;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProcessCommandLine();
    MainHooks() = MainWindowHooks{};
    SetDownloadAbort(false);
  }
  void TearDown() override {
    if (MainWindowHandle()) DestroyWindow(MainWindowHandle());
    DrainQuit();
    MainHooks() = MainWindowHooks{};
    SetDownloadAbort(false);
  }
  HWND Create(int charset = 0) {
    const HWND w = CreateMainWindow("Caption of the setup", charset);
    EXPECT_NE(w, nullptr);
    EXPECT_EQ(MainWindowHandle(), w);
    return w;
  }
};

TEST_F(MainWindowTest, CreatedHiddenWithTheLayoutOfItsLanguage) {
  struct Case {
    int charset;
    int statusX, activityX;
  } cases[] = {{0, 70, 416}, {177, 122, 70}, {178, 122, 70}, {186, 70, 416}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    const HWND w = Create(c.charset);
    ASSERT_TRUE(w);
    EXPECT_FALSE(IsWindowVisible(w));
    EXPECT_EQ(ClassOf(w), StubWindowClassFor(false, ExePath(false)));
    EXPECT_EQ(GetClassLongA(w, GCL_STYLE), static_cast<DWORD>(CS_DBLCLKS));
    EXPECT_EQ(WindowText(w), "Caption of the setup");

    const LONG_PTR style = GetWindowLongPtrA(w, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN), WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    RECT outer;
    GetWindowRect(w, &outer);
    EXPECT_EQ(outer.right - outer.left, 492);
    EXPECT_EQ(outer.bottom - outer.top, 110);
    const ScreenPoint centred = CenterInWorkArea(492, 110);
    EXPECT_EQ(outer.left, centred.x);
    EXPECT_EQ(outer.top, centred.y);

    struct Child {
      HWND handle;
      const char* cls;
      bool visible;
      RECT at;
    } children[] = {
        {StatusLine(), "Static", true, {c.statusX, 20, c.statusX + 340, 38}},
        {MainProgressBar(), "msctls_progress32", true, {70, 38, 462, 51}},
        {ActivityBar(), "msctls_progress32", false, {c.activityX, 20, c.activityX + 46, 33}},
    };
    for (const Child& child : children) {
      ASSERT_TRUE(child.handle) << child.cls;
      EXPECT_EQ(GetParent(child.handle), w);
      EXPECT_TRUE(SameText(ClassOf(child.handle), child.cls));
      // The parent is hidden, so only the child's own flag tells.
      EXPECT_EQ((GetWindowLongPtrA(child.handle, GWL_STYLE) & WS_VISIBLE) != 0, child.visible) << child.cls;
      const RECT r = ClientRectOf(child.handle);
      EXPECT_EQ(r.left, child.at.left) << child.cls;
      EXPECT_EQ(r.top, child.at.top) << child.cls;
      EXPECT_EQ(r.right, child.at.right) << child.cls;
      EXPECT_EQ(r.bottom, child.at.bottom) << child.cls;
    }
    EXPECT_EQ(WindowText(StatusLine()), "");

    DestroyWindow(w);
    EXPECT_EQ(MainWindowHandle(), nullptr);
    EXPECT_EQ(StatusLine(), nullptr);
    DrainQuit();
  }
}

TEST_F(MainWindowTest, ClassNameOfALongPathStillRegisters) {
  const std::string shortPath = "C:\\Setups\\Stub.exe";
  const std::string atLimit = "C:\\" + std::string(243, 'a') + "\\Stub.exe";
  ASSERT_EQ(atLimit.size(), 255u);
  EXPECT_EQ(StubWindowClassFor(false, shortPath), shortPath);
  EXPECT_EQ(StubWindowClassFor(false, atLimit), atLimit);
  // An agent's class carries the digest of its path: two products whose
  // agents share a name each have their own.
  EXPECT_EQ(StubWindowClassFor(true, shortPath), ".AutoUpdate.~" + NameDigest(shortPath) + "~Stub");
  EXPECT_NE(StubWindowClassFor(true, "C:\\Other\\Stub.exe"), StubWindowClassFor(true, shortPath));

  const std::string deep = "C:\\" + std::string(150, 'd') + "\\" + std::string(150, 'e') + "\\Stub.exe";
  const std::string agent = "C:\\x\\" + std::string(250, 'n') + ".exe";
  for (const auto& [autoUpdate, path] : {std::pair{false, deep}, std::pair{true, agent}}) {
    SCOPED_TRACE(autoUpdate);
    const std::string name = StubWindowClassFor(autoUpdate, path);
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 20), path.substr(path.size() - (autoUpdate ? 24 : 20), 20));
    // The same file under another case is the same class; another file is not.
    EXPECT_TRUE(SameText(StubWindowClassFor(autoUpdate, UpperCase(path)), name));
    std::string other = path;
    other[5] = 'z';
    EXPECT_NE(StubWindowClassFor(autoUpdate, other), name);
  }

  SetProcessCommandLine("", deep);
  const HWND w = Create();
  ASSERT_TRUE(w);
  EXPECT_EQ(ClassOf(w), StubWindowClassFor(false, deep));
  EXPECT_EQ(FindWindowA(StubWindowClassFor(false, deep).c_str(), nullptr), w);
}

LOGFONTA FontOf(HWND control) {
  LOGFONTA lf{};
  const auto font = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
  EXPECT_NE(font, nullptr);
  GetObjectA(font, sizeof lf, &lf);
  return lf;
}

TEST_F(MainWindowTest, StatusTextSetsReadingOrderFontAndText) {
  Create();
  const LOGFONTA initial = FontOf(StatusLine());
  EXPECT_EQ(initial.lfHeight, -11);
  EXPECT_STREQ(initial.lfFaceName, "Tahoma");

  struct Case {
    int charset;
    bool rtl;
  } cases[] = {{0, false}, {177, true}, {204, false}, {178, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.charset);
    SetStatusText(StatusLine(), "Extracting Files...", "Arial", 10, c.charset);
    EXPECT_EQ(WindowText(StatusLine()), "Extracting Files...");
    const LOGFONTA lf = FontOf(StatusLine());
    EXPECT_EQ(lf.lfHeight, -PointsToPixels(10));
    EXPECT_EQ(lf.lfCharSet, c.charset);
    EXPECT_STREQ(lf.lfFaceName, "Arial");
    EXPECT_EQ((GetWindowLongPtrA(StatusLine(), GWL_EXSTYLE) & WS_EX_RTLREADING) != 0, c.rtl);
    const LONG_PTR style = GetWindowLongPtrA(StatusLine(), GWL_STYLE);
    EXPECT_EQ((style & SS_TYPEMASK) == SS_RIGHT, c.rtl);
    EXPECT_TRUE(style & WS_VISIBLE);
  }
  SetStatusText(nullptr, "nowhere", "Tahoma", 8, 0);  // no window: nothing to do
}

int Pos(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }
int High(HWND bar) { return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)); }

TEST_F(MainWindowTest, ProgressSinkResetsAndStepsBothBars) {
  Create();
  ProgressSink(0, 0, 100, 2, 3, "");
  EXPECT_EQ(High(MainProgressBar()), 100);
  EXPECT_EQ(Pos(MainProgressBar()), 2);
  EXPECT_EQ(High(ActivityBar()), 5);
  EXPECT_EQ(Pos(ActivityBar()), 0);

  // The activity bar cycles through six positions, one per step.
  const int activity[] = {1, 2, 3, 4, 5, 0, 1};
  int main = 2;
  for (int expected : activity) {
    ProgressSink(1, 0, 0, 0, 0, "ignored");
    main += 3;
    EXPECT_EQ(Pos(MainProgressBar()), main);
    EXPECT_EQ(Pos(ActivityBar()), expected);
  }

  ProgressSink(2, 0, 99, 50, 1, "");  // unknown kind: nothing moves
  EXPECT_EQ(High(MainProgressBar()), 100);
  EXPECT_EQ(Pos(ActivityBar()), 1);

  ProgressSink(0, 0, 70000, 0, 1, "");  // only the low 16 bits of the maximum count
  EXPECT_EQ(High(MainProgressBar()), 70000 & 0xFFFF);
}

TEST_F(MainWindowTest, FirstCloseOnlyAbortsTheDownloadSecondCloses) {
  const HWND w = Create();
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_TRUE(DownloadAborted());
  EXPECT_TRUE(IsWindow(w));
  SendMessageA(w, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(MainWindowHandle(), nullptr);
}

TEST_F(MainWindowTest, DestroyAndSentQuitRemoveTheSetupFolder) {
  struct Case {
    const char* how;
    bool destroy;
  } cases[] = {{"WM_DESTROY", true}, {"sent WM_QUIT", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    const HWND w = Create();
    const std::string folder = SetupFolder();
    ASSERT_TRUE(WriteFileText(folder + "\\engine.exe", "MZ"));
    SetDownloadAbort(false);
    if (c.destroy) {
      DestroyWindow(w);
    } else {
      SendMessageA(w, WM_QUIT, 0, 0);
      EXPECT_TRUE(IsWindow(w));
    }
    EXPECT_FALSE(IsFolder(folder));
    EXPECT_TRUE(DownloadAborted());
    MSG msg;
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    if (IsWindow(w)) DestroyWindow(w);
    DrainQuit();
  }
}

struct Seen {
  WPARAM shutDown = 0;
  WPARAM listener = 0;
  LPARAM listenerMessage = 0;
} seen;

TEST_F(MainWindowTest, PrivateMessagesReachTheirFlows) {
  const HWND w = Create();
  // Without the agent's handlers the messages are harmless.
  EXPECT_EQ(SendMessageA(w, wm_AgentMsg, 8, 1), 0);
  SendMessageA(w, wm_ShutDown, 3, 0);

  seen = {};
  MainHooks().shutDown = [](WPARAM n) { seen.shutDown = n; };
  MainHooks().localMsg = [](WPARAM window, LPARAM message) {
    seen.listener = window;
    seen.listenerMessage = message;
  };
  MainHooks().agentMsg = [](WPARAM code, LPARAM value) -> LRESULT { return static_cast<LRESULT>(code * 100 + value); };
  SendMessageA(w, wm_ShutDown, 5, 0);
  SendMessageA(w, wm_LocalMsg, 0x1234, 0x8001);
  EXPECT_EQ(seen.shutDown, 5u);
  EXPECT_EQ(seen.listener, 0x1234u);
  EXPECT_EQ(seen.listenerMessage, 0x8001);
  EXPECT_EQ(SendMessageA(w, wm_AgentMsg, 12, 7), 1207);

  MainHooks().agentMsg = [](WPARAM, LPARAM) -> LRESULT { throw std::runtime_error("bad command"); };
  EXPECT_EQ(SendMessageA(w, wm_AgentMsg, 1, 1), 0);

  RegisterAutoPlayMessage(true);
  EXPECT_EQ(SendMessageA(w, AutoPlayMessage(), 0, 0), 1);
  RegisterAutoPlayMessage(false);
}

// WinMain, failing instead of hanging when its loop does not end.
void RunGuarded() {
  const UINT_PTR guard = SetTimer(nullptr, 0, 15000, [](HWND, UINT, UINT_PTR, DWORD) {
    ADD_FAILURE() << "the loop did not end";
    DestroyWindow(MainWindowHandle());
  });
  WinMain();
  KillTimer(nullptr, guard);
}

struct Run {
  int ticks = 0;
  bool hiddenAtTick = false;
  bool ended = false;
  bool abortedWhenEnded = false;
} run;

TEST_F(MainWindowTest, TimerDrivesTheRunUntilTheWindowCloses) {
  run = {};
  MainHooks().setupTick = [] {
    ++run.ticks;
    run.hiddenAtTick = !IsWindowVisible(MainWindowHandle());
    if (run.ticks == 2) {
      PostMessageA(MainWindowHandle(), WM_CLOSE, 0, 0);
      PostMessageA(MainWindowHandle(), WM_CLOSE, 0, 0);
    }
  };
  MainHooks().loopEnded = [] {
    run.ended = true;
    run.abortedWhenEnded = DownloadAborted();
  };
  MainHooks().sleepTicks = [](std::int64_t) { ADD_FAILURE() << "no /SleepX= on this command line"; };

  const std::int64_t start = TickMs();
  RunGuarded();
  const std::int64_t took = TickMs() - start;
  EXPECT_EQ(run.ticks, 2);
  EXPECT_TRUE(run.hiddenAtTick);
  EXPECT_GE(took, 1800);
  EXPECT_LT(took, 10000);
  EXPECT_EQ(MainWindowHandle(), nullptr);
  EXPECT_TRUE(run.abortedWhenEnded);
  EXPECT_TRUE(run.ended);
}

TEST_F(MainWindowTest, AFailingSetupTickEndsTheRun) {
  run = {};
  const std::string folder = SetupFolder();
  ASSERT_TRUE(WriteFileText(folder + "\\part.bin", "x"));
  MainHooks().setupTick = [] {
    ++run.ticks;
    throw std::runtime_error("inflate failed");
  };
  RunGuarded();
  EXPECT_EQ(run.ticks, 1);
  EXPECT_FALSE(IsFolder(folder));
}

}  // namespace
}  // namespace havrek
