#include "diag/HDebug.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace havrek {
namespace {

TEST(LogFile, PathIsTheXCopysNameWithLogBesideTheExecutable) {
  struct Case {
    std::string exe, expected;
  } cases[] = {
      {"C:\\Apps\\name.exe", "C:\\Apps\\X_name.log"},
      {"C:\\Apps\\X_name.exe", "C:\\Apps\\X_name.log"},
      {"C:\\Apps\\x_name.exe", "C:\\Apps\\X_x_name.log"},  // the prefix is compared with case
      {"C:\\Apps\\name", "C:\\Apps\\X_name.log"},
      {"C:\\App.v2\\name.setup.exe", "C:\\App.v2\\X_name.setup.log"},
      {"C:\\name.exe", "C:\\X_name.log"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LogFilePathFor(c.exe), c.expected) << c.exe;
}

// The log's path follows the system code page: the second byte of a
// double-byte character may be a backslash and is no separator.
TEST(LogFile, PathKeepsDoubleByteCharactersWhole) {
  plat::SetLeadByteTest([](unsigned char c) { return c == 0x81; });
  struct Case {
    std::string exe, expected;
  } cases[] = {
      {"C:\\Apps\\a\x81\\b.exe", "C:\\Apps\\X_a\x81\\b.log"},
      {"C:\\a\x81\\\\name.exe", "C:\\a\x81\\\\X_name.log"},  // the folder ends in the character
  };
  for (const auto& c : cases) EXPECT_EQ(LogFilePathFor(c.exe), c.expected) << c.exe;
  plat::SetLeadByteTest(nullptr);
}

TEST(LogFile, StampIsDayMonthTwoDigitYearAndTime) {
  const plat::LocalTime t{2019, 3, 5, 7, 8, 9, 0};
  EXPECT_EQ(LogStamp(t, '/', ':'), "05/03/19 07:08:09");
  EXPECT_EQ(LogStamp(plat::LocalTime{2000, 12, 31, 23, 59, 58, 0}, '.', ':'), "31.12.00 23:59:58");
  EXPECT_EQ(LogStamp(t).size(), 17u);
}

TEST(LogFile, LineHasStampPaddedThreadIdPrefixTextAndCrLf) {
  const plat::LocalTime t{2019, 3, 5, 7, 8, 9, 0};
  struct Case {
    std::uint32_t thread;
    std::string prefix, text, expected;
  } cases[] = {
      {42, "   ", "hello", "05/03/19 07:08:09    42   hello\r\n"},
      {42, " X ", "", "05/03/19 07:08:09    42 X \r\n"},
      {1234567, "   ", "t", "05/03/19 07:08:09 1234567   t\r\n"},  // longer ids stay whole
  };
  for (const auto& c : cases) EXPECT_EQ(LogLineText(t, '/', ':', c.thread, c.prefix, c.text), c.expected);
  EXPECT_EQ(LogLineText(t, '.', '-', 7, "   ", "x"), "05.03.19 07-08-09     7   x\r\n");
}

// Captures what the debug buffer sends; installed for one test at a time.
std::vector<std::string>& Pieces() {
  static std::vector<std::string> pieces;
  return pieces;
}

class DebugChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    DebugOut().flush();
    Pieces().clear();
    SetDebugTarget([](const std::string& piece) { Pieces().push_back(piece); });
  }
  void TearDown() override {
    DebugOut().flush();
    SetDebugTarget(nullptr);
  }
  static std::string Joined() {
    std::string all;
    for (const auto& p : Pieces()) all += p;
    return all;
  }
};

TEST_F(DebugChannel, ShortLineLeavesAsOnePieceAtItsEnd) {
  DebugOut() << "1234 ==== STUB START ====> ";
  EXPECT_TRUE(Pieces().empty());
  DebugOut() << "/S" << kDebugLineEnd;
  ASSERT_EQ(Pieces().size(), 1u);
  EXPECT_EQ(Pieces()[0], "1234 ==== STUB START ====> /S\r\n");
}

TEST_F(DebugChannel, LongLineIsSplitInto128CharacterPiecesWithTheLineEndLast) {
  const std::string text(300, 'a');
  DebugLine(text);
  ASSERT_EQ(Pieces().size(), 3u);
  EXPECT_EQ(Pieces()[0].size(), kDebugBufferSize);
  EXPECT_EQ(Pieces()[1].size(), kDebugBufferSize);
  EXPECT_EQ(Pieces()[2], std::string(300 - 256, 'a') + "\r\n");
  EXPECT_EQ(Joined(), text + "\r\n");
}

TEST_F(DebugChannel, EveryWayOfWritingALineEndSendsIt) {
  DebugOut().put('a').put('\n');
  DebugOut() << 'b' << '\n';
  DebugOut() << "c" << kDebugLineEnd;
  DebugOut().write("d\ne", 3);
  EXPECT_EQ(Pieces(), (std::vector<std::string>{"a\n", "b\n", "c\r\n", "d\n"}));
  DebugOut().flush();
  EXPECT_EQ(Pieces().back(), "e");
}

TEST_F(DebugChannel, ThrowingTargetLosesItsPieceButNotTheChannel) {
  SetDebugTarget([](const std::string&) { throw std::runtime_error("viewer gone"); });
  DebugLine("dropped");
  SetDebugTarget([](const std::string& piece) { Pieces().push_back(piece); });
  DebugLine("kept");
  EXPECT_EQ(Pieces(), std::vector<std::string>{"kept\r\n"});
}

TEST_F(DebugChannel, LineWrittenWhileSendingIsSentOnceOnItsOwn) {
  SetDebugTarget([](const std::string& piece) {
    Pieces().push_back(piece);
    if (Pieces().size() == 1) DebugLine("nested");
  });
  DebugLine("outer");
  EXPECT_EQ(Pieces(), (std::vector<std::string>{"outer\r\n", "nested\r\n"}));
}

TEST_F(DebugChannel, ReportExceptionNamesTheRoutine) {
  ReportException("YieldX", "bad cast");
  EXPECT_EQ(Joined(), " --- YieldX() --- bad cast\r\n");
}

TEST(DebugFile, EveryKindOfLineEndBecomesCrLf) {
  struct Case {
    std::string piece, expected;
  } cases[] = {
      {"a\r\nb", "a\r\nb"},    {"a\rb", "a\r\nb"},      {"a\nb", "a\r\nb"},
      {"\n\r", "\r\n\r\n"},    {"\r\r\n", "\r\n\r\n"},  {"", ""},
      {"no end", "no end"},
  };
  for (const auto& c : cases) EXPECT_EQ(DebugFileText(c.piece), c.expected);
}

TEST_F(DebugChannel, CrLfSplitAcrossPiecesGivesTwoBreaksInTheFile) {
  DebugLine(std::string(kDebugBufferSize - 1, 'x'));
  ASSERT_EQ(Pieces().size(), 2u);
  EXPECT_EQ(Pieces()[1], "\n");
  EXPECT_EQ(DebugFileText(Pieces()[0]) + DebugFileText(Pieces()[1]),
            std::string(kDebugBufferSize - 1, 'x') + "\r\n\r\n");
}

}  // namespace
}  // namespace havrek
