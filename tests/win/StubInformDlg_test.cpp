// The information page window driven in-process: a thread timer, served by
// the page's own loop, looks at the finished window and closes it. Suite
// StubInformDlgWeb runs through the win_inform test, which starts the web
// server fixture (HAVREK_HTTP_PORT).
#include "agent/StubInformDlg.h"

#include <windows.h>
#include <richedit.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "agent/StubAUFetch.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "files/Files.h"
#include "net/InetHTTP.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "ui/HMsgBox.h"
#include "ui/UiKitWin.h"
#include "util/Utils.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "BuildTree.h"

namespace havrek {
namespace {

constexpr char kOwnToken[] = "Build-7";

struct PagePart {
  RECT rect = {};  // in the page's client coordinates
  std::string text;
  LOGFONTA font = {};
  bool found = false;
};

struct PageParts {
  HWND window = nullptr;
  std::string caption;
  RECT outer = {};
  RECT client = {};
  PagePart edit, button;
  HWND buttonWindow = nullptr;
  HGDIOBJ editFont = nullptr, buttonFont = nullptr;
  bool buttonFocused = false;
  LONG_PTR buttonMark = 0;
  bool buttonDefault = false;
};

std::string TextOf(HWND window) {
  const int n = GetWindowTextLengthA(window);
  std::string text(n + 1, '\0');
  text.resize(GetWindowTextA(window, text.data(), n + 1));
  return text;
}

void Read(HWND page, HWND child, PagePart& part, HGDIOBJ& font) {
  part.found = true;
  GetWindowRect(child, &part.rect);
  MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&part.rect), 2);
  part.text = TextOf(child);
  font = reinterpret_cast<HGDIOBJ>(SendMessageA(child, WM_GETFONT, 0, 0));
  if (font) GetObjectA(font, sizeof part.font, &part.font);
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "RICHEDIT") == 0) {
    // The control reports the face of its text, not the font handle.
    CHARFORMATA format = {};
    format.cbSize = sizeof format;
    SendMessageA(child, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    lstrcpynA(part.font.lfFaceName, format.szFaceName, LF_FACESIZE);
  }
}

BOOL CALLBACK CollectPart(HWND child, LPARAM param) {
  auto* p = reinterpret_cast<PageParts*>(param);
  char cls[64] = {};
  GetClassNameA(child, cls, sizeof cls);
  if (lstrcmpiA(cls, "RICHEDIT") == 0) Read(p->window, child, p->edit, p->editFont);
  if (lstrcmpiA(cls, "Button") == 0) {
    p->buttonWindow = child;
    Read(p->window, child, p->button, p->buttonFont);
    p->buttonFocused = GetFocus() == child;
    p->buttonMark = GetWindowLongPtrA(child, GWLP_USERDATA);
    p->buttonDefault = (GetWindowLongA(child, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON;
  }
  return TRUE;
}

PageParts PartsOf(HWND window) {
  PageParts p;
  p.window = window;
  p.caption = TextOf(window);
  GetWindowRect(window, &p.outer);
  GetClientRect(window, &p.client);
  EnumChildWindows(window, CollectPart, reinterpret_cast<LPARAM>(&p));
  return p;
}

std::function<void(HWND)> g_probe;
bool g_probed = false;

void CALLBACK ProbeTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  const HWND page = FindWindowA(kInformPageClass, nullptr);
  if (!page || GetWindowThreadProcessId(page, nullptr) != GetCurrentThreadId() || g_probed) return;
  KillTimer(nullptr, timer);
  g_probed = true;
  g_probe(page);
}

// Runs show; probe sees the page once it is up and must end it. A page that
// does not end fails the test instead of hanging it.
bool WithProbe(std::function<void(HWND)> probe, const std::function<bool()>& show) {
  g_probe = std::move(probe);
  g_probed = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, ProbeTimer);
  const UINT_PTR safety = SetTimer(nullptr, 0, 15000, [](HWND, UINT, UINT_PTR t, DWORD) {
    KillTimer(nullptr, t);
    if (const HWND page = FindWindowA(kInformPageClass, nullptr)) DestroyWindow(page);
    ADD_FAILURE() << "the page was ended by the safety timer";
  });
  const bool result = show();
  KillTimer(nullptr, timer);
  KillTimer(nullptr, safety);
  return result;
}

void ClickButton(HWND page) {
  PageParts p = PartsOf(page);
  ASSERT_NE(p.buttonWindow, nullptr);
  PostMessageA(page, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(p.buttonWindow), BN_CLICKED),
               reinterpret_cast<LPARAM>(p.buttonWindow));
}

bool Show(const std::string& text, const std::string& link, int w = 360, int h = 360,
          const std::string& face = "Tahoma", int points = 8) {
  return ShowInformPage(0, "New Version", "Download", text, link, w, h, face, points, 0);
}

bool ClassRegistered() {
  WNDCLASSA wc;
  return GetClassInfoA(GetModuleHandleA(nullptr), kInformPageClass, &wc) != FALSE;
}

TEST(StubInformDlg, WindowTextButtonAndFontsFollowTheSettings) {
  PageParts seen, resized;
  const bool shown = WithProbe(
      [&](HWND page) {
        seen = PartsOf(page);
        SetWindowPos(page, nullptr, 0, 0, 520, 410, SWP_NOMOVE | SWP_NOZORDER);
        resized = PartsOf(page);
        PostMessageA(page, WM_CLOSE, 0, 0);
      },
      [] { return Show("Hello|World", " http://example.test/get ", 400, 300, "Tahoma", 10); });
  EXPECT_TRUE(shown);
  ASSERT_TRUE(g_probed);

  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  EXPECT_EQ(seen.outer.left, (sw - 400) / 2);
  EXPECT_EQ(seen.outer.top, (sh - 300) / 2);
  EXPECT_EQ(seen.outer.right - seen.outer.left, 400);
  EXPECT_EQ(seen.outer.bottom - seen.outer.top, 300);
  EXPECT_EQ(seen.caption, "New Version");

  for (const PageParts* p : {&seen, &resized}) {
    SCOPED_TRACE(p == &seen ? "as shown" : "after the resize");
    const int cw = p->client.right, ch = p->client.bottom;
    ASSERT_TRUE(p->edit.found);
    EXPECT_EQ(p->edit.rect.left, 3);
    EXPECT_EQ(p->edit.rect.top, 0);
    EXPECT_EQ(p->edit.rect.right, cw);
    EXPECT_EQ(p->edit.rect.bottom, ch - 43);
    ASSERT_TRUE(p->button.found);
    EXPECT_EQ(p->button.rect.left, (cw - 160) / 2);
    EXPECT_EQ(p->button.rect.top, ch - 33);
    EXPECT_EQ(p->button.rect.right - p->button.rect.left, 160);
    EXPECT_EQ(p->button.rect.bottom - p->button.rect.top, 25);
  }
  EXPECT_EQ(resized.outer.right - resized.outer.left, 520);
  EXPECT_GT(resized.client.right, seen.client.right);

  EXPECT_EQ(seen.edit.text, "Hello|World");
  EXPECT_STREQ(seen.edit.font.lfFaceName, "Verdana");
  EXPECT_EQ(seen.button.text, "Download");
  EXPECT_STREQ(seen.button.font.lfFaceName, "Tahoma");
  EXPECT_EQ(seen.button.font.lfHeight, -PointsToPixels(10));
  EXPECT_TRUE(seen.buttonFocused);
  EXPECT_EQ(seen.buttonMark, 1);
  EXPECT_TRUE(seen.buttonDefault);

  // Nothing of the page outlives it.
  EXPECT_FALSE(IsWindow(seen.window));
  EXPECT_EQ(GetObjectType(seen.buttonFont), 0u);
  EXPECT_FALSE(ClassRegistered());
}

TEST(StubInformDlg, WithoutALinkTheTextFillsTheWindow) {
  PageParts seen;
  const bool shown = WithProbe(
      [&](HWND page) {
        seen = PartsOf(page);
        PostMessageA(page, WM_SYSCOMMAND, SC_CLOSE, 0);
      },
      [] { return Show("Just news", "  ", 360, 360, "Arial"); });
  EXPECT_TRUE(shown);
  EXPECT_FALSE(seen.button.found);
  ASSERT_TRUE(seen.edit.found);
  EXPECT_EQ(seen.edit.rect.bottom, seen.client.bottom);
  EXPECT_EQ(seen.edit.rect.right, seen.client.right);
  EXPECT_STREQ(seen.edit.font.lfFaceName, "Arial");
}

TEST(StubInformDlg, NeitherTextNorLinkShowsNothing) {
  EXPECT_FALSE(Show("", ""));
  EXPECT_FALSE(Show("", "   "));
  EXPECT_EQ(FindWindowA(kInformPageClass, nullptr), nullptr);
}

// Shown and closed many times, as an agent does over weeks: the objects the
// page makes go with it.
TEST(StubInformDlg, RepeatedPagesLeaveNoObjectsBehind) {
  auto once = [] {
    return WithProbe([](HWND page) { PostMessageA(page, WM_CLOSE, 0, 0); },
                     [] { return Show("Page text", "http://example.test/", 360, 360, "Arial", 9); });
  };
  ASSERT_TRUE(once());  // the first page loads what stays for the process
  const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD userBefore = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  constexpr int kPages = 100;
  for (int i = 0; i < kPages; ++i) ASSERT_TRUE(once()) << i;
  const DWORD gdiAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  const DWORD userAfter = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  std::printf("GDI objects %lu -> %lu, USER objects %lu -> %lu after %d pages\n", gdiBefore, gdiAfter, userBefore,
              userAfter, kPages);
  EXPECT_LE(gdiAfter, gdiBefore + 4);
  EXPECT_LE(userAfter, userBefore + 4);
}

// ---- The link ----

int CountProcesses(const char* exeName) {
  int count = 0;
  const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry))
    if (lstrcmpiA(entry.szExeFile, exeName) == 0) ++count;
  CloseHandle(snap);
  return count;
}

void EndProcesses(const char* exeName) {
  const HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL ok = Process32First(snap, &entry); ok; ok = Process32Next(snap, &entry)) {
    if (lstrcmpiA(entry.szExeFile, exeName) != 0) continue;
    if (const HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(p, 1);
      CloseHandle(p);
    }
  }
  CloseHandle(snap);
}

TEST(StubInformDlg, ALinkThatIsNoWebAddressIsNotOpened) {
  EndProcesses("notepad.exe");
  ASSERT_EQ(CountProcesses("notepad.exe"), 0);
  const std::string links[] = {"C:\\Windows\\notepad.exe", "file:///C:/Windows/notepad.exe",
                               "\\\\127.0.0.1\\c$\\Windows\\notepad.exe"};
  for (const std::string& link : links) {
    SCOPED_TRACE(link);
    EXPECT_TRUE(WithProbe([](HWND page) { ClickButton(page); }, [&] { return Show("Click me", link); }));
    // The empty page would open the link straight away.
    EXPECT_FALSE(Show("", link));
  }
  WaitYielding(0, 2000);
  EXPECT_EQ(CountProcesses("notepad.exe"), 0);
  EndProcesses("notepad.exe");
}

// ---- PerformAutoInform on a prepared .info file ----

std::string InfoName() { return "Tool.info"; }
bool NoTestMode(std::string& location) {
  location.clear();
  return false;
}

class StubInformDlgAgent : public ::testing::Test {
 protected:
  void SetUp() override {
    // The log file's place is fixed at its first use: beside the test
    // program, where the other tests look for it too.
    InitProcessCommandLine();
    log_ = LogFilePath();
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    root_ = TempDir(true) + "havrek inform " + std::to_string(GetCurrentProcessId()) + "\\";
    DeleteTree(root_, true);
    agent_ = root_ + "agent\\";
    src_ = root_ + "src";
    for (const std::string& dir : {root_, agent_, src_ + "\\"}) ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    SetProcessCommandLine("\"" + agent_ + "Agent.exe\"", agent_ + "Agent.exe");
    MakeOwnPackage();
    SettingsIni ini;
    ini.read = &ReadIniString;
    ini.write = &WriteIniString;
    ini.infoName = &InfoName;
    SetSettingsIni(ini);
    SetFetchTestModeProbe(&NoTestMode);
    SetUnattended(true);
    DeleteFileA(log_.c_str());
    SetLogEnabled(true);
    ASSERT_TRUE(WriteFileText(agent_ + "Tool.original",
                              "[OriginalSetup]\r\nVersionOriginal=1\r\n[MsgBox]\r\nFontName=Arial\r\nFontSize=9\r\n"
                              "[AutoUpdate]\r\ns34=What is new\r\ns35=Get it\r\n"));
  }
  void TearDown() override {
    SetLogEnabled(false);
    DeleteFileA(log_.c_str());
    SetUnattended(false);
    SetFetchTestModeProbe(nullptr);
    SetSettingsIni(SettingsIni());
    SetOwnPackage(nullptr);
    SetProcessCommandLine(savedCommandLine_, savedExe_);
    DeleteTree(root_, true);
  }

  void MakeOwnPackage() {
    std::string stub(2048, '\0');
    stub.replace(0, 2, "MZ");
    stub.replace(256, 4, std::string("PE\0\0", 4));
    ASSERT_TRUE(WriteFileText(root_ + "stub.bin", stub));
    ASSERT_TRUE(WriteFileText(root_ + "engine.bin", "engine"));
    PackOptions o;
    o.stubPath = root_ + "stub.bin";
    o.outPath = root_ + "own.exe";
    o.files.push_back(PackFile{root_ + "engine.bin", "engine.exe", true, ""});
    o.update.token = EncodeToken(kOwnToken);
    const PackResult r = WritePackage(o);
    ASSERT_TRUE(r.ok) << r.error;
    SetOwnPackage(std::make_unique<TGFileInfo>(o.outPath));
  }
  void LayInfo(const std::string& link) {
    ASSERT_TRUE(WriteFileText(agent_ + "Tool.info", "[NewSetup]\r\nDownloadURL_UPDATE=" + src_ +
                                                        "\r\nVersionNew=5\r\n[General]\r\nAutoInform=1\r\n"
                                                        "[AutoInform]\r\nNameOfInformFile=News.page\r\n"
                                                        "DownloadURL_INFORM=" + link + "\r\nAutoInformW=420\r\n"));
  }
  std::string Log() const { return ReadFileText(log_); }

  std::string savedCommandLine_, savedExe_, root_, agent_, src_, log_;
};

TEST_F(StubInformDlgAgent, APageOfThisBuildIsShownAndNotOfferedAgain) {
  LayInfo("");
  ASSERT_TRUE(WriteFileText(src_ + "\\News.page", MakeInformPage(EncodeToken(kOwnToken), "Version 5|out now", true)));
  PageParts seen;
  EXPECT_TRUE(WithProbe(
      [&](HWND page) {
        seen = PartsOf(page);
        PostMessageA(page, WM_CLOSE, 0, 0);
      },
      [] { return PerformAutoInform(); }));
  EXPECT_EQ(seen.caption, "What is new");
  EXPECT_EQ(seen.edit.text, "Version 5|out now");
  EXPECT_STREQ(seen.edit.font.lfFaceName, "Arial");
  EXPECT_EQ(seen.outer.right - seen.outer.left, 420);
  EXPECT_EQ(seen.outer.bottom - seen.outer.top, 360);
  EXPECT_FALSE(seen.button.found);
  EXPECT_EQ(GetVersionOriginal(), 5);
  const std::string log = Log();
  EXPECT_NE(log.find("PerformAutoInform() - START"), std::string::npos) << log;
  EXPECT_NE(log.find("PerformAutoInform() - END TRUE"), std::string::npos) << log;
}

// A page whose window cannot be made was not shown: it stays on offer.
TEST_F(StubInformDlgAgent, APageWhoseWindowCannotBeMadeIsOfferedAgain) {
  LayInfo("");
  ASSERT_TRUE(WriteFileText(src_ + "\\News.page", MakeInformPage(EncodeToken(kOwnToken), "Version 5", true)));
  // A class of the page's name that refuses every window takes the place
  // of the page's own.
  WNDCLASSA wc = {};
  wc.lpfnWndProc = [](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
    return msg == WM_NCCREATE ? FALSE : DefWindowProcA(w, msg, wp, lp);
  };
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kInformPageClass;
  ASSERT_TRUE(RegisterClassA(&wc));
  const bool shown = PerformAutoInform();
  UnregisterClassA(kInformPageClass, GetModuleHandleA(nullptr));
  EXPECT_FALSE(shown);
  EXPECT_EQ(GetVersionOriginal(), 1);
  const std::string log = Log();
  EXPECT_NE(log.find("ShowInformPage: no window"), std::string::npos) << log;
  EXPECT_NE(log.find("PerformAutoInform() - END FALSE"), std::string::npos) << log;
}

TEST_F(StubInformDlgAgent, APageOfAnotherBuildIsDeletedAndNothingShown) {
  LayInfo("http://example.test/");
  ASSERT_TRUE(WriteFileText(src_ + "\\News.page", MakeInformPage(EncodeToken("Other-1"), "Buy this", false)));
  g_probed = false;
  EXPECT_FALSE(PerformAutoInform());
  EXPECT_FALSE(plat::Exists(agent_ + "News.page"));
  EXPECT_EQ(GetVersionOriginal(), 1);
  const std::string log = Log();
  EXPECT_NE(log.find(kBadSecretTokenText), std::string::npos) << log;
  EXPECT_NE(log.find("PerformAutoInform() - END FALSE"), std::string::npos) << log;
}

TEST_F(StubInformDlgAgent, WithoutAnInformFileNothingIsFetched) {
  ASSERT_TRUE(WriteFileText(agent_ + "Tool.info", "[NewSetup]\r\nDownloadURL_UPDATE=" + src_ + "\r\n"));
  EXPECT_FALSE(PerformAutoInform());
  const std::string log = Log();
  EXPECT_EQ(log.find("Download START"), std::string::npos) << log;
  EXPECT_NE(log.find("PerformAutoInform() - END FALSE"), std::string::npos) << log;
}

// ---- The button against the web server fixture ----

class StubInformDlgWeb : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("HAVREK_HTTP_PORT");
    if (!port || !*port) GTEST_SKIP() << "no web server fixture (run through the win_inform test)";
    host_ = std::string("http://127.0.0.1:") + port;
    // The shell hands web addresses to the system's browser; in this prefix
    // that is curl, which just fetches the page.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, browserKey_.put(), nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(browserKey_.get(), "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>("curl"), 5);
    HTTP_DownloadFile(nullptr, host_ + "/forget", "", nullptr);
  }
  void TearDown() override {
    if (browserKey_) RegDeleteValueA(browserKey_.get(), "Browsers");
  }
  bool Requested(const std::string& path, std::int64_t waitMs) {
    for (const std::int64_t end = TickMs() + waitMs;;) {
      if (HTTP_DownloadFile(nullptr, host_ + "/requests", "", nullptr).body.find("GET " + path + "|") !=
          std::string::npos)
        return true;
      if (TickMs() > end) return false;
      WaitYielding(0, 200);
    }
  }

  std::string host_;
  RegKey browserKey_;
};

TEST_F(StubInformDlgWeb, TheButtonOpensAWebLink) {
  EXPECT_TRUE(WithProbe([](HWND page) { ClickButton(page); },
                        [&] { return Show("Click me", host_ + "/files/clicked.html"); }));
  EXPECT_TRUE(Requested("/files/clicked.html", 20000));
  EXPECT_TRUE(Show("", host_ + "/files/straight.html"));
  EXPECT_TRUE(Requested("/files/straight.html", 20000));
}

}  // namespace
}  // namespace havrek
