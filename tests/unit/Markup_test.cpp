#include "ui/Markup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace havrek {
namespace {

TEST(Markup, PlainTextAndBoldRanges) {
  struct Case {
    const char* name;
    std::string text;
    std::string plain;
    std::vector<BoldRange> bold;
  } cases[] = {
      {"no mark-up", "50% <i>done</i> & <x> \\n", "50% <i>done</i> & <x> \\n", {}},
      {"double backslash n breaks", "a\\\\nb", "a\r\nb", {}},
      {"double backslash t tabs", "a\\\\tb", "a\tb", {}},
      {"backslash N is not mark-up", "a\\\\Nb", "a\\\\Nb", {}},
      {"paragraph tags any case", "x<p>y<P>z", "x\r\ny\r\nz", {}},
      {"tab tags any case", "a<t>b<T>c", "a\tb\tc", {}},
      {"heading", "<<b>ERROR</b><P><P>Disk full<P>", "ERROR\r\n\r\nDisk full\r\n", {{0, 5}}},
      {"double angle later is a literal", "a<<b>b</b>", "a<b", {{2, 3}}},
      {"double angle upper case is no heading", "<<B>x</B>", "<x", {{1, 2}}},
      {"both cases bold", "<b>x</b> and <B>y</B>", "x and y", {{0, 1}, {6, 7}}},
      {"mixed-case pair", "<B>x</b>", "x", {{0, 1}}},
      {"unclosed tag vanishes", "<B>never closed", "never closed", {}},
      {"stray close spoils the next pair", "</B>a<B>b</B>c", "abc", {}},
      {"empty pair", "<b></b>", "", {}},
      {"bold across a break", "<b>a<p>b</b>", "a\r\nb", {{0, 4}}},
      // Ranges keep the offsets they had when found; they are cut to the text.
      {"nested tags", "<b>a<b>b</b>c</b>", "abc", {{0, 3}, {1, 3}}},
      {"removal joins a new tag", "x<<B>B>y</B>", "xy", {}},
      {"empty", "", "", {}},
  };
  for (const auto& c : cases) {
    const MarkupText m = ParseMarkup(c.text);
    EXPECT_EQ(m.plain, c.plain) << c.name;
    EXPECT_EQ(m.bold, c.bold) << c.name;
  }
}

TEST(Markup, ConvertMarkupLeavesBoldTags) {
  EXPECT_EQ(ConvertMarkup("<b>x</b><p>\\\\t<<b>"), "<b>x</b>\r\n\t<<b>");
}

TEST(Markup, HeadingUpperCasesOnlyTheBuiltInTitles) {
  EXPECT_EQ(HeadingText("Error", "text"), "<<b>ERROR</b><P><P>text<P>");
  EXPECT_EQ(HeadingText("Attention", ""), "<<b>ATTENTION</b><P><P><P>");
  EXPECT_EQ(HeadingText("Fehler", "x"), "<<b>Fehler</b><P><P>x<P>");
  // A caller's text that starts with a bold tag stays bold after the heading.
  const MarkupText m = ParseMarkup(HeadingText("Confirm", "<b>Go</b> on?"));
  EXPECT_EQ(m.plain, "CONFIRM\r\n\r\nGo on?\r\n");
  EXPECT_EQ(m.bold, (std::vector<BoldRange>{{0, 7}, {11, 13}}));
}

TEST(Markup, FlagsAndTitlesOfACall) {
  struct Case {
    std::uint32_t flags;
    int charset;
    std::intptr_t owner;
    std::uint32_t expected;
  } cases[] = {
      {0x24, 0, kOwnerHeading, 0x24},
      {0x24, 177, kOwnerPlain, 0x24 | mbRight | mbRtlReading},
      {0x10, 178, kOwnerPlain, 0x10 | mbRight | mbRtlReading},
      {0x10, 186, kOwnerPlain, 0x10},
      {0x30, 0, kOwnerNoClose, 0x30 | mbNoClose},
      {0x30, 0, 0x10002, 0x30},  // a window handle
  };
  for (const auto& c : cases) EXPECT_EQ(EffectiveFlags(c.flags, c.charset, c.owner), c.expected) << c.flags;
  EXPECT_EQ(TitleOrKind("", tkError), "Error");
  EXPECT_EQ(TitleOrKind("", tkAttention), "Attention");
  EXPECT_EQ(TitleOrKind("", tkConfirm), "Confirm");
  EXPECT_EQ(TitleOrKind("Mine", tkConfirm), "Mine");
}

std::vector<std::string> Captions(const std::vector<BoxButton>& buttons) {
  std::vector<std::string> captions;
  for (const BoxButton& b : buttons) captions.push_back(b.caption);
  return captions;
}

std::vector<int> Codes(const std::vector<BoxButton>& buttons) {
  std::vector<int> codes;
  for (const BoxButton& b : buttons) codes.push_back(b.code);
  return codes;
}

TEST(MsgBoxButtons, SetsTakeTheirCaptionsAndCodes) {
  struct Case {
    std::uint32_t flags;
    std::vector<std::string> captions;
    std::vector<int> codes;
  } cases[] = {
      {0x0, {"&OK"}, {1}},
      {0x1, {"&OK", "&Cancel"}, {1, 2}},
      {0x2, {"&Abort", "&Retry", "&Ignore"}, {3, 4, 5}},
      {0x3, {"&Yes", "&No", "&Cancel"}, {6, 7, 2}},
      {0x24, {"&Yes", "&No"}, {6, 7}},
      {0x5, {"&Retry", "&Cancel"}, {4, 2}},
      {0x9, {"&OK"}, {1}},  // no such set
  };
  for (const auto& c : cases) {
    const auto buttons = ButtonsFor(c.flags, kDefaultButtonList);
    EXPECT_EQ(Captions(buttons), c.captions) << c.flags;
    EXPECT_EQ(Codes(buttons), c.codes) << c.flags;
  }
  EXPECT_EQ(Captions(ButtonsFor(mbYesNoCancel, "|&Oui|&Annuler|")),
            (std::vector<std::string>{"", "", "&Annuler"}));
  EXPECT_EQ(Captions(ButtonsFor(mbOk, "")), (std::vector<std::string>{""}));
}

TEST(MsgBoxButtons, DefaultButtonWrapsAroundTheSet) {
  struct Case {
    std::uint32_t flags;
    int count;
    int expected;
  } cases[] = {
      {0x003, 3, 0}, {0x103, 3, 1}, {0x203, 3, 2}, {0x204, 2, 0}, {0x304, 2, 1}, {0xF00, 1, 0}, {0x100, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DefaultButtonIndex(c.flags, c.count), c.expected) << c.flags;
}

TEST(MsgBoxButtons, KeyboardLetters) {
  const auto ync = ButtonsFor(mbYesNoCancel, kDefaultButtonList);
  const std::vector<BoxButton> french = {{"&oui", idYes}, {"&Non", idNo}};
  const std::vector<BoxButton> twoRs = {{"&Retry", idRetry}, {"&Restart", idOk}, {"Cancel", idCancel}};
  const std::vector<BoxButton> odd = {{"OK&", idOk}, {"", idCancel}};

  struct CharCase {
    const std::vector<BoxButton>& buttons;
    char typed;
    int expected;
  } chars[] = {
      {ync, 'y', 0}, {ync, 'N', 1}, {ync, 'c', 2}, {ync, 'x', -1},
      {french, 'o', 0},   // as typed
      {french, 'O', -1},  // only the typed character is upper-cased
      {twoRs, 'r', 0},    // the first match
      {twoRs, 'a', 2},    // second character of a caption without "&"
      {odd, 'k', 0},      // the second character, wherever the "&" is
  };
  for (const auto& c : chars) EXPECT_EQ(ButtonForChar(c.buttons, c.typed), c.expected) << c.typed;

  struct KeyCase {
    const std::vector<BoxButton>& buttons;
    int key;
    int expected;
  } keys[] = {
      {ync, 'Y', 0}, {ync, 'C', 2}, {french, 'O', 0},
      {twoRs, 'R', 1},  // the last match
      {twoRs, 'C', 2},  // without "&", the first character
      {odd, 'O', -1},   // "&" at the end gives no letter
      {ync, '1', -1}, {ync, 0x70, -1},
  };
  for (const auto& c : keys) EXPECT_EQ(ButtonForKey(c.buttons, c.key), c.expected) << c.key;
}

TEST(MsgBoxButtons, FocusMovesWrapAround) {
  struct Case {
    int focused, count, next, previous;
  } cases[] = {
      {0, 3, 1, 2}, {1, 3, 2, 0}, {2, 3, 0, 1}, {0, 1, 0, 0}, {-1, 3, 0, 2}, {5, 3, 0, 2}, {0, 0, -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NextButton(c.focused, c.count), c.next) << c.focused << "/" << c.count;
    EXPECT_EQ(PreviousButton(c.focused, c.count), c.previous) << c.focused << "/" << c.count;
  }
}

TEST(MsgBoxMeasure, LineHeightAddsAPixelForOneFace) {
  EXPECT_EQ(LineHeight(13, 0, "Tahoma"), 13);
  EXPECT_EQ(LineHeight(13, 2, "Tahoma"), 15);
  EXPECT_EQ(LineHeight(13, 2, " ms pgothic "), 16);
}

TEST(MsgBoxMeasure, EstimateCountsLinesAndWraps) {
  const auto sevenEach = [](const std::string& line) { return 7 * static_cast<int>(line.size()); };
  struct Case {
    const char* name;
    std::string plain;
    BoxSize expected;
  } cases[] = {
      {"empty measures a blank", "", {17, 13}},
      {"one line", "short", {45, 13}},
      {"widest line wins", "a\r\nbbb", {31, 26}},
      {"trailing break adds no line", "a\r\n", {17, 13}},
      {"empty line between counts", "a\r\n\r\nb", {17, 39}},
      {"only a break", "\r\n", {10, 13}},
      {"lone LF does not break", "a\nb", {31, 13}},
      {"wide line counts twice, width capped", std::string(100, 'x'), {600, 26}},
  };
  for (const auto& c : cases) EXPECT_EQ(EstimateTextSize(c.plain, 13, sevenEach), c.expected) << c.name;
  EXPECT_EQ(EstimateTextSize("x", 13, [](const std::string&) { return 600; }), (BoxSize{600, 26}));
  EXPECT_EQ(EstimateTextSize("x", 13, [](const std::string&) { return 599; }), (BoxSize{600, 13}));
  EXPECT_EQ(ControlSizeFor({45, 13}), (BoxSize{55, 13}));
}

TEST(MsgBoxMeasure, BoldWidthTriesWiderUntilTheHeightFits) {
  const BoxSize estimate = {200, 26};
  std::vector<int> tried;
  // The content fits from 225 pixels on; narrower it needs a third line.
  const auto fitsFrom225 = [&](int width) {
    tried.push_back(width);
    return BoxSize{width, width >= 225 ? 26 : 39};
  };
  EXPECT_EQ(FitBoldWidth(estimate, fitsFrom225), 230);
  EXPECT_EQ(tried, (std::vector<int>{200, 210, 220, 230}));

  tried.clear();
  EXPECT_EQ(FitBoldWidth(estimate, [&](int width) { return fitsFrom225(width + 100); }), 200);
  EXPECT_EQ(tried.size(), 1u);

  tried.clear();
  // Never fits: the widest width the control asked for, plus 10.
  EXPECT_EQ(FitBoldWidth(estimate, [&](int width) {
              tried.push_back(width);
              return BoxSize{width == 250 ? 480 : width, 99};
            }),
            490);
  EXPECT_EQ(tried.size(), 21u);
  EXPECT_EQ(tried.back(), 400);
  EXPECT_EQ(FitBoldWidth(estimate, [](int) { return BoxSize{0, 99}; }), 210);
}

TEST(MsgBoxLayout, WindowSizeMarginsAndMinimum) {
  const FrameMetrics frame = {4, 4, 19};
  struct Case {
    BoxSize control;
    BoxSize expected;
  } cases[] = {
      {{60, 13}, {360, 13 + 36 + 90 + 8 + 19}},  // short text: the minimum width
      {{199, 13}, {199 + 54 + 128 + 8, 166}},    // narrow: wide margins
      {{200, 39}, {360, 39 + 36 + 64 + 8 + 19}},
      {{400, 38}, {400 + 54 + 64 + 8, 38 + 36 + 90 + 8 + 19}},
      {{610, 400}, {610 + 54 + 64 + 8, 400 + 36 + 64 + 8 + 19}},
  };
  for (const auto& c : cases) EXPECT_EQ(BoxWindowSize(c.control, frame), c.expected) << c.control.width;
}

TEST(MsgBoxLayout, ControlCentredRightOfTheBand) {
  EXPECT_EQ(ControlRect({60, 13}, 354, 130), (BoxRect{174, 40, 60, 51}));
  EXPECT_EQ(ControlRect({400, 100}, 522, 200), (BoxRect{88, 32, 400, 129}));
}

TEST(MsgBoxLayout, ButtonsTouchAndEndTenPixelsFromTheRight) {
  const int cw = 354, ch = 130;
  EXPECT_EQ(ButtonRect(0, 1, cw, ch), (BoxRect{274, 101, 70, 23}));
  EXPECT_EQ(ButtonRect(0, 2, cw, ch).x, 204);
  EXPECT_EQ(ButtonRect(1, 2, cw, ch).x, 274);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ButtonRect(i, 3, cw, ch).x, 134 + 70 * i);
  EXPECT_EQ(ButtonRect(2, 3, cw, ch).x + kButtonWidth, cw - 10);
  EXPECT_EQ(DarkLineY(ch), 93);
  EXPECT_EQ(ButtonStripTop(ch), 95);
}

}  // namespace
}  // namespace havrek
