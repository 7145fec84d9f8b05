#include "net/InetText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>

namespace havrek {
namespace {

TEST(InetText, OnlyAnAddressWithoutSchemeGetsHttp) {
  const std::pair<const char*, const char*> cases[] = {
      {"www.example.com/setup.exe", "http://www.example.com/setup.exe"},
      {"127.0.0.1:8080/a/b.exe", "http://127.0.0.1:8080/a/b.exe"},
      {"HTTP://Example.com/A.exe", "HTTP://Example.com/A.exe"},
      {"https://example.com/a.exe", "https://example.com/a.exe"},
      {"ftp://example.com/a.exe", "ftp://example.com/a.exe"},
      // A scheme further on is part of the address, not its scheme.
      {"example.com/go?to=http://other/a.exe", "http://example.com/go?to=http://other/a.exe"},
      {"://example.com", "http://://example.com"},
      {"", "http://"},
  };
  for (const auto& [url, expected] : cases) EXPECT_EQ(HttpUrl(url), expected) << url;
}

TEST(InetText, CredentialTargetSplitsHostPortAndPath) {
  struct Case {
    const char* url;
    const char* host;
    int port;
    const char* path;
    bool secure;
  };
  const Case cases[] = {
      {"http://example.com/dir/a.exe", "example.com", 80, "dir/a.exe", false},
      {"HTTP://example.com/a.exe", "example.com", 80, "a.exe", false},
      {"example.com/a.exe", "example.com", 80, "a.exe", false},
      {"http://127.0.0.1:8123/a.exe", "127.0.0.1", 8123, "a.exe", false},
      {"http://example.com/go?u=http://x/y", "example.com", 80, "go?u=http://x/y", false},
      {"http://example.com", "", 80, "", false},
      {"http://example.com:99999/a", "example.com:99999", 80, "a", false},
      {"https://example.com/dir/a.exe", "example.com", 443, "dir/a.exe", true},
      {"HTTPS://localhost:8443/a.exe", "localhost", 8443, "a.exe", true},
  };
  for (const Case& c : cases) {
    const HttpTarget t = CredentialTarget(c.url);
    EXPECT_EQ(t.host, c.host) << c.url;
    EXPECT_EQ(t.port, c.port) << c.url;
    EXPECT_EQ(t.path, c.path) << c.url;
    EXPECT_EQ(t.secure, c.secure) << c.url;
  }
}

TEST(InetText, SideFileNamesAndLeftOvers) {
  EXPECT_EQ(UrlFileName("http://h/dir/setup.exe"), "setup.exe");
  EXPECT_EQ(UrlFileName("http://h/dir/"), "");
  EXPECT_EQ(SideFileName("C:\\t\\setup.exe", 1000, 0x52A5A3CA), "C:\\t\\setup.exe." + std::to_string(0x52A5A3CAu + 1000));
  // The sum is taken at 32 bits: an unknown size (-1) lowers the date by one.
  EXPECT_EQ(SideFileName("a", -1, 0), "a.4294967295");
  EXPECT_EQ(SideFileName("a", 0x100000005LL, 1), "a.6");

  // Only what a side file can be named: the user's own files beside the
  // target stay, whatever they are called.
  struct Case {
    const char *target, *name;
    bool leftOver;
  };
  const Case cases[] = {
      {"setup.exe", "setup.exe.12345", true},
      {"setup.exe", "SETUP.EXE.1", true},
      {"setup", "setup.4294967295", true},
      {"setup.exe", "setup.exe", false},
      {"setup.exe", "setup.exe.", false},
      {"setup.exe", "setup.exe1", false},
      {"setup.exe", "setup.exe1.7", false},
      {"setup.exe", "other.exe.1", false},
      {"setup", "setup.exe", false},
      {"setup", "setup.log", false},
      {"setup", "setup.ini", false},
      {"setup", "setup.123.bak", false},
      {"setup", "setup.12a", false},
      {"setup", "setup. 1", false},
      {"setup", "setup..1", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLeftOverName(c.target, c.name), c.leftOver) << c.target << " " << c.name;
}

TEST(InetText, ReadAheadFollowsTheRateSoFar) {
  struct Case {
    std::int64_t received, elapsedMs, aheadMs, ahead;
  };
  const Case cases[] = {
      {0, 100, 5, 0},                   // nothing arrived yet
      {100000, 0, 5, 0},                // no time has passed to tell a rate
      {500000000, 1000, 5, 2500000},    // loopback: 500 MB/s, 2.5 MB in 5 ms
      {100000, 1000, 5, 500},           // a slow link: less than one piece
      {std::numeric_limits<std::int64_t>::max(), 1, 5, std::int64_t{1} << 52},  // no wrap
  };
  for (const Case& c : cases)
    EXPECT_EQ(ReadAheadBytes(c.received, c.elapsedMs, c.aheadMs), c.ahead) << c.received << " in " << c.elapsedMs;
}

TEST(InetText, UnknownLengthLimit) {
  EXPECT_EQ(UnknownLengthLimit(-1), -1);
  EXPECT_EQ(UnknownLengthLimit(0), -1);
  EXPECT_EQ(UnknownLengthLimit(1), 1 + kUnknownLengthSlack);
  EXPECT_EQ(UnknownLengthLimit(4000000), 5000000 + kUnknownLengthSlack);
  // A size field of any value cannot wrap the limit round to a small one.
  const std::int64_t largest = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(UnknownLengthLimit(largest), largest);
  EXPECT_EQ(UnknownLengthLimit(largest - 10), largest);
}

TEST(InetText, AFetchHasTheFloorPlusItsBytesAtTheMinimumRate) {
  EXPECT_EQ(FetchAllowedMs(180000, -1), 180000);
  EXPECT_EQ(FetchAllowedMs(180000, 0), 180000);
  EXPECT_EQ(FetchAllowedMs(180000, kFetchMinBytesPerSecond), 181000);
  EXPECT_EQ(FetchAllowedMs(2000, 10 * kFetchMinBytesPerSecond), 12000);
  constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(FetchAllowedMs(180000, largest), largest);
  EXPECT_EQ(FetchAllowedMs(largest - 10, 1000000), largest);
}

TEST(InetText, TheFloorCanBeShortenedForTests) {
  const char* saved = std::getenv("HAVREK_FETCH_FLOOR_MS");
  const std::string keep = saved ? saved : "";
  struct Case {
    const char* value;  // nullptr: unset
    std::int64_t floor;
  } cases[] = {{nullptr, kFetchFloorMs}, {"2500", 2500}, {"0", kFetchFloorMs}, {"-5", kFetchFloorMs},
               {"soon", kFetchFloorMs}, {"", kFetchFloorMs}};
  for (const Case& c : cases) {
    if (c.value)
      setenv("HAVREK_FETCH_FLOOR_MS", c.value, 1);
    else
      unsetenv("HAVREK_FETCH_FLOOR_MS");
    EXPECT_EQ(FetchFloorMs(), c.floor) << (c.value ? c.value : "unset");
  }
  if (saved)
    setenv("HAVREK_FETCH_FLOOR_MS", keep.c_str(), 1);
  else
    unsetenv("HAVREK_FETCH_FLOOR_MS");
}

TEST(InetText, ProgressRangeStaysSmall) {
  struct Case {
    std::int64_t size, stepBytes, maximum;
  };
  const Case cases[] = {
      {1, 1, 2},
      {5, 1, 6},
      {1000, 100, 11},
      {1005, 100, 12},
      {81920, 8192, 11},
      {8192000, 8192, 1001},
      {100 * 1048576LL, 104858, 1001},
      {-1, 4294968, 1001},
      {1LL << 40, (1LL << 40) / 1000 + 1, 1001},
      // The largest length a server can announce: rounding up must not overflow.
      {INT64_MAX, INT64_MAX / 1000 + 1, 1001},
  };
  for (const Case& c : cases) {
    const ProgressPlan plan = PlanProgress(c.size);
    EXPECT_EQ(plan.stepBytes, c.stepBytes) << c.size;
    EXPECT_EQ(plan.maximum, c.maximum) << c.size;
    EXPECT_LE(plan.maximum, kMaxProgressSteps + 1);
    if (c.size > 0) {
      EXPECT_EQ(plan.StepsDone(c.size), plan.maximum - 1) << c.size;
    }
  }
  const ProgressPlan plan = PlanProgress(1005);
  EXPECT_EQ(plan.StepsDone(0), 0);
  EXPECT_EQ(plan.StepsDone(1), 1);
  EXPECT_EQ(plan.StepsDone(100), 1);
  EXPECT_EQ(plan.StepsDone(101), 2);
  EXPECT_EQ(plan.StepsDone(5000), 11);  // never past the end of the bar
}

TEST(InetText, ErrorTexts) {
  EXPECT_EQ(OpenFailedText("http://h/a"), "Unable to open Internet Connection: http://h/a");
  EXPECT_EQ(NotFoundText("http://h/a"), "http://h/a --- File Not Found !");
  EXPECT_EQ(ReadFailedText("a.exe", ""), "a.exe --- Error downloading file");
  EXPECT_EQ(ReadFailedText("a.exe", "gone"), "a.exe --- Error downloading file (gone)");
  EXPECT_EQ(ShortBodyDetail(40, 100), "connection closed after 40 of 100 bytes");
  EXPECT_EQ(LongBodyDetail(300, 100), "stopped after 300 bytes without a length; 100 bytes were expected");
  EXPECT_EQ(HttpStatusDetail(500, ""), "HTTP 500");
  EXPECT_EQ(HttpStatusDetail(403, "Forbidden"), "HTTP 403 Forbidden");
  EXPECT_FALSE(IsHttpErrorStatus(200));
  EXPECT_FALSE(IsHttpErrorStatus(304));
  EXPECT_TRUE(IsHttpErrorStatus(400));
  EXPECT_TRUE(IsHttpErrorStatus(503));
}

TEST(InetText, ErrorPages) {
  const std::pair<std::string, bool> cases[] = {
      {"<html><head><title>404 Not Found</title></head></html>", true},
      {"<TITLE>Error 404</TITLE>", true},
      {"<title>Welcome</title> 404 </title>", true},
      {"<HTML><HEAD><TITLE>Download</TITLE></HEAD>", true},  // any HTML page
      {"<HEAD><HTML><TITLE>x</TITLE>", false},               // out of order
      {"<TITLE>Welcome</TITLE> 404", false},
      {"404 <TITLE>x</TITLE>", false},
      {std::string("MZ\x90\0\3\0\0\0<TITLE>404</TITLE>", 26), true},
      {"", false},
      {std::string(990, 'x') + "<TITLE>404</TITLE>", false},  // past the first 1000 bytes
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(IsErrorPageBytes(bytes), expected) << bytes;
}

TEST(InetText, AnExistingFileIsProbedInPlaceOfTheBytes) {
  const std::string page = "<HTML><HEAD><TITLE>404</TITLE></HEAD></HTML>";
  const std::string path = (std::filesystem::temp_directory_path() / "havrek_inettext_page.htm").string();
  std::ofstream(path, std::ios::binary) << page;
  EXPECT_TRUE(IsErrorPage(path, "plain bytes"));
  EXPECT_TRUE(IsErrorPage("", page));
  EXPECT_TRUE(IsErrorPage(path + ".missing", page));
  EXPECT_FALSE(IsErrorPage(path + ".missing", "plain bytes"));

  std::string message = "kept";
  EXPECT_FALSE(NotFoundMessage("", "plain bytes", "http://h/a.exe", message));
  EXPECT_EQ(message, "kept");
  EXPECT_TRUE(NotFoundMessage(path, "", "http://h/a.exe", message));
  EXPECT_EQ(message,
            "<B>404 File Not Found...</B><P><P>URL:  http://h/a.exe.<P><P>Please make sure the file is available and "
            "access is allowed to this file.");
  std::remove(path.c_str());
}

}  // namespace
}  // namespace havrek
