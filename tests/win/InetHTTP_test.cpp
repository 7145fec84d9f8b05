// Downloads against the web server fixture (tests/fixtures/http_server.py),
// whose port arrives in HAVREK_HTTP_PORT; without it the suite is skipped.
// Suite InetHTTPS runs through the win_https test against the fixture's TLS
// servers (tests/fixtures/tls_server.py).
#include "net/InetHTTP.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "files/Files.h"
#include "BuildTree.h"
#include "net/CommUtils.h"
#include "net/HProgBar.h"
#include "util/Utils.h"
#include "DebugCapture.h"

namespace havrek {
namespace {

// Byte i of every body the fixture sends is i % 251.
std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
  return s;
}

class InetHTTP : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* port = std::getenv("HAVREK_HTTP_PORT");
    if (!port || !*port) GTEST_SKIP() << "no web server fixture (run through the win_http test)";
    Prepare("http://", std::string("127.0.0.1:") + port);
  }
  void Prepare(const std::string& scheme, const std::string& host) {
    scheme_ = scheme;
    host_ = host;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "havrek_inet_" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(dir_.c_str(), nullptr);
    target_ = dir_ + "setup.exe";
    SetDownloadAbort(false);
    HTTP_DownloadFile(nullptr, Url("forget"), "", nullptr);
  }
  void TearDown() override {
    SetDownloadAbort(false);
    if (!dir_.empty()) DeleteTree(dir_, true);
  }

  std::string Url(const std::string& route) const { return scheme_ + host_ + "/" + route; }
  // The fixture's request log since SetUp, one line per request.
  std::vector<std::string> Requests() {
    const std::string text = HTTP_DownloadFile(nullptr, Url("requests"), "", nullptr).body;
    std::vector<std::string> lines;
    for (std::size_t from = 0, end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
      lines.push_back(text.substr(from, end - from));
    return lines;
  }
  void WriteOldTarget() { ASSERT_TRUE(WriteFileText(target_, "old target")); }
  std::string Read(const std::string& path) { return ReadFileText(path); }
  bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
  std::vector<std::string> FilesHere() {
    return test::FileNamesIn(dir_);
  }

  std::string scheme_, host_, dir_, target_;
};

TEST_F(InetHTTP, AddressFormsThatReachTheServer) {
  for (const std::string& url : {host_ + "/data/a.bin?size=3000", "HTTP://" + host_ + "/data/a.bin?size=3000",
                                 "http://" + host_ + "/data/a.bin?size=3000"}) {
    const DownloadResult r = HTTP_DownloadFile(nullptr, url, "", nullptr);
    EXPECT_EQ(r.error, "") << url;
    // Into memory, zero bytes and all.
    EXPECT_EQ(r.body, Pattern(3000)) << url;
  }
}

TEST_F(InetHTTP, WarmUpThenAGetPastTheCache) {
  // The second download reaches the server again: nothing came from a cache.
  for (int i = 0; i < 2; ++i) ASSERT_EQ(HTTP_DownloadFile(nullptr, Url("data/a.bin?size=10"), "", nullptr).error, "");
  EXPECT_EQ(Requests(), (std::vector<std::string>{
                            "HEAD /data/a.bin?size=10|HTTP_Connect_2", "GET /data/a.bin?size=10|HTTP_Connect_3",
                            "HEAD /data/a.bin?size=10|HTTP_Connect_2", "GET /data/a.bin?size=10|HTTP_Connect_3"}));
  EXPECT_EQ(HTTP_GetFileSize(Url("data/b.bin?size=10")), 10);
  const std::vector<std::string> log = Requests();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[4], "HEAD /data/b.bin?size=10|HTTP_Connect_2");
  EXPECT_EQ(log[5], "GET /data/b.bin?size=10|HTTP_Connect_2");
}

TEST_F(InetHTTP, ACompleteBodyReplacesTheTarget) {
  WriteOldTarget();
  const DownloadResult r = HTTP_DownloadFile(nullptr, Url("data/setup.exe?size=100000"), target_, nullptr);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(Read(target_), Pattern(100000));
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
}

TEST_F(InetHTTP, ABodyOfUnknownLengthThatEndsCleanlyReplacesTheTarget) {
  // Announced (the record's size) a little below or above the body, or not
  // at all: none of these comes near the limit.
  for (const char* route : {"nolength", "chunked"}) {
    for (const std::int64_t expected : {-1LL, 300000LL, 500000LL}) {
      WriteOldTarget();
      const std::string url = Url(std::string(route) + "/setup.exe?size=400000");
      const DownloadResult r = HTTP_DownloadFile(nullptr, url, target_, nullptr, expected);
      EXPECT_EQ(r.error, "") << url << " " << expected;
      EXPECT_TRUE(Read(target_) == Pattern(400000)) << url << " " << expected;
      EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"}) << url;
    }
  }
}

TEST_F(InetHTTP, FailuresLeaveNoSideFileAndTheOldTarget) {
  struct Case {
    std::string route;
    std::int64_t expected;
    std::string error;  // the start of the error text
  };
  const Case cases[] = {
      {"cut/setup.exe?size=100000&sent=40000", -1, "setup.exe?size=100000&sent=40000 --- Error downloading file ("},
      // Far past what the record announced: a server that never stops.
      {"nolength/setup.exe?size=3000000", 1000, "setup.exe?size=3000000 --- Error downloading file (stopped after "},
      {"chunked/setup.exe?size=3000000", 1000, "setup.exe?size=3000000 --- Error downloading file (stopped after "},
      {"error/500-text/setup.exe", -1, "setup.exe --- Error downloading file (HTTP 500"},
      {"error/403-json/setup.exe", -1, "setup.exe --- Error downloading file (HTTP 403"},
  };
  for (const Case& c : cases) {
    for (const std::string& target : {target_, std::string()}) {
      if (!target.empty()) WriteOldTarget();
      const DownloadResult r = HTTP_DownloadFile(nullptr, Url(c.route), target, nullptr, c.expected);
      EXPECT_EQ(r.error.rfind(c.error, 0), 0u) << c.route << ": " << r.error;
      if (!target.empty()) {
        EXPECT_TRUE(Read(target_) == "old target") << c.route;
        EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"}) << c.route;
      }
    }
  }
}

TEST_F(InetHTTP, ALengthOfZeroIsNotFound) {
  WriteOldTarget();
  const std::string url = Url("empty/setup.exe");
  EXPECT_EQ(HTTP_DownloadFile(nullptr, url, target_, nullptr).error, url + " --- File Not Found !");
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
  EXPECT_EQ(Read(target_), "old target");
}

TEST_F(InetHTTP, AnErrorPageDownloadsLikeAFile) {
  for (const char* route : {"404/setup.exe", "404ok/setup.exe"}) {
    const DownloadResult r = HTTP_DownloadFile(nullptr, Url(route), target_, nullptr);
    EXPECT_EQ(r.error, "") << route;
    EXPECT_TRUE(IsErrorPage(target_, "")) << route;
    std::string message;
    EXPECT_TRUE(NotFoundMessage(target_, "", Url(route), message)) << route;
  }
}

TEST_F(InetHTTP, ADownloadClearsOnlyTheSideFilesOfItsTarget) {
  // A target named like the user's own files: only name.<digits> can be a
  // side file of it.
  const std::string target = dir_ + "setup";
  for (const char* name : {"setup", "setup.7", "setup.4294967295", "setup.log", "setup.ini", "setup.exe", "setup1.7",
                           "setup.7.bak"})
    ASSERT_TRUE(WriteFileText(dir_ + name, name));
  EXPECT_EQ(HTTP_DownloadFile(nullptr, Url("data/setup?size=9000"), target, nullptr).error, "");
  EXPECT_EQ(FilesHere(), (std::vector<std::string>{"setup", "setup.7.bak", "setup.exe", "setup.ini", "setup.log",
                                                   "setup1.7"}));
  EXPECT_EQ(Read(target), Pattern(9000));
  for (const char* name : {"setup.log", "setup.ini", "setup.exe", "setup1.7", "setup.7.bak"})
    EXPECT_EQ(Read(dir_ + name), name);
}

TEST_F(InetHTTP, ATargetInUseIsReportedNotReplaced) {
  WriteOldTarget();
  HANDLE held = ::CreateFileA(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const DownloadResult r = HTTP_DownloadFile(nullptr, Url("data/setup.exe?size=5000"), target_, nullptr);
  ::CloseHandle(held);
  EXPECT_EQ(r.error.rfind("setup.exe?size=5000 --- Error downloading file (renaming ", 0), 0u) << r.error;
  EXPECT_EQ(Read(target_), "old target");
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
}

void CALLBACK RaiseAbort(HWND, UINT, UINT_PTR, DWORD) { SetDownloadAbort(true); }

TEST_F(InetHTTP, ACloseRequestAbortsASlowBody) {
  WriteOldTarget();
  // 2000 bytes every 20 ms: a minute and more for the whole body.
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 300, RaiseAbort);
  ASSERT_NE(timer, 0u);
  const DownloadResult r =
      HTTP_DownloadFile(nullptr, Url("slow/setup.exe?size=8000000&piece=2000&delay=20"), target_, nullptr);
  ::KillTimer(nullptr, timer);
  EXPECT_EQ(r.error, "Download Aborted");
  EXPECT_TRUE(DownloadAborted());
  EXPECT_EQ(Read(target_), "old target");
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
}

TEST_F(InetHTTP, Credentials) {
  const DownloadResult ok = HTTP_DownloadFile_Incremental(nullptr, Url("auth/a.bin?size=700"), "", "havrek", "secret",
                                                          nullptr);
  EXPECT_EQ(ok.error, "");
  EXPECT_EQ(ok.body, Pattern(700));
  // Without a "/" after the host there is no host to connect to.
  const std::string bare = "http://" + host_;
  EXPECT_EQ(HTTP_DownloadFile_Incremental(nullptr, bare, "", "havrek", "secret", nullptr).error,
            "Unable to open Internet Connection: " + bare);
}

TEST_F(InetHTTP, NoServerNoConnection) {
  // Port 9 of the loopback: nobody listens there.
  const std::string url = "http://127.0.0.1:9/data/a.bin";
  EXPECT_EQ(HTTP_DownloadFile(nullptr, url, target_, nullptr).error, "Unable to open Internet Connection: " + url);
  EXPECT_EQ(HTTP_GetFileSize(url), -1);
}

// Files of the browser's cache whose names begin with stem, in any of its
// sub-folders.
int CachedFiles(const std::string& folder, const std::string& stem) {
  int count = 0;
  WIN32_FIND_DATAA found;
  const HANDLE find = ::FindFirstFileA((folder + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += CachedFiles(folder + "\\" + name, stem);
    else if (name.compare(0, stem.size(), stem) == 0)
      ++count;
  } while (::FindNextFileA(find, &found));
  ::FindClose(find);
  return count;
}

// The size query reads only the headers of a package: nothing of it may be
// kept in the browser's cache.
TEST_F(InetHTTP, TheSizeQueryLeavesNothingInTheCache) {
  char cache[MAX_PATH] = {};
  ASSERT_TRUE(::SHGetSpecialFolderPathA(nullptr, cache, CSIDL_INTERNET_CACHE, FALSE));
  // Wine reuses process ids: the time makes the name one no earlier run
  // left in the cache.
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::string stem = "sizequery" + std::to_string(now.dwLowDateTime);
  EXPECT_EQ(HTTP_GetFileSize(Url("data/" + stem + ".bin?size=200000")), 200000);
  EXPECT_EQ(CachedFiles(cache, stem), 0);
}

TEST_F(InetHTTP, FileSizeIsTheAnnouncedLength) {
  EXPECT_EQ(HTTP_GetFileSize(Url("data/a.bin?size=12345")), 12345);
  EXPECT_EQ(HTTP_GetFileSize(host_ + "/data/a.bin?size=77"), 77);
  EXPECT_EQ(HTTP_GetFileSize(Url("nolength/a.bin?size=12345")), -1);
}

struct Notification {
  int mode, maximum, position, step;
  std::string text;
};
std::vector<Notification> g_notes;
void Record(int mode, int, int maximum, int position, int step, const std::string& text) {
  g_notes.push_back({mode, maximum, position, step, text});
}

TEST_F(InetHTTP, ProgressRunsFromOneToTheMaximum) {
  for (const std::int64_t size : {950LL, 250000LL, 30000000LL}) {
    g_notes.clear();
    TProgBar progress(Record);
    const DownloadResult r =
        HTTP_DownloadFile(nullptr, Url("data/a.bin?size=" + std::to_string(size)), "", &progress);
    ASSERT_EQ(r.error, "");
    ASSERT_FALSE(g_notes.empty());
    const ProgressPlan plan = PlanProgress(size);
    EXPECT_EQ(g_notes[0].mode, 0);
    EXPECT_EQ(g_notes[0].position, 1);
    EXPECT_EQ(g_notes[0].maximum, plan.maximum);
    EXPECT_LE(g_notes[0].maximum, 0xFFFF);
    EXPECT_EQ(static_cast<int>(g_notes.size()) - 1, plan.maximum - 1) << size;  // one step each
    const std::string unit = size > kMBDisplayAbove ? " MB" : size > kKBDisplayAbove ? " KB" : " Bytes";
    const std::string last = g_notes.back().text;
    EXPECT_EQ(g_notes.back().mode, 1);
    EXPECT_NE(last.find(unit), std::string::npos) << last;
  }
}

int g_ticks = 0;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++g_ticks; }

TEST(TProgBar, ForwardsToTheSinkAndServesMessages) {
  g_notes.clear();
  g_ticks = 0;
  TProgBar progress(Record);
  const UINT_PTR timer = ::SetTimer(nullptr, 0, 1, CountTick);
  ::Sleep(30);
  progress.SetProgress(3, 1001);
  ::Sleep(30);
  progress.SetText("12/34 Bytes");
  ::KillTimer(nullptr, timer);
  EXPECT_GE(g_ticks, 2);
  ASSERT_EQ(g_notes.size(), 2u);
  EXPECT_EQ(g_notes[0].mode, 0);
  EXPECT_EQ(g_notes[0].maximum, 1001);
  EXPECT_EQ(g_notes[0].position, 3);
  EXPECT_EQ(g_notes[0].step, 1);
  EXPECT_EQ(g_notes[0].text, "");
  EXPECT_EQ(g_notes[1].mode, 1);
  EXPECT_EQ(g_notes[1].text, "12/34 Bytes");
  TProgBar none(nullptr);
  none.SetText("nobody listens");
}


// ---- Over TLS ----

// https://localhost with a certificate from the authority the prefix trusts
// for the run; ports of a certificate for 127.0.0.1 and of one from an
// authority nobody trusts beside it.
class InetHTTPS : public InetHTTP {
 protected:
  void SetUp() override {
    const char* port = std::getenv("HAVREK_HTTPS_PORT");
    const char* ip = std::getenv("HAVREK_HTTPS_IP_PORT");
    const char* rogue = std::getenv("HAVREK_HTTPS_ROGUE_PORT");
    if (!port || !*port || !ip || !rogue) GTEST_SKIP() << "no TLS server fixture (run through the win_https test)";
    ipHost_ = std::string("127.0.0.1:") + ip;
    rogueHost_ = std::string("localhost:") + rogue;
    Prepare("https://", std::string("localhost:") + port);
  }

  std::string ipHost_, rogueHost_;
};

TEST_F(InetHTTPS, BodiesArriveWholeThroughTls) {
  for (const std::string& route : {std::string("data/setup.exe?size=3000000"), std::string("chunked/setup.exe?size=300000"),
                                   std::string("nolength/setup.exe?size=70000")}) {
    SCOPED_TRACE(route);
    WriteOldTarget();
    const std::int64_t size = std::stoll(route.substr(route.find('=') + 1));
    EXPECT_EQ(HTTP_DownloadFile(nullptr, Url(route), target_, nullptr, size).error, "");
    EXPECT_TRUE(Read(target_) == Pattern(static_cast<std::size_t>(size)));
    EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
    const DownloadResult inMemory = HTTP_DownloadFile(nullptr, Url(route), "", nullptr, size);
    EXPECT_EQ(inMemory.error, "");
    EXPECT_TRUE(inMemory.body == Pattern(static_cast<std::size_t>(size)));
  }
  EXPECT_EQ(HTTP_GetFileSize(Url("data/a.bin?size=12345")), 12345);
}

TEST_F(InetHTTPS, TheWarmUpHeadAlsoGoesThroughTls) {
  ASSERT_EQ(HTTP_DownloadFile(nullptr, Url("data/a.bin?size=10"), "", nullptr).error, "");
  EXPECT_EQ(Requests(), (std::vector<std::string>{"HEAD /data/a.bin?size=10|HTTP_Connect_2",
                                                  "GET /data/a.bin?size=10|HTTP_Connect_3"}));
}

TEST_F(InetHTTPS, CredentialsGoThroughTlsToTheGivenPort) {
  const DownloadResult ok = HTTP_DownloadFile_Incremental(nullptr, Url("auth/a.bin?size=700"), "", "havrek", "secret",
                                                          nullptr);
  EXPECT_EQ(ok.error, "");
  EXPECT_TRUE(ok.body == Pattern(700));
}

TEST_F(InetHTTPS, ACertificateNotForThisNameOrFromAnUntrustedAuthorityIsRefused) {
  struct Case {
    std::string host;
    std::string why;  // what the debug channel says after the user's text
  } cases[] = {{ipHost_, " (error 12038: "}, {rogueHost_, " (error 120"}};  // the WinINet certificate errors
  for (const Case& c : cases) {
    const std::string url = "https://" + c.host + "/data/setup.exe?size=5000";
    SCOPED_TRACE(url);
    for (const bool credentials : {false, true}) {
      test::DebugCapture debug;
      WriteOldTarget();
      const DownloadResult r = credentials
                                   ? HTTP_DownloadFile_Incremental(nullptr, url, target_, "havrek", "secret", nullptr)
                                   : HTTP_DownloadFile(nullptr, url, target_, nullptr);
      EXPECT_EQ(r.error, "Unable to open Internet Connection: " + url);
      EXPECT_NE(debug.text().find(r.error + c.why), std::string::npos) << debug.text();
      EXPECT_EQ(Read(target_), "old target");
      EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
    }
    EXPECT_EQ(HTTP_GetFileSize(url), -1);
  }
  // No request got past the handshake.
  EXPECT_EQ(Requests(), std::vector<std::string>{});
}

}  // namespace
}  // namespace havrek
