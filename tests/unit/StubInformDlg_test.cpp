#include "agent/StubInformDlg.h"

#include <gtest/gtest.h>

#include <string>

#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "util/UtilsSystem.h"

namespace havrek {
namespace {

TEST(StubInformDlg, PageTextIsWhatFollowsTheFourthBar) {
  struct Case {
    std::string file;
    std::string text;
  } cases[] = {
      {"x|token|a|b|Hello|World", "Hello|World"},
      {"|token|||{\\rtf1 Hi}", "{\\rtf1 Hi}"},
      {"|token|||", ""},
      {"|token||", ""},
      {"no bars at all", ""},
      {"", ""},
      {ScrambleTextWithKey("|tok|||What is <b>new</b>|", true, false, 77), "What is <b>new</b>|"},
      // Only a leading marker means a scrambled page.
      {" Scrambled=01|t|||plain", "plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(InformPageText(c.file), c.text) << c.file;
}

TEST(StubInformDlg, PageWrittenByTheBuildToolReadsBack) {
  for (bool scramble : {false, true}) {
    const std::string file = MakeInformPage(EncodeToken("Build-7"), "New <b>2.0</b>|with bars", scramble);
    EXPECT_EQ(file.starts_with(kScrambleMarker), scramble);
    EXPECT_EQ(InformPageText(file), "New <b>2.0</b>|with bars");
  }
}

TEST(StubInformDlg, WindowIsCentredWithHalvesTruncatedTowardZero) {
  struct Case {
    int sw, sh, w, h, x, y;
  } cases[] = {
      {1024, 768, 360, 360, 332, 204},
      {1025, 767, 360, 361, 332, 203},
      {800, 600, 1001, 700, -100, -50},  // larger than the screen: -100.5 and -50 toward zero
  };
  for (const Case& c : cases) {
    const InformRect r = InformWindowRect(c.sw, c.sh, c.w, c.h);
    EXPECT_EQ(r.x, c.x) << c.sw << "x" << c.sh;
    EXPECT_EQ(r.y, c.y) << c.sw << "x" << c.sh;
    EXPECT_EQ(r.width, c.w);
    EXPECT_EQ(r.height, c.h);
  }
}

TEST(StubInformDlg, TextAndButtonFollowTheClientArea) {
  struct Case {
    int cw, ch;
    bool link;
    InformRect edit;
    InformRect button;
  } cases[] = {
      {352, 326, true, {3, 0, 349, 283}, {96, 293, 160, 25}},
      {352, 326, false, {3, 0, 349, 326}, {}},
      {501, 600, true, {3, 0, 498, 557}, {170, 567, 160, 25}},
      {100, 50, true, {3, 0, 97, 7}, {-30, 17, 160, 25}},  // narrower than the button
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.cw) + "x" + std::to_string(c.ch));
    const InformRect e = InformEditRect(c.cw, c.ch, c.link);
    EXPECT_EQ(e.x, c.edit.x);
    EXPECT_EQ(e.y, c.edit.y);
    EXPECT_EQ(e.width, c.edit.width);
    EXPECT_EQ(e.height, c.edit.height);
    if (!c.link) continue;
    const InformRect b = InformButtonRect(c.cw, c.ch);
    EXPECT_EQ(b.x, c.button.x);
    EXPECT_EQ(b.y, c.button.y);
    EXPECT_EQ(b.y, c.ch - 33);
    EXPECT_EQ(b.width, c.button.width);
    EXPECT_EQ(b.height, c.button.height);
    EXPECT_EQ(InformBandLineY(c.ch), c.ch - 43);
  }
}

TEST(StubInformDlg, TheDefaultFaceReadsAsVerdana) {
  EXPECT_EQ(InformPageFace("Tahoma"), "Verdana");
  EXPECT_EQ(InformPageFace(""), "Verdana");
  EXPECT_EQ(InformPageFace("Arial"), "Arial");
  // Exactly "Tahoma": any other spelling is the author's choice.
  EXPECT_EQ(InformPageFace("tahoma"), "tahoma");
  EXPECT_EQ(InformPageFace("MS PGothic"), "MS PGothic");
}

TEST(StubInformDlg, OnlyWebAddressesAreOpened) {
  struct Case {
    const char* link;
    bool web;
  } cases[] = {
      {"http://example.test/download", true},
      {"https://example.test/", true},
      {"HTTP://EXAMPLE.TEST/x?a=1&b=2", true},
      {"http://127.0.0.1:8080/files/page", true},
      {"C:\\Windows\\notepad.exe", false},
      {"notepad.exe", false},
      {"\\\\server\\share\\setup.exe", false},
      {"file:///C:/Windows/notepad.exe", false},
      {"file://server/share/x.exe", false},
      {"ftp://example.test/x", false},
      {"http://", false},
      {"http:///C:/Windows/notepad.exe", false},
      {"http://\\\\server\\share", false},
      {"http:\\\\example.test", false},
      {"https:example.test", false},
      {" http://example.test", false},  // callers trim first
      {"http://example.test/a b", false},
      {"http://example.test/\"x", false},
      {"http://example.test/\tx", false},
      {"", false},
      {"javascript:alert(1)", false},
      {"mailto:someone@example.test", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsWebLink(c.link), c.web) << c.link;
}

}  // namespace
}  // namespace havrek
