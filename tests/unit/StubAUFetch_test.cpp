#include "agent/StubAUFetch.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "net/InetText.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "util/UtilsSystem.h"

namespace havrek {
namespace {

TEST(StubAUFetch, OnlyAPlainFileNameFromTheInfoFileIsUsed) {
  struct Case {
    const char* given;
    const char* name;  // nullptr: refused
  } cases[] = {
      {"Tool.info", "Tool.info"},
      {"C:\\Program Files\\Tool\\Tool.setup.info", "Tool.setup.info"},
      {"..\\x.exe", "x.exe"},
      {"../../x.exe", "x.exe"},
      {"\\\\server\\share\\Update.exe", "Update.exe"},
      {"http://host/dl/Update.exe", "Update.exe"},
      {"C:x.exe", "x.exe"},
      {"", nullptr},
      {"dl\\", nullptr},
      {"..", nullptr},
      {"CON", nullptr},
      {"con.exe", nullptr},
      {"NUL", nullptr},
      {"AUX.info", nullptr},
      {"PRN", nullptr},
      {"COM1", nullptr},
      {"com9.txt", nullptr},
      {"LPT1", nullptr},
      {"..\\LPT9.exe", nullptr},
      {"C:CON", nullptr},
      {"page.htm?", nullptr},
  };
  for (const Case& c : cases) {
    std::string name = "left over", error;
    const bool ok = FetchFileName(c.given, name, error);
    if (c.name) {
      EXPECT_TRUE(ok) << c.given << ": " << error;
      EXPECT_EQ(name, c.name) << c.given;
    } else {
      EXPECT_FALSE(ok) << c.given;
      EXPECT_EQ(name, "") << c.given;
      EXPECT_FALSE(error.empty()) << c.given;
    }
  }
}

// An offer naming any of these would have the agent write over itself or
// its settings.
TEST(StubAUFetch, TheAgentsOwnNamesAreKnown) {
  const std::vector<std::string> own =
      AgentOwnNames("agent.exe", "C:\\Tool\\X_agent.exe", "C:\\Tool\\Tool.original", "C:\\Tool\\Tool.info",
                    "C:\\Tool\\X_agent.log");
  EXPECT_EQ(own, (std::vector<std::string>{"agent.exe", "X_agent.exe", "X_agent.exe", "Tool.original", "Tool.info",
                                           "X_agent.log", "X_agent.exe.fetch"}));
  struct Case {
    const char* name;
    bool own;
  } cases[] = {
      {"agent.exe", true},    {"AGENT.EXE", true},     {"agent.exe.", true},  {"agent.exe . ", true},
      {"x_agent.exe", true},  {"Tool.original", true}, {"tool.INFO", true},   {"X_agent.log", true},
      {"X_agent.exe.fetch", true}, {"Tool.exe", false}, {"agent.exe.1", false}, {"ToolUpdate.exe", false},
      {"agent", false},       {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAgentOwnName(c.name, own), c.own) << c.name;
  // Without a log (or an agent name), nothing empty is counted as a name.
  const std::vector<std::string> few = AgentOwnNames("", "C:\\Tool\\Stub.exe", "", "", "");
  EXPECT_EQ(few, (std::vector<std::string>{"Stub.exe", "Stub.exe.fetch"}));
  EXPECT_FALSE(IsAgentOwnName("...", few));
}

TEST(StubAUFetch, EachKindHasItsBound) {
  EXPECT_EQ(FetchLimit(FetchKind::info, 5000000), 64 * 1024);
  EXPECT_EQ(FetchLimit(FetchKind::inform, 5000000), 1024 * 1024);
  // The size test passes a package less than 100 bytes longer than announced.
  EXPECT_EQ(FetchLimit(FetchKind::update, 1000), 1099);
  EXPECT_EQ(FetchLimit(FetchKind::update, 0), 99);
  EXPECT_EQ(FetchLimit(FetchKind::update, -1), 99);
  constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
  EXPECT_EQ(FetchLimit(FetchKind::update, largest - 5), largest);
  EXPECT_EQ(FetchLimit(static_cast<FetchKind>(0), 1000), -1);
  EXPECT_EQ(FetchFolderFor("C:\\Tool\\X_agent.exe"), "C:\\Tool\\X_agent.exe.fetch");
}

TEST(StubAUFetch, TheWindowShowsForAnUpdateTheUserIsAskedAbout) {
  for (FetchKind kind : {FetchKind::info, FetchKind::update, FetchKind::inform})
    for (bool confirm : {false, true})
      for (bool userProbe : {false, true})
        EXPECT_EQ(ShowsMainWindow(kind, confirm, userProbe), kind == FetchKind::update && confirm && !userProbe)
            << static_cast<int>(kind) << confirm << userProbe;
}

TEST(StubAUFetch, TheWarningAfterAFailedFetch) {
  const FetchFailureTexts texts{"s3 aborted", "s4 not found", "s5 unable"};
  struct Case {
    const char* error;
    const char* source;
    bool confirm, aborted;
    const char* message;
  } cases[] = {
      {"", "http://host/dl/Up.exe", true, false, ""},
      {"failed", "http://host/dl/Up.exe", false, false, ""},
      {"failed", "C:", true, false, ""},
      {"failed", "http://host/dl/Up.exe", true, true, "s3 aborted"},
      {"failed", "C:\\Updates\\Up.exe", true, true, "s3 aborted"},
      {"failed", "http://host/dl/Up.exe", true, false, "http://host/dl/Up.exe<P><P>s5 unable"},
      {"failed", "C:\\Updates\\Up.exe", true, false, "C:\\Updates\\Up.exe<P><P>s4 not found"},
      // A folder without the file falls through to the web with "/".
      {"failed", "C:\\Updates/Up.exe", true, false, "C:\\Updates/Up.exe<P><P>s4 not found"},
      {"failed", "\\\\server\\share/Up.exe", true, false, "\\\\server\\share/Up.exe<P><P>s4 not found"},
      {"failed", "host/Up.exe", true, false, "host/Up.exe<P><P>s5 unable"},
      {"failed", "C:x", true, false, "C:x<P><P>s4 not found"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DownloadFailureMessage(c.error, c.source, c.confirm, c.aborted, texts), c.message)
        << c.error << " " << c.source << c.confirm << c.aborted;
}

TEST(StubAUFetch, NothingFetchedIsAnErrorOfItsOwn) {
  EXPECT_EQ(NothingFetchedText("C:\\Test\\Up.exe", true, ""), NotFoundText("C:\\Test\\Up.exe"));
  const std::string offline = NothingFetchedText("http://host/Up.exe", false, "no route");
  EXPECT_NE(offline.find("no route"), std::string::npos) << offline;
  EXPECT_FALSE(NothingFetchedText("http://host/Up.exe", false, "").empty());
}

TEST(StubAUFetch, TheEndOfAnInfoFetch) {
  const std::string url = "http://host/dl/Tool.info";
  std::string notFound;
  ASSERT_TRUE(NotFoundMessage("", "<title>404</title>", url, notFound));
  struct Case {
    const char* error;
    const char* content;
    bool success;
    std::string result;
  } cases[] = {
      {"", "[NewSetup]\r\nVersionNew=3\r\n", true, ""},
      {"", "", false, ""},
      {"", "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD></HTML>", false, notFound},
      {"", "<html><head><title>Moved</title></head></html>", false, notFound},
      {"", "<title>Error 404</title> [NewSetup]", false, notFound},
      {"Download Aborted", "[NewSetup]", false, "Download Aborted"},
      {"Unable to open Internet Connection: x", "", false, "Unable to open Internet Connection: x"},
      // An error text that begins with "3" is dropped, yet the fetch failed.
      {"3 redirected", "[NewSetup]", false, ""},
  };
  for (const Case& c : cases) {
    const FetchOutcome out = FinishInfoFetch(c.error, c.content, url);
    EXPECT_EQ(out.success, c.success) << c.error << " / " << c.content;
    EXPECT_EQ(out.error, c.result) << c.error << " / " << c.content;
  }
}

TEST(StubAUFetch, ThePageTokenComparesDecoded) {
  const std::string own = EncodeToken("Build-77", 3, 5, 1);
  // The page's token is encoded with other filler and key: the decoded
  // tokens are what must agree.
  const std::string page = MakeInformPage(EncodeToken("Build-77", 9, 2, 7), "Welcome to <b>3.0</b>", false);
  const std::string scrambled = MakeInformPage(EncodeToken("Build-77", 9, 2, 7), "Welcome", true);
  ASSERT_TRUE(scrambled.starts_with(kScrambleMarker));
  EXPECT_TRUE(SamePageTokenText(page, own));
  EXPECT_TRUE(SamePageTokenText(scrambled, own));
  EXPECT_EQ(PageToken(scrambled), PageToken(MakeInformPage(EncodeToken("Build-77", 9, 2, 7), "x", false)));

  EXPECT_FALSE(SamePageTokenText(MakeInformPage(EncodeToken("Build-78"), "Welcome", false), own));
  EXPECT_FALSE(SamePageTokenText("no bars at all", own));
  EXPECT_FALSE(SamePageTokenText("|" + own, own));
  EXPECT_FALSE(SamePageTokenText("", own));
  // Two tokens that do not decode never match, not even each other.
  EXPECT_FALSE(SamePageTokenText("|garbage|||page", "garbage"));

  // Decoded tokens must be equal byte for byte: no case folding, no
  // trimming, no prefix.
  const struct {
    const char* pageToken;
    bool same;
  } decoded[] = {
      {"Build-77", true}, {"build-77", false}, {"BUILD-77", false}, {"Build-7", false},
      {"Build-770", false}, {"Build-77 ", false}, {" Build-77", false},
  };
  for (const auto& c : decoded)
    EXPECT_EQ(SamePageTokenText(MakeInformPage(EncodeToken(c.pageToken, 4, 6, 11), "Welcome", false), own), c.same)
        << "[" << c.pageToken << "]";
  // An own token that does not decode matches no page.
  EXPECT_FALSE(SamePageTokenText(page, "garbage"));
  EXPECT_FALSE(SamePageTokenText(page, ""));

  EXPECT_EQ(PageToken("head|tok|rest|"), "tok");
  EXPECT_EQ(PageToken("||"), "");
  EXPECT_EQ(PageToken("|tok"), "");
}

}  // namespace
}  // namespace havrek
