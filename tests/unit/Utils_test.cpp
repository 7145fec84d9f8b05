#include "util/Utils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "util/Fnv1a.h"

namespace havrek {
namespace {

using namespace std::string_literals;

TEST(Replace, ReplaceAllNeverRevisitsInsertedText) {
  struct Case {
    std::string s, oldText, newText, expected;
  } cases[] = {
      {"dd/mm/yy", "yy", "yyyy", "dd/mm/yyyy"},
      {"yyyy", "yy", "yyyy", "yyyyyyyy"},
      {"aaa", "a", "aa", "aaaaaa"},
      {"abcabc", "bc", "", "aa"},
      {"aabb", "ab", "", ""},  // deleting joins a new occurrence, which goes too
      {"abc", "x", "y", "abc"},
      {"abc", "", "y", "abc"},
      {"", "a", "b", ""},
      {"ABC", "b", "x", "ABC"},  // case-sensitive
      {"a\0b"s, "\0"s, "-", "a-b"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceAll(c.s, c.oldText, c.newText), c.expected) << c.s;
}

TEST(Replace, ReplaceAllNoCaseKeepsTheCaseOfWhatStays) {
  struct Case {
    std::string s, oldText, newText, expected;
  } cases[] = {
      {"Path=%WinDir%\\x;%WINDIR%", "%windir%", "C:\\W", "Path=C:\\W\\x;C:\\W"},
      {"YyyY-mm", "yy", "yyyy", "yyyyyyyy-mm"},
      {"aXbxc", "X", "", "abc"},
      {"\xE4\xC4", "\xE4", "a", "a\xC4"},  // only a..z fold
  };
  for (const auto& c : cases) EXPECT_EQ(ReplaceAllNoCase(c.s, c.oldText, c.newText), c.expected) << c.s;
  EXPECT_EQ(ReplaceChar("a.b.c", '.', '\\'), "a\\b\\c");
  EXPECT_EQ(ReplaceChar("a.b", '.', '.'), "a.b");
}

TEST(Quotes, DequoteAndTrimDequote) {
  struct Case {
    std::string s;
    bool force, once;
    std::string expected;
  } cases[] = {
      {"\"", false, false, ""},
      {"\"abc\"", false, false, "abc"},
      {"\"\"abc\"\"", false, false, "abc"},
      {"\"\"abc\"\"", false, true, "\"abc\""},
      {"\"abc", false, false, "\"abc"},  // not enclosed
      {"\"abc", true, false, "abc"},
      {"\"\"", false, false, ""},
      {"a", true, false, "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(Dequote(c.s, '"', c.force, c.once), c.expected) << c.s;
  EXPECT_EQ(TrimDequote("  \"C:\\Program Files\\x\"  ", false), "C:\\Program Files\\x");
  EXPECT_EQ(ReverseText("abc"), "cba");
}

TEST(Search, PositionsCountFromOne) {
  EXPECT_EQ(LastPos("ab", "abxab"), 4);
  EXPECT_EQ(LastPos("q", "abxab"), 0);
  EXPECT_EQ(PosNoCase("XA", "abxab"), 3);
  EXPECT_EQ(PosNoCase("", "abc"), 0);
  EXPECT_EQ(PosFromEndNoCase("EXE", "setup.exe"), 1);
  EXPECT_EQ(PosFromEndNoCase("setup", "setup.exe"), 5);
  EXPECT_EQ(PosFromEndNoCase("zip", "setup.exe"), 0);

  struct Case {
    std::string sub, s;
    std::int64_t start;
    bool ignoreCase;
    std::int64_t expected;
  } cases[] = {
      {"a", "abcabc", 0, false, 1},  {"a", "abcabc", 2, false, 4}, {"A", "abcabc", 2, false, 0},
      {"A", "abcabc", 2, true, 4},   {"c", "abcabc", 6, false, 6}, {"c", "abcabc", 7, false, 0},
      {"bc", "abcabc", -5, false, 2},
  };
  for (const auto& c : cases) EXPECT_EQ(PosFrom(c.sub, c.s, c.start, c.ignoreCase), c.expected) << c.start;
}

TEST(Search, AffixesAndSplits) {
  EXPECT_TRUE(StartsWith("HK", "hkey_users", true));
  EXPECT_FALSE(StartsWith("HK", "hkey_users", false));
  EXPECT_FALSE(StartsWith("longer", "long", true));
  EXPECT_TRUE(EndsWith(".EXE", "setup.exe", true));
  EXPECT_FALSE(EndsWith(".EXE", "setup.exe", false));
  EXPECT_FALSE(EndsWith("xsetup.exe", "setup.exe", true));
  EXPECT_TRUE(SameTextTrim("  Setup.EXE ", "setup.exe\t"));
  EXPECT_FALSE(SameTextTrim("setup.ex", "setup.exe"));
  EXPECT_EQ(TextBefore("key=value=x", "=", "D"), "key");
  EXPECT_EQ(TextAfter("key=value=x", "=", "D"), "value=x");
  EXPECT_EQ(TextBefore("key", "=", "D"), "D");
  EXPECT_EQ(TextAfter("key", "", "D"), "D");
}

TEST(Format, PaddingAndFlags) {
  EXPECT_EQ(BoolText(true), "TRUE");
  EXPECT_EQ(BoolText(false), "FALSE");
  EXPECT_EQ(IfThenText(false, "a", "b"), "b");
  EXPECT_EQ(PadLeft("7", 3, ' '), "  7");
  EXPECT_EQ(PadLeft("1234", 3, ' '), "1234");
  EXPECT_EQ(ZeroPad(5, 2), "05");
  EXPECT_EQ(ZeroPad("123", 2), "123");
  EXPECT_EQ(ZeroPad(7, -3), "7");
}

TEST(Format, ThousandsAndSizes) {
  struct Thousands {
    std::string in, out;
  } thousands[] = {{"", ""},         {"123", "123"},       {"1234", "1,234"}, {"1234567", "1,234,567"},
                   {"1234.5", "1,234.5"}, {"123456.789", "123,456.789"}, {"-123", "-123"}, {"-1234", "-1,234"}};
  for (const auto& c : thousands) EXPECT_EQ(ThousandsText(c.in), c.out) << c.in;

  struct Size {
    std::int64_t value, unit;
    int decimals;
    bool thousands;
    std::string expected;
  } sizes[] = {
      {1, 1024, 0, false, "1"},  // rounded up
      {0, 1024, 0, false, "0"},
      {1024, 1024, 0, false, "1"},
      {1025, 1024, 0, false, "2"},
      {0, 1024, 1, false, "0.0"},
      {1536, 1024, 1, false, "1.5"},
      {1024, 1024, 2, false, "1.0"},  // one decimal, whatever is asked
      {5000LL * 1048576, 1048576, 0, true, "5,000"},
      {10, 0, 0, false, "10"},  // a zero unit is taken as 1
  };
  for (const auto& c : sizes) EXPECT_EQ(SizeText(c.value, c.unit, c.decimals, c.thousands), c.expected) << c.value;
  EXPECT_EQ(KBText(2049), "3");
  EXPECT_EQ(MBText(3 * 1048576 + 1), "4");
  EXPECT_EQ(FixedText(2.345, 2), "2.35");
  EXPECT_EQ(FixedText(-1, 0), "-1");
  EXPECT_EQ(FixedText(1e300, 2).size(), 304u);
}

TEST(Numbers, TextToIntRejectsGarbageAndOverflow) {
  struct Case {
    std::string text;
    bool ok;
    std::int64_t value;
  } cases[] = {
      {"0", true, 0},
      {" 42 ", true, 42},
      {"-17", true, -17},
      {"+5", true, 5},
      {"9223372036854775807", true, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", true, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", false, 0},
      {"-9223372036854775809", false, 0},
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"12x", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    std::int64_t v = 0;
    EXPECT_EQ(TryTextToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
  EXPECT_EQ(TextToInt64("x", -1), -1);
  EXPECT_EQ(TextToInt32("2147483648", 9), 9);
}

TEST(Numbers, BaseAndHex) {
  EXPECT_EQ(BaseToInt("ff", 16), 255);
  EXPECT_EQ(BaseToInt(" 777 ", 8), 511);
  EXPECT_EQ(BaseToInt("1z", 16), 16 - 1);  // an unknown digit counts -1
  EXPECT_EQ(HexToInt("0x1F"), 31);
  EXPECT_EQ(HexToInt("0X1f"), 31);
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("FFFFFFFFFFFFFFFF"), -1);
  (void)HexToInt(std::string(100, 'F'));  // wraps, no overflow trap

  EXPECT_EQ(BytesToHex("\x01\xAB", false, false), "01AB");
  EXPECT_EQ(BytesToHex("\x01\xAB", false, true), "0x010xAB");
  EXPECT_EQ(BytesToHex("12345678\x09", true, false), "31 32 33 34 35 36 37 38  09 ");
  const std::string bytes = "\0\x7F\x80\xFF z"s;
  EXPECT_EQ(HexToBytes(BytesToHex(bytes, false, false)), bytes);
  EXPECT_EQ(HexToBytes("4142F"), "AB");  // an odd digit at the end is dropped
}

// Names made from these hashes are shared between processes and versions
// (kernel objects, window classes) and a build token's encoding comes from
// them: a change of constant or of byte sign would part what must meet.
TEST(Numbers, HashesAreTheSameOnEveryMachine) {
  struct Case {
    std::string bytes;
    std::uint64_t hash;
  };
  const Case cases[] = {
      {"", 0xCBF29CE484222325ULL},
      {"a", 0xAF63DC4C8601EC8CULL},
      {"foobar", 0x85944171F73967E8ULL},
      {"\xFF", 0xAF64724C8602EB6EULL},  // a byte above 127 is no negative number
      {"C:\\PROGRAM FILES\\APP", 0xAA538E15D4003840ULL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Fnv1a64(c.bytes), c.hash);
  }
  // Only a..z fold: the system compares these names without case.
  EXPECT_EQ(NameDigest("c:\\Program Files\\app"), "AA538E15D4003840");
  EXPECT_EQ(NameDigest("C:\\PROGRAM FILES\\APP"), "AA538E15D4003840");
  EXPECT_EQ(NameDigest(""), "CBF29CE484222325");
  EXPECT_EQ(NameDigest("\xFF"), "AF64724C8602EB6E");
}

TEST(Numbers, RandomInRangeStaysInside) {
  for (int i = 0; i < 200; ++i) {
    const std::int64_t r = RandomInRange(-3, 3);
    EXPECT_GE(r, -3);
    EXPECT_LE(r, 3);
  }
  EXPECT_EQ(RandomInRange(5, 5), 5);
  EXPECT_EQ(RandomInRange(5, 1), 5);
  (void)RandomInRange(std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max());
  const std::int64_t t = TextToInt64(RandomTextInRange(10, 12), 0);
  EXPECT_TRUE(t >= 10 && t <= 12);
}

TEST(Dates, Texts) {
  const plat::LocalTime t{2019, 3, 5, 7, 8, 9, 0};
  EXPECT_EQ(DateText(t), "05-MAR-2019");
  EXPECT_EQ(DateTimeText(t, ':'), "05-MAR-2019 07:08:09");
  EXPECT_EQ(DateTimeText(t, '.'), "05-MAR-2019 07.08.09");
  EXPECT_EQ(DateText(plat::LocalTime{2019, 13, 1}), "01--2019");  // bad month: no crash
}

TEST(Dates, DaysSinceEpoch) {
  EXPECT_DOUBLE_EQ(LocalTimeToDays(plat::LocalTime{1899, 12, 30}), 0.0);
  EXPECT_DOUBLE_EQ(LocalTimeToDays(plat::LocalTime{2019, 3, 5, 12}), 43529.5);
  EXPECT_DOUBLE_EQ(LocalTimeToDays(plat::LocalTime{1899, 12, 29, 6}), -1.25);

  const plat::LocalTime samples[] = {{2019, 3, 5, 7, 8, 9, 0}, {2000, 2, 29, 23, 59, 59, 0}, {1899, 12, 29, 6, 0, 0, 0},
                                     {1970, 1, 1, 0, 0, 0, 0}, {9999, 12, 31, 23, 59, 59, 0}};
  for (const auto& s : samples) {
    const plat::LocalTime back = DaysToLocalTime(LocalTimeToDays(s));
    EXPECT_EQ(DateTimeText(back, ':'), DateTimeText(s, ':'));
  }
  for (double bad : {std::nan(""), 1e300, -1e300, std::numeric_limits<double>::infinity()})
    EXPECT_EQ(DaysToLocalTime(bad).year, 0);
}

TEST(Paths, TrailingBackslash) {
  struct Case {
    std::string path;
    bool add;
    std::string expected;
  } cases[] = {
      {"C:\\", true, "C:\\"},      {"C:\\", false, "C:"},         {"C:\\x\\", false, "C:\\x"},
      {"C:\\x", true, "C:\\x\\"},  {"\\", true, "\\\\"},          {"x\\", true, "x\\\\"},
      {"x\\", false, "x\\"},       {"", true, "\\"},              {"", false, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SetTrailingBackslash(c.path, c.add), c.expected) << c.path;

  EXPECT_EQ(RemoveTrailingBackslash("\\"), "");
  EXPECT_EQ(RemoveTrailingBackslash("C:\\"), "C:");
  EXPECT_EQ(RemoveTrailingBackslash("x\\\\"), "x\\");
  EXPECT_EQ(RemoveTrailingBackslash("x"), "x");
}

TEST(Paths, CollapseBackslashes) {
  struct Case {
    std::string path;
    bool removeTrailing;
    std::string expected;
  } cases[] = {
      {"\\\\server\\share\\x", false, "\\\\server\\share\\x"},  // UNC start kept
      {"C:\\a\\\\b\\\\\\c", false, "C:\\a\\b\\c"},
      {"\\\\\\server\\x", false, "\\\\server\\x"},
      {"C:\\a\\\\", false, "C:\\a\\\\"},  // the last pair is left alone...
      {"C:\\a\\\\", true, "C:\\a\\"},     // ...and loses one with remove-trailing
      {"C:\\a\\", true, "C:\\a"},
      {"C:\\\\a", false, "C:\\a"},
      {"\"C:\\a\"", false, "\"C:\\a\""},
      {"\\\\", false, "\\\\"},
      {"a\\\\b", false, "a\\b"},
      {"\\\\\\", false, "\\\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(CollapseBackslashes(c.path, c.removeTrailing), c.expected) << c.path;
}

TEST(Paths, DoubleByteTrailBackslashIsNotASeparator) {
  SetLeadByteTest([](unsigned char c) { return c == 0x81; });
  EXPECT_EQ(SetTrailingBackslash("C:\\a\x81\\", false), "C:\\a\x81\\");
  EXPECT_EQ(RemoveTrailingBackslash("C:\\a\x81\\"), "C:\\a\x81\\");
  EXPECT_EQ(CollapseBackslashes("C:\\x\x81\\\\y", false), "C:\\x\x81\\\\y");
  EXPECT_EQ(CollapseBackslashes("\x81\\\\y\\", false), "\x81\\\\y\\");
  EXPECT_EQ(FileNamePart("C:\\d\\a\x81\\b.txt"), "a\x81\\b.txt");
  SetLeadByteTest(nullptr);
  EXPECT_EQ(SetTrailingBackslash("C:\\a\x81\\", false), "C:\\a\x81");
}

TEST(Paths, FileNames) {
  struct Case {
    std::string path;
    bool all;
    std::string expected;
  } cases[] = {
      {"C:\\dir.x\\setup.tar.gz", false, "setup.tar"},
      {"C:\\dir.x\\setup.tar.gz", true, "setup"},
      {"C:\\dir.x\\setup", false, "setup"},
      {"setup.exe", false, "setup"},
      {"C:setup.exe", false, "setup"},
      {"/tmp/a/stub.exe", false, "stub"},
      {"C:\\dir\\", false, ""},
      {"", true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FileNameNoExt(c.path, c.all), c.expected) << c.path;
  EXPECT_EQ(FileDirPart("C:\\x\\s.exe"), "C:\\x\\");
  EXPECT_EQ(FileDirPart("s.exe"), "");
}

TEST(CommandLine, ArgumentsWithoutTheProgramPath) {
  const std::string exe = "C:\\Program Files\\Setup Dir\\setup.exe";
  struct Case {
    std::string commandLine, exePath, expected;
  } cases[] = {
      {"\"C:\\Program Files\\Setup Dir\\setup.exe\" /hide /x=1", exe, "/hide /x=1"},
      {"\"C:\\Program Files\\Setup Dir\\SETUP.EXE\"", exe, ""},
      {"C:\\Tools\\setup.exe /a \"/b=c d\"", "C:\\Tools\\setup.exe", "/a \"/b=c d\""},
      {"setup /a", "C:\\Tools\\setup.exe", "setup /a"},  // name not found: kept
      {"setup.exe  /a  ", "C:\\Tools\\setup.exe", "/a"},
      {"\"setup.exe\" ", "C:\\Tools\\setup.exe", ""},
      {"setup.exe x", "C:\\Tools\\setup.exe", ""},  // one character left counts as none
      {"  /a /b ", "", "/a /b"},
  };
  for (const auto& c : cases) EXPECT_EQ(CmdLineArgsOf(c.commandLine, c.exePath), c.expected) << c.commandLine;
}

TEST(CommandLine, SwitchValues) {
  const std::string args =
      "/TH_ID=1234 /OriginExe=\"C:\\My Setup\\setup.exe\" /TRANSIENTx=7 /Note=a /b c /SpanCdLvl=";
  EXPECT_EQ(SwitchListOf("/a=1 \"/b=x y\"", '/', '|'), "||a=1|b=x y|");

  struct Case {
    std::string name, expected;
  } cases[] = {
      {"/TH_ID=", "1234"},
      {"/th_id", "1234"},
      {"/OriginExe", "C:\\My Setup\\setup.exe"},   // quotes gone, inner blank kept
      {"/OriginExe=", "C:\\My Setup\\setup.exe"},
      {"/TRANSIENT=", "DEF"},  // never matches the longer switch
      {"/TRANSIENTx=", "7"},
      {"/Note=", "a"},       // a blank and "/" end the value
      {"/SpanCdLvl=", ""},   // given with "=" and nothing after it
      {"  ", "DEF"},
      {"/Missing=", "DEF"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetSwitchIn(args, c.name, "DEF"), c.expected) << c.name;

  struct IntCase {
    std::string name;
    std::int64_t expected;
  } ints[] = {{"/TH_ID=", 1234}, {"/SpanCdLvl=", -1}, {"/OriginExe=", -1}, {"/Missing=", -1}, {"/TRANSIENTx", 7}};
  for (const auto& c : ints) EXPECT_EQ(GetSwitchIntIn(args, c.name, -1), c.expected) << c.name;
  EXPECT_EQ(GetSwitchIntIn("/WAIT=99999999999999999999", "/WAIT=", 3), 3);

  // A name starting with "-" reads "-" switches; "/" is then ordinary text.
  EXPECT_EQ(GetSwitchIn("-a=1 /x -b=2", "-a", ""), "1 /x");
  EXPECT_EQ(GetSwitchIn("-a=1 /x -b=2", "-b=", ""), "2");
}

TEST(CommandLine, BareSwitches) {
  struct Case {
    std::string args, name;
    bool present;
  } cases[] = {
      {"/a /HIDE", "/hide", true},
      {"/hide /a", "/hide", true},
      {"/hideaway", "/hide", false},
      {"/a=/hide", "/hide", true},  // found anywhere
      {"\"/hide\"", "/hide", false},  // quotes stay for this test
      {"/a", " /a ", true},
      {"/a", "", false},
      {"", "/hide", false},
  };
  for (const auto& c : cases) EXPECT_EQ(HasSwitchIn(c.args, c.name), c.present) << c.args << " ? " << c.name;
}

TEST(CommandLine, ProcessWideContext) {
  SetProcessCommandLine("\"C:\\x\\Stub.exe\" /OriginExe=C:\\o.exe /HIDE /SleepX=25", "C:\\x\\Stub.exe");
  EXPECT_EQ(ProcessCommandLine(), "\"C:\\x\\Stub.exe\" /OriginExe=C:\\o.exe /HIDE /SleepX=25");
  EXPECT_EQ(GetCmdLineArgs(), "/OriginExe=C:\\o.exe /HIDE /SleepX=25");
  EXPECT_EQ(GetSwitchList('/', '|'), "||OriginExe=C:\\o.exe|HIDE|SleepX=25|");
  EXPECT_EQ(GetSwitch("/OriginExe", ""), "C:\\o.exe");
  EXPECT_EQ(GetSwitchInt("/SleepX=", 0), 25);
  EXPECT_TRUE(HasSwitch("/hide"));
  EXPECT_EQ(ExePath(), "C:\\x\\Stub.exe");
  EXPECT_EQ(ExePath(true), "Stub");
  EXPECT_EQ(ExeDir(true), "C:\\x\\");
  EXPECT_EQ(ExeDir(false), "C:\\x");
  SetProcessCommandLine("", "");
  EXPECT_EQ(GetCmdLineArgs(), "");
  EXPECT_EQ(GetSwitchInt("/SleepX=", -1), -1);
}

}  // namespace
}  // namespace havrek
