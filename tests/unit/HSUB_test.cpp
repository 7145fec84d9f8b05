#include "util/HSUB.h"

#include <gtest/gtest.h>

#include <string>

namespace havrek {
namespace {

using namespace std::string_literals;

TEST(SubFieldCount, CountsDelimitersOnlyInClosedLists) {
  struct Case {
    std::string list;
    int count;
  } cases[] = {
      {"", 0},
      {"\0"s, 0},
      {"|", 0},
      {"||", 1},
      {"|Error|Attention|Confirm|", 3},
      {"|a|b", 0},  // not closed by its own delimiter
      {"*a|b*c*", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(SUB::FieldCount(c.list), c.count) << c.list;
}

TEST(SubGetField, ReadsFieldsAndFallsBackToTheDefault) {
  const std::string months = "||JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC|";
  struct Case {
    std::string list;
    int index;
    std::string expected;
  } cases[] = {
      {"|Error|Attention|Confirm|", 0, "Error"},
      {"|Error|Attention|Confirm|", 2, "Confirm"},
      {"|Error|Attention|Confirm|", 3, "def"},
      {"|Error|Attention|Confirm|", -1, "def"},
      {"", 0, "def"},
      {"\0"s, 0, "def"},
      {"|a||c|", 1, "def"},  // an empty field reads like a missing one
      {months, 0, "def"},
      {months, 3, "MAR"},
      {months, 12, "DEC"},
      {"|a|b", 0, "a"},  // closed fields of an unclosed list are still read
      {"|a|b", 1, "def"},
      {"\0x\0y\0"s, 1, "y"},
      {"|a\0b|c|"s, 0, "a\0b"s},
  };
  for (const auto& c : cases) EXPECT_EQ(SUB::GetField(c.list, c.index, "def"), c.expected) << c.list << " #" << c.index;
}

TEST(SubGetFieldInt, ConvertsOrGivesTheDefault) {
  const std::string list = "|12|-7| 42 |x|2147483647|2147483648|-2147483648||1e3|";
  const int expected[] = {12, -7, 42, -1, 2147483647, -1, -2147483647 - 1, -1, -1, -1};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(SUB::GetFieldInt(list, i, -1), expected[i]) << i;
}

TEST(SubGetValue, FindsNamesAtTheStartOfAFieldIgnoringCase) {
  const std::string list = "|Name=Stub|Size =12| Mode=fast|Empty=|TRANSIENTx=5|";
  struct Case {
    std::string name;
    std::string expected;
  } cases[] = {
      {"Name", "Stub"},
      {"name=", "Stub"},
      {"Size", "12"},      // a blank before "=" is dropped...
      {"Mode", "fast"},    // ...and one after the delimiter
      {"Empty", "EMPTY"},  // present without a value
      {"TRANSIENT", "ABSENT"},
      {"ame", "ABSENT"},  // only whole names from the start of a field
      {"Missing", "ABSENT"},
  };
  for (const auto& c : cases) EXPECT_EQ(SUB::GetValue(list, c.name, "ABSENT", "EMPTY"), c.expected) << c.name;

  EXPECT_EQ(SUB::GetValue("|a=1", "a", "ABSENT", "EMPTY"), "ABSENT");  // not closed
  EXPECT_EQ(SUB::GetValue("||", "a", "ABSENT", "EMPTY"), "ABSENT");
  EXPECT_EQ(SUB::GetValue("|a=  x y |", "a", "ABSENT", "EMPTY"), "  x y ");  // untrimmed
}

TEST(SubSetField, ReplacesAppendsAndRedelimits) {
  struct Case {
    std::string list;
    int index;
    std::string value;
    std::string expected;
  } cases[] = {
      {"", 2, "v", "|||v|"},
      {"\0"s, 0, "v", "|v|"},
      {"|a|b|c|", 1, "X", "|a|X|c|"},
      {"|a|b|", 3, "d", "|a|b||d|"},
      {"*a*b*", 0, "", "**b*"},
      {"|a|b|", 0, "x|y", "*x|y*b*"},
      {"|a|b*|", 0, "x|y", "^x|y^b*^"},
      {"|a|b|", 1, "\0"s, "|a|\0|"s},  // a NUL inside a value stays a NUL
  };
  for (const auto& c : cases) EXPECT_EQ(SUB::SetField(c.list, c.index, c.value), c.expected) << c.list;

  // Every candidate taken: the list stays NUL-delimited rather than broken.
  const std::string all = "|*^!~@#$&\xFF";
  EXPECT_EQ(SUB::SetField("|a|", 1, all), "\0a\0"s + all + "\0"s);
}

TEST(SubSetField, WrittenFieldsReadBack) {
  std::string list;
  const std::string values[] = {"one", "t|wo", "three*", "^four", "five"};
  for (int i = 4; i >= 0; --i) list = SUB::SetField(list, i, values[i]);
  EXPECT_EQ(SUB::FieldCount(list), 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(SUB::GetField(list, i), values[i]) << list;
}

TEST(SubNewDelimiter, TakesTheFirstFreeCandidate) {
  struct Case {
    std::string list;
    std::string expected;
  } cases[] = {
      {"\0a\0b\0"s, "|a|b|"},
      {"\0a|\0b\0"s, "*a|*b*"},
      {"\0|*^!~@#$&\0"s, "\xFF|*^!~@#$&\xFF"},
      {"\0|*^!~@#$&\xFF\0"s, "\0|*^!~@#$&\xFF\0"s},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(SUB::NewDelimiter(c.list), c.expected);
}

}  // namespace
}  // namespace havrek
