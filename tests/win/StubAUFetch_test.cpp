// The agent fetching its .info file, update package and information page
// from a folder, and (suite StubAUFetchWeb, run through the win_fetch test)
// from the web server fixture, whose served folder arrives in
// HAVREK_HTTP_ROOT and its port in HAVREK_HTTP_PORT.
#include "agent/StubAUFetch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "agent/AgentState.h"
#include "agent/Settings.h"
#include "context/StubContext.h"
#include "diag/HDebug.h"
#include "diag/HDebugWin.h"
#include "files/Files.h"
#include "net/InetText.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "platform/Platform.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"
#include "DebugCapture.h"

namespace havrek {
namespace {

constexpr char kOwnToken[] = "Build-7";
constexpr char kInfoText[] = "[NewSetup]\r\nVersionNew=3\r\n";

// ---- What the fetch shows and says ----

// Everything the debug channel said since the fixture began, or since the
// test last cleared it.
std::string& g_debug = test::CapturedDebug();

struct StatusCall {
  std::string text, face;
  int points, charset;
};
std::vector<StatusCall> g_status;
void RecordStatus(HWND, const std::string& text, const std::string& face, int points, int charset) {
  g_status.push_back({text, face, points, charset});
}

struct ProgressCall {
  int kind, maximum, position, step;
  std::int64_t ms;
  bool visible;  // the main window, when the call came
};
std::vector<ProgressCall> g_progress;
void RecordProgress(int kind, int, int maximum, int position, int step, const std::string&) {
  g_progress.push_back({kind, maximum, position, step, TickMs(), IsWindowVisible(MainWindowHandle()) != FALSE});
}

bool g_testMode = false;
std::string g_testLocation;
bool FakeTestMode(std::string& location) {
  location = g_testLocation;
  return g_testMode;
}

std::string InfoName() { return "Tool.info"; }

bool Exists(const std::string& path) { return plat::Exists(path); }
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The agent lives in root\agent (a blank in the path), its sources lie in
// root\src; nothing of a fetch may land in root itself.
class StubAUFetch : public ::testing::Test {
 protected:
  void SetUp() override {
    // The log file's place is fixed at its first use: keep it beside the
    // test program, where the other tests look for it too.
    InitProcessCommandLine();
    log_ = LogFilePath();
    savedCommandLine_ = ProcessCommandLine();
    savedExe_ = ExePath(false);
    root_ = TempDir(true) + "havrek fetch " + std::to_string(::GetCurrentProcessId()) + "\\";
    DeleteTree(root_, true);
    agent_ = root_ + "agent\\";
    src_ = root_ + "src";
    for (const std::string& dir : {root_, agent_, src_ + "\\"}) ASSERT_TRUE(::CreateDirectoryA(dir.c_str(), nullptr));
    SetProcessCommandLine("\"" + agent_ + "Agent.exe\"", agent_ + "Agent.exe");

    good_ = MakePackage("good.exe", kOwnToken);
    foreign_ = MakePackage("foreign.exe", "Other-1");
    SetOwnPackage(std::make_unique<TGFileInfo>(root_ + "good.exe"));

    SettingsIni ini;
    ini.read = &ReadIniString;
    ini.write = &WriteIniString;
    ini.infoName = &InfoName;
    SetSettingsIni(ini);
    ASSERT_TRUE(WriteFileText(agent_ + "Tool.original", "[MsgBox]\r\nFontName=Verdana\r\nFontSize=10\r\n"));
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetUserCheck(UserCheckState::none);
    g_testMode = false;
    g_testLocation.clear();
    SetFetchTestModeProbe(&FakeTestMode);

    savedFace_ = MainFace();
    window_ = ::CreateWindowExA(0, "STATIC", "main", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    MainFace().window = window_;
    MainFace().setStatusText = &RecordStatus;
    MainFace().progress = &RecordProgress;
    g_status.clear();
    g_progress.clear();

    SetUnattended(true);
    g_debug.clear();
    SetDebugTarget(&test::CaptureDebug);
    ::DeleteFileA(log_.c_str());
    SetLogEnabled(true);
  }
  void TearDown() override {
    SetLogEnabled(false);
    ::DeleteFileA(log_.c_str());
    SetDebugTarget(&test::PassDebugOn);
    SetUnattended(false);
    MainFace() = savedFace_;
    if (window_) ::DestroyWindow(window_);
    SetFetchTestModeProbe(nullptr);
    SetUserCheck(UserCheckState::none);
    AUOptionsFromText("|255|255|255|255|255|255|255|255|");
    SetSettingsIni(SettingsIni());
    SetOwnPackage(nullptr);
    SetProcessCommandLine(savedCommandLine_, savedExe_);
    DeleteTree(root_, true);
  }

  // A package of the given build token, written to root\name; its bytes.
  std::string MakePackage(const std::string& name, const std::string& token) {
    std::string stub(2048, '\0');
    stub.replace(0, 2, "MZ");
    stub.replace(256, 4, std::string("PE\0\0", 4));
    EXPECT_TRUE(WriteFileText(root_ + "stub.bin", stub));
    EXPECT_TRUE(WriteFileText(root_ + "engine.bin", "engine of " + token));
    PackOptions o;
    o.stubPath = root_ + "stub.bin";
    o.outPath = root_ + name;
    o.files.push_back(PackFile{root_ + "engine.bin", "engine.exe", true, ""});
    o.update.token = EncodeToken(token);
    o.update.agentFileName = "agent.exe";
    const PackResult r = WritePackage(o);
    EXPECT_TRUE(r.ok) << r.error;
    return ReadFileText(o.outPath);
  }

  void Lay(const std::string& path, const std::string& bytes) { ASSERT_TRUE(WriteFileText(path, bytes)); }
  // The .info file lands beside the agent; a package or page only in the
  // fetch folder, where the caller takes it from and drops it.
  std::string FetchFolder() const { return agent_ + "Agent.exe.fetch"; }
  void ExpectFetched(const FetchResult& r, FetchKind kind, const std::string& name, const std::string& bytes) {
    if (kind == FetchKind::info) {
      EXPECT_EQ(r.path, "");
      EXPECT_TRUE(ReadFileText(agent_ + name) == bytes);
      return;
    }
    EXPECT_EQ(r.path, FetchFolder() + "\\" + name);
    EXPECT_TRUE(ReadFileText(r.path) == bytes);
    EXPECT_FALSE(Exists(agent_ + name));
    DropFetched(r);
    EXPECT_FALSE(Exists(FetchFolder()));
  }
  void ConfirmDownload(bool yes) { SetAUOptionOverride(auoConfirmDownload, yes ? 1 : 0); }
  std::string Log() const { return ReadFileText(log_); }
  // The texts the unattended boxes sent to the debug channel.
  // text: the box's title in quotes, "answered", the button's code and what it said.
  bool BoxShown(const std::string& text) const { return Contains(g_debug, "MarkupBox unattended, " + text); }
  bool AnyBox() const { return Contains(g_debug, "MarkupBox unattended"); }

  std::string log_, savedCommandLine_, savedExe_;
  std::string root_, agent_, src_;
  std::string good_, foreign_;
  MainWindowFace savedFace_;
  HWND window_ = nullptr;
};

TEST_F(StubAUFetch, AFolderSourceIsCopiedWithoutTheNetwork) {
  const std::string page = MakeInformPage(EncodeToken(kOwnToken), "What is <b>new</b>", true);
  struct Case {
    FetchKind kind;
    const char* name;
    std::string bytes;
    const char* status;
  } cases[] = {
      {FetchKind::info, "Tool.info", kInfoText, "Downloading INFO File..."},
      {FetchKind::update, "Update.exe", good_, "Downloading UPDATE File..."},
      {FetchKind::inform, "News.page", page, "Downloading INFORM File..."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_debug.clear();
    g_status.clear();
    ::DeleteFileA(log_.c_str());
    const std::string source = src_ + "\\" + c.name;
    Lay(source, c.bytes);
    const FetchResult r = DownloadFileAU(src_, c.name, c.kind, static_cast<std::int64_t>(c.bytes.size()));
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.error, "");
    ExpectFetched(r, c.kind, c.name, c.bytes);
    ASSERT_EQ(g_status.size(), 1u);
    EXPECT_EQ(g_status[0].text, c.status);
    EXPECT_EQ(g_status[0].face, "Verdana");
    EXPECT_EQ(g_status[0].points, 10);
    EXPECT_TRUE(Contains(g_debug, PidText() + " DownloadFileAU: " + source + "\r\n")) << g_debug;
    EXPECT_FALSE(AnyBox()) << g_debug;
    const std::string log = Log();
    const std::size_t testMode = log.find("TestMode=FALSE\r\n");
    const std::size_t start = log.find("Download START: " + source + "\r\n");
    const std::size_t end = log.find("Download END:   " + source + "\r\n");
    EXPECT_NE(end, std::string::npos) << log;
    EXPECT_LT(testMode, start) << log;
    EXPECT_LT(start, end) << log;
  }
}

TEST_F(StubAUFetch, AnUpdateTheUserIsAskedAboutShowsTheWindowAndStepsTheBars) {
  struct Case {
    FetchKind kind;
    bool confirm;
    UserCheckState userCheck;
    bool animated;
  } cases[] = {
      {FetchKind::update, true, UserCheckState::none, true},
      {FetchKind::update, false, UserCheckState::none, false},
      {FetchKind::update, true, UserCheckState::running, false},
      {FetchKind::inform, true, UserCheckState::none, false},
  };
  Lay(src_ + "\\Update.exe", good_);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.kind)) + " " + std::to_string(c.confirm) + " " +
                 std::to_string(static_cast<int>(c.userCheck)));
    g_progress.clear();
    ConfirmDownload(c.confirm);
    SetUserCheck(c.userCheck);
    DropFetched(DownloadFileAU(src_, "Update.exe", c.kind, static_cast<std::int64_t>(good_.size())));
    EXPECT_FALSE(IsWindowVisible(window_));
    if (!c.animated) {
      EXPECT_TRUE(g_progress.empty());
      continue;
    }
    ASSERT_EQ(g_progress.size(), 12u);
    EXPECT_EQ(g_progress[0].kind, 0);
    EXPECT_EQ(g_progress[0].maximum, 10);
    EXPECT_EQ(g_progress[0].position, 0);
    EXPECT_EQ(g_progress[0].step, 1);
    for (int i = 1; i <= 10; ++i) {
      EXPECT_EQ(g_progress[i].kind, 1) << i;
      EXPECT_TRUE(g_progress[i].visible) << i;
      if (i > 1) {
        EXPECT_GE(g_progress[i].ms - g_progress[i - 1].ms, 290) << i;
      }
    }
    EXPECT_GE(g_progress[11].ms - g_progress[10].ms, 290);
    EXPECT_EQ(g_progress[11].kind, 0);
    EXPECT_EQ(g_progress[11].maximum, 0);
    EXPECT_EQ(g_progress[11].step, 0);
  }
}

// A page or package of another build, or an error page in its place, is
// deleted and never handed on.
TEST_F(StubAUFetch, AForeignFileIsDeletedAndTheErrorShown) {
  struct Case {
    FetchKind kind;
    std::string bytes;
    std::string message;
  } cases[] = {
      {FetchKind::inform, MakeInformPage(EncodeToken("Other-1"), "Buy <b>this</b>", false), kBadSecretTokenText},
      {FetchKind::inform, "just a page", kBadSecretTokenText},
      {FetchKind::update, "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD></HTML>",
       "<B>404 File Not Found...</B><P><P>URL:  " + src_ + "\\Update.exe."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    g_debug.clear();
    ::DeleteFileA(log_.c_str());
    Lay(src_ + "\\Update.exe", c.bytes);
    const FetchResult r = DownloadFileAU(src_, "Update.exe", c.kind, static_cast<std::int64_t>(c.bytes.size()));
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(Exists(agent_ + "Update.exe"));
    EXPECT_FALSE(Exists(FetchFolder()));
    EXPECT_TRUE(BoxShown("\"Error\" answered 1: " + c.message)) << g_debug;
    EXPECT_TRUE(Contains(Log(), "ERROR: " + c.message)) << Log();
  }
}

// The user in front of the box, played by the UI driver.
TEST_F(StubAUFetch, AForeignUpdateShowsBadSecretTokenToTheUser) {
  SetUnattended(false);
  const std::string report = root_ + "ui_driver.txt";
  const KernelHandle process = test::StartFixture("ui_driver.exe", "\"" + report + "\" /timeout=30 enter");
  ASSERT_TRUE(process);
  for (int i = 0; i < 400 && !Exists(report + ".ready"); ++i) Sleep(50);

  Lay(src_ + "\\Update.exe", foreign_);
  const FetchResult r =
      DownloadFileAU(src_, "Update.exe", FetchKind::update, static_cast<std::int64_t>(foreign_.size()));
  EXPECT_FALSE(r.success);
  EXPECT_FALSE(Exists(agent_ + "Update.exe"));

  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(process.get(), &code);
  EXPECT_EQ(code, 0u);
  const std::string box = ReadFileText(report);
  EXPECT_TRUE(Contains(box, "\"caption\": \"Error\"")) << box;
  EXPECT_TRUE(Contains(box, "Bad Secret Token!")) << box;
  EXPECT_TRUE(Contains(box, "\"closed\": true")) << box;
}

TEST_F(StubAUFetch, AMissingFolderFileFallsThroughToTheWeb) {
  for (bool confirm : {true, false}) {
    SCOPED_TRACE(confirm);
    g_debug.clear();
    ConfirmDownload(confirm);
    const FetchResult r = DownloadFileAU(src_, "Update.exe", FetchKind::update);
    EXPECT_FALSE(r.success);
    EXPECT_NE(r.error, "");
    EXPECT_FALSE(Exists(agent_ + "Update.exe"));
    EXPECT_FALSE(Contains(g_debug, kBadSecretTokenText)) << g_debug;
    if (confirm)
      EXPECT_TRUE(BoxShown("\"Attention\" answered 1: " + src_ + "/Update.exe<P><P>File not Found!")) << g_debug;
    else
      EXPECT_FALSE(AnyBox()) << g_debug;
  }
}

TEST_F(StubAUFetch, TestModeReadsOnlyFromTheTestLocation) {
  const std::string test = root_ + "test";
  ASSERT_TRUE(::CreateDirectoryA(test.c_str(), nullptr));
  g_testMode = true;
  g_testLocation = test;
  Lay(src_ + "\\Tool.info", "[NewSetup]\r\nVersionNew=1\r\n");
  Lay(test + "\\Tool.info", kInfoText);
  FetchResult r = DownloadFileAU(src_, "Tool.info", FetchKind::info);
  EXPECT_TRUE(r.success);
  EXPECT_EQ(ReadFileText(agent_ + "Tool.info"), kInfoText);
  EXPECT_TRUE(Contains(Log(), "TestMode=TRUE\r\n")) << Log();
  EXPECT_TRUE(Contains(Log(), "Download START: " + test + "\\Tool.info\r\n")) << Log();

  // Nothing there: an empty .info file, no error, and no look at the source.
  ::DeleteFileA((test + "\\Tool.info").c_str());
  r = DownloadFileAU(src_, "Tool.info", FetchKind::info);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(Exists(agent_ + "Tool.info"));
  EXPECT_EQ(ReadFileText(agent_ + "Tool.info"), "");
}

// Nothing arrived, so there is no foreign file to speak of: the fetch fails
// as a download, and an earlier package beside the agent is not taken for
// the new one.
TEST_F(StubAUFetch, NothingFetchedIsAFailedDownloadNotABadToken) {
  const std::string test = root_ + "test";
  ASSERT_TRUE(::CreateDirectoryA(test.c_str(), nullptr));
  g_testMode = true;
  g_testLocation = test;
  Lay(src_ + "\\Update.exe", good_);
  ConfirmDownload(true);
  for (bool stale : {false, true}) {
    SCOPED_TRACE(stale);
    g_debug.clear();
    if (stale) Lay(agent_ + "Update.exe", good_);
    const FetchResult r = DownloadFileAU(src_, "Update.exe", FetchKind::update);
    EXPECT_FALSE(r.success);
    EXPECT_NE(r.error, "");
    EXPECT_FALSE(Contains(g_debug, kBadSecretTokenText)) << g_debug;
    EXPECT_TRUE(BoxShown("\"Attention\" answered 1: " + test + "\\Update.exe<P><P>File not Found!")) << g_debug;
    EXPECT_TRUE(Contains(Log(), "ATTENTION: " + test + "\\Update.exe<P><P>File not Found!")) << Log();
  }

  // An empty file at the source is no package either.
  g_testMode = false;
  g_debug.clear();
  Lay(src_ + "\\Update.exe", "");
  const FetchResult r = DownloadFileAU(src_, "Update.exe", FetchKind::update);
  EXPECT_FALSE(r.success);
  EXPECT_TRUE(ReadFileText(agent_ + "Update.exe") == good_);
  EXPECT_FALSE(Contains(g_debug, kBadSecretTokenText)) << g_debug;
  EXPECT_TRUE(BoxShown("\"Attention\" answered 1: " + src_ + "\\Update.exe<P><P>File not Found!")) << g_debug;
}

TEST_F(StubAUFetch, NamesFromTheInfoFileStayInTheAgentsFolder) {
  // Where an unreduced "..\x.exe" would read from and write to.
  Lay(src_ + "\\x.exe", good_);
  ASSERT_TRUE(::CreateDirectoryA((src_ + "\\dl").c_str(), nullptr));
  Lay(src_ + "\\dl\\x.exe", good_);
  FetchResult r =
      DownloadFileAU(src_ + "\\dl", "..\\x.exe", FetchKind::update, static_cast<std::int64_t>(good_.size()));
  EXPECT_TRUE(r.success) << r.error;
  EXPECT_EQ(r.path, FetchFolder() + "\\x.exe");
  EXPECT_FALSE(Exists(root_ + "x.exe"));
  DropFetched(r);

  for (const char* name : {"CON", "nul.exe", "..\\LPT1.exe", "", "..\\"}) {
    SCOPED_TRACE(name);
    ::DeleteFileA(log_.c_str());
    for (FetchKind kind : {FetchKind::info, FetchKind::update, FetchKind::inform}) {
      r = DownloadFileAU(src_, name, kind);
      EXPECT_FALSE(r.success);
      EXPECT_TRUE(Contains(r.error, "refused")) << r.error;
    }
    EXPECT_TRUE(Contains(Log(), "ERROR: file name \"" + std::string(name) + "\" refused: ")) << Log();
    EXPECT_FALSE(Contains(Log(), "Download START")) << Log();
  }
  EXPECT_FALSE(AnyBox()) << g_debug;
}

// The real test-mode switch, the registry values a person sets.
TEST_F(StubAUFetch, TestModeFromTheRegistry) {
  const std::string key = "Software\\Morvessa\\Havrek\\AutoUpdate";
  const std::string test = root_ + "test";
  ASSERT_TRUE(::CreateDirectoryA(test.c_str(), nullptr));
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  const RegKey hkey(raw);
  const auto set = [&](const char* name, const std::string& value) {
    RegSetValueExA(hkey.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
  };
  set("TestMode", "1");
  set("TestModeDate", DateText(plat::Now()));
  set("TestModeURL", test);
  SetFetchTestModeProbe(nullptr);
  const bool on = CheckTestMode(true);
  if (on) {
    Lay(src_ + "\\Tool.info", "[NewSetup]\r\nVersionNew=1\r\n");
    Lay(test + "\\Tool.info", kInfoText);
    EXPECT_TRUE(DownloadFileAU(src_, "Tool.info", FetchKind::info).success);
    EXPECT_EQ(ReadFileText(agent_ + "Tool.info"), kInfoText);
  }
  for (const char* name : {"TestMode", "TestModeDate", "TestModeURL"}) RegDeleteValueA(hkey.get(), name);
  CheckTestMode(true);
  if (!on) GTEST_SKIP() << "this build reads no test mode from the registry";
}

// ---- From the web server fixture ----

class StubAUFetchWeb : public StubAUFetch {
 protected:
  void SetUp() override { Serve("HAVREK_HTTP_PORT", "http://127.0.0.1:", "win_fetch"); }
  // The server's port comes in the variable portName.
  void Serve(const char* portName, const std::string& base, const char* test) {
    const char* port = std::getenv(portName);
    const char* root = std::getenv("HAVREK_HTTP_ROOT");
    if (!port || !*port || !root || !*root) GTEST_SKIP() << "no web server fixture (run through the " << test << " test)";
    StubAUFetch::SetUp();
    host_ = base + port;
    served_ = test::WinePath(root) + "\\";
    DeleteTree(served_, true);
    ASSERT_TRUE(::CreateDirectoryA(served_.c_str(), nullptr));
  }
  void TearDown() override {
    if (!served_.empty()) DeleteTree(served_, true);
    if (!host_.empty()) StubAUFetch::TearDown();
  }

  // Each file served and fetched as its kind arrives whole beside the agent,
  // logged, with no box.
  struct Served {
    FetchKind kind;
    const char* name;
    std::string bytes;
  };
  void ExpectEachFetched(const std::vector<Served>& files) {
    for (const Served& f : files) {
      SCOPED_TRACE(f.name);
      ::DeleteFileA(log_.c_str());
      Lay(served_ + f.name, f.bytes);
      const FetchResult r =
          DownloadFileAU(host_ + "/files/dl", f.name, f.kind, static_cast<std::int64_t>(f.bytes.size()));
      EXPECT_TRUE(r.success) << r.error;
      ExpectFetched(r, f.kind, f.name, f.bytes);
      EXPECT_TRUE(Contains(Log(), "Download END:   " + host_ + "/files/dl/" + f.name + "\r\n")) << Log();
    }
    EXPECT_FALSE(AnyBox()) << g_debug;
  }

  std::string host_, served_;
};

TEST_F(StubAUFetchWeb, EachKindFromTheServedFolder) {
  const std::string page = MakeInformPage(EncodeToken(kOwnToken), "What is <b>new</b>", false);
  ExpectEachFetched({{FetchKind::info, "Tool.info", kInfoText},
                     {FetchKind::update, "Update.exe", good_},
                     {FetchKind::inform, "News.page", page}});
  EXPECT_FALSE(IsWindowVisible(window_));

  // A probe the user asked for hands the download the main window to show.
  SetUserCheck(UserCheckState::running);
  EXPECT_TRUE(DownloadFileAU(host_ + "/files", "Tool.info", FetchKind::info).success);
  EXPECT_TRUE(IsWindowVisible(window_));
}

TEST_F(StubAUFetchWeb, AnErrorPageAsInfoFailsWithThe404TextAndStays) {
  for (const char* base : {"/files", "/404", "/404ok"}) {
    SCOPED_TRACE(base);
    const std::string source = host_ + base + "/Tool.info";
    const FetchResult r = DownloadFileAU(host_ + base, "Tool.info", FetchKind::info);
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.error, "<B>404 File Not Found...</B><P><P>URL:  " + source +
                           ".<P><P>Please make sure the file is available and access is allowed to this file.");
    EXPECT_TRUE(Contains(ReadFileText(agent_ + "Tool.info"), "<TITLE>404 Not Found</TITLE>"));
  }
  EXPECT_FALSE(AnyBox()) << g_debug;
}

TEST_F(StubAUFetchWeb, AFailedUpdateDownloadIsReportedAsOption1Asks) {
  struct Case {
    const char* base;
    bool confirm;
    std::string box;  // empty: none
  } cases[] = {
      {"/error/500-text", true,
       "\"Attention\" answered 1: " + host_ + "/error/500-text/Update.exe<P><P>Unable to Download File!"},
      {"/error/500-text", false, ""},
      {"/empty", true, "\"Attention\" answered 1: " + host_ + "/empty/Update.exe<P><P>Unable to Download File!"},
      // The server's error page arrives like a file, then fails the token.
      {"/files", false,
       "\"Error\" answered 1: <B>404 File Not Found...</B><P><P>URL:  " + host_ + "/files/Update.exe."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " " + std::to_string(c.confirm));
    g_debug.clear();
    ConfirmDownload(c.confirm);
    const FetchResult r = DownloadFileAU(host_ + c.base, "Update.exe", FetchKind::update, 100000);
    EXPECT_FALSE(r.success);
    EXPECT_FALSE(Exists(agent_ + "Update.exe"));
    if (c.box.empty())
      EXPECT_FALSE(AnyBox()) << g_debug;
    else
      EXPECT_TRUE(BoxShown(c.box)) << g_debug;
  }
}

// The files beside the agent that an offer may name, each with bytes of its
// own: the program, the agent, its copy, its settings, its log, a user's
// file. Whatever the offer serves under their names, none changes.
class AgentFolderFiles {
 public:
  AgentFolderFiles(const std::string& dir, const std::string& logName) : dir_(dir) {
    for (const std::string& name : {std::string("Tool.exe"), std::string("agent.exe"), std::string("X_agent.exe"),
                                    std::string("Tool.original"), logName, std::string("letter.doc")}) {
      const std::string bytes = "the user's own " + name + std::string(3000, 'x');
      files_.push_back({name, bytes});
      if (name != "Tool.original") EXPECT_TRUE(WriteFileText(dir_ + name, bytes));
    }
    files_[3].second = ReadFileText(dir_ + "Tool.original");
  }
  const std::vector<std::pair<std::string, std::string>>& files() const { return files_; }
  void ExpectUnchanged() const {
    for (const auto& [name, bytes] : files_) EXPECT_TRUE(ReadFileText(dir_ + name) == bytes) << name;
  }

 private:
  std::string dir_;
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(StubAUFetchWeb, AnOfferNeverWritesOrDeletesAFileBesideTheAgent) {
  const AgentFolderFiles beside(agent_, FileNamePart(log_));
  const std::string junk(5000, 'j');
  for (const auto& [name, bytes] : beside.files()) {
    SCOPED_TRACE(name);
    Lay(served_ + name, junk);
    Lay(src_ + "\\" + name, junk);
    for (FetchKind kind : {FetchKind::update, FetchKind::inform}) {
      // The junk as the package the .info file announced, from the web and
      // from a folder.
      for (const std::string& base : {host_ + "/files", src_}) {
        ::DeleteFileA(log_.c_str());
        const FetchResult r = DownloadFileAU(base, name, kind, static_cast<std::int64_t>(junk.size()));
        EXPECT_FALSE(r.success);
        EXPECT_EQ(r.path, "");
        beside.ExpectUnchanged();
        EXPECT_FALSE(Exists(FetchFolder()));
        if (name != "Tool.exe" && name != "letter.doc")
          EXPECT_TRUE(Contains(Log(), "ERROR: file name \"" + name + "\" refused: the agent's own file")) << Log();
      }
    }
  }
}
// Servers that would hold the agent or fill its memory and disk: each fetch
// ends within its bound, refused or given up, and leaves nothing of the
// offer. The deadline's floor is cut to two seconds for the run.
TEST_F(StubAUFetchWeb, EveryFetchEndsWithinItsBound) {
  ASSERT_EQ(_putenv_s("HAVREK_FETCH_FLOOR_MS", "2000"), 0);
  struct Case {
    const char* base;
    FetchKind kind;
    std::int64_t announced;
    const char* error;  // part of the error text
  } cases[] = {
      // A 10 MB .info file: refused by its length before a byte is read,
      // or stopped at the cap without one.
      {"/data/x?size=10000000&", FetchKind::info, -1, "(10000000 bytes, more than the 65536 taken)"},
      {"/nolength/x?size=10000000&", FetchKind::info, -1, "bytes, more than the 65536 taken)"},
      {"/data/x?size=2000000&", FetchKind::inform, -1, "(2000000 bytes, more than the 1048576 taken)"},
      // A package longer than the .info file announced.
      {"/data/x?size=600000&", FetchKind::update, 1000, "(600000 bytes, more than the 1099 taken)"},
      {"/nolength/x?size=600000&", FetchKind::update, 1000, "bytes, more than the 1099 taken)"},
      {"/liar/x?size=1000&sent=600000&", FetchKind::update, 1000, "bytes, more than the 1099 taken)"},
      // A byte every 200 ms, and a server that falls silent after its
      // headers or never answers at all.
      {"/slow/x?size=3000&piece=1&delay=200&", FetchKind::info, -1, "given up after"},
      {"/slow/x?size=3000&piece=1&delay=200&", FetchKind::update, 3000, "given up after"},
      {"/silent/x?size=3000&sent=10&", FetchKind::info, -1, ""},
      {"/mute/x&", FetchKind::info, -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.base) + " " + std::to_string(static_cast<int>(c.kind)));
    Lay(agent_ + "Tool.info", kInfoText);
    const std::int64_t start = TickMs();
    const FetchResult r = DownloadFileAU(host_ + c.base, c.kind == FetchKind::info ? "Tool.info" : "Offer.exe", c.kind,
                                         c.announced);
    const std::int64_t took = TickMs() - start;
    EXPECT_FALSE(r.success);
    EXPECT_TRUE(Contains(r.error, c.error)) << r.error;
    // Floor, the bytes' time at the minimum rate, the pauses around a fetch.
    EXPECT_LT(took, 10000);
    // Never the half of a body.
    if (c.kind == FetchKind::info) EXPECT_EQ(FileSizeByName(agent_ + "Tool.info"), 0);
    EXPECT_FALSE(Exists(FetchFolder()));
  }
  _putenv_s("HAVREK_FETCH_FLOOR_MS", "");
}

// The same over TLS: https://localhost with a certificate the prefix trusts
// for the run (the win_https test).
class StubAUFetchHttps : public StubAUFetchWeb {
 protected:
  void SetUp() override { Serve("HAVREK_HTTPS_PORT", "https://localhost:", "win_https"); }
};

TEST_F(StubAUFetchHttps, InfoAndUpdateArriveWhole) {
  ExpectEachFetched({{FetchKind::info, "Tool.info", kInfoText}, {FetchKind::update, "Update.exe", good_}});
}

TEST_F(StubAUFetchHttps, AServerWithAnUntrustedCertificateGivesNoOffer) {
  const char* rogue = std::getenv("HAVREK_HTTPS_ROGUE_PORT");
  ASSERT_TRUE(rogue && *rogue);
  Lay(served_ + "Tool.info", kInfoText);
  Lay(agent_ + "Tool.info", "[NewSetup]\r\nVersionNew=2\r\n");
  const std::string base = std::string("https://localhost:") + rogue + "/files";
  const FetchResult r = DownloadFileAU(base, "Tool.info", FetchKind::info);
  EXPECT_FALSE(r.success);
  EXPECT_EQ(r.error, "Unable to open Internet Connection: " + base + "/Tool.info");
  // Neither the served offer nor the stale one.
  EXPECT_EQ(ReadFileText(agent_ + "Tool.info"), "");
}

}  // namespace
}  // namespace havrek
