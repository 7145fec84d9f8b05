#include "util/UtilsSystem.h"

#include <gtest/gtest.h>

#include <string>

#include "util/Utils.h"

namespace havrek {
namespace {

using namespace std::string_literals;

TEST(RegistryPath, RootNamesFullOrShortInAnyCase) {
  struct Case {
    std::string path;
    RegRoot root;
    std::string subKey;
  } cases[] = {
      {"HKLM\\Software\\X", RegRoot::LocalMachine, "Software\\X"},
      {"hkey_local_machine\\Software\\X", RegRoot::LocalMachine, "Software\\X"},
      {"Software\\X", RegRoot::CurrentUser, "Software\\X"},
      {"HKCU", RegRoot::CurrentUser, ""},
      {"HKEY_USERS", RegRoot::Users, ""},
      {"  HKU\\.DEFAULT\\Console  ", RegRoot::Users, ".DEFAULT\\Console"},
      {"hkcr\\.txt", RegRoot::ClassesRoot, ".txt"},
      {"HKEY_CLASSES_ROOT\\.txt", RegRoot::ClassesRoot, ".txt"},
      {"HKCC\\System", RegRoot::CurrentConfig, "System"},
      {"HKEY_CURRENT_CONFIG\\System", RegRoot::CurrentConfig, "System"},
      {"HKDD\\PerfStats", RegRoot::DynData, "PerfStats"},
      {"HKEY_DYN_DATA\\PerfStats", RegRoot::DynData, "PerfStats"},
      {"HKEY_CURRENT_USER\\a\\b", RegRoot::CurrentUser, "a\\b"},
      {"HKXX\\a", RegRoot::CurrentUser, "a"},  // unknown root names fall back, the root part still goes
      {"", RegRoot::CurrentUser, ""},
  };
  for (const auto& c : cases) {
    const RegPath p = SplitRegPath(c.path);
    EXPECT_EQ(p.root, c.root) << c.path;
    EXPECT_EQ(p.subKey, c.subKey) << c.path;
  }
}

TEST(Scramble, KnownKeyGivesKnownBytes) {
  // Odd positions use +key, even ones -key: 'A'^(1+65), 'B'^((2-65) & 0xFF).
  EXPECT_EQ(ScrambleTextWithKey("AB", true, false, 65), "Scrambled=01A\x03\x83"s);
  EXPECT_EQ(ScrambleTextWithKey("Scrambled=01A\x03\x83"s, false, false, 99), "AB");
  EXPECT_EQ(ScrambleTextWithKey("AB", true, true, 65), "536372616D626C65643D3031410383");
}

TEST(Scramble, RestoringGivesBackTheText) {
  const std::string texts[] = {"x", "Hello, world", "<html><b>News</b></html>\r\n", "\0\xFF\x80 bytes"s,
                               std::string(300, 'z')};
  for (const auto& text : texts) {
    for (bool hex : {false, true}) {
      const std::string scrambled = ScrambleText(text, true, hex);
      EXPECT_NE(scrambled, text);
      EXPECT_EQ(ScrambleText(scrambled, false, hex), text) << text << " hex " << hex;
    }
    for (int key : {33, 122}) {
      EXPECT_EQ(ScrambleText(ScrambleTextWithKey(text, true, false, key), false, false), text) << key;
    }
  }
}

TEST(Scramble, InputsThatAreNotTheirsComeBackUnchanged) {
  const std::string marked = ScrambleTextWithKey("page", true, false, 50);
  EXPECT_EQ(ScrambleText(marked, true, false), marked);
  EXPECT_EQ(ScrambleText("plain", false, false), "plain");
  EXPECT_EQ(ScrambleText("not hex at all", false, true), "not hex at all");
  EXPECT_EQ(ScrambleText("", true, true), "");
  EXPECT_EQ(ScrambleText("", false, false), "");
  // The marker without a key character holds nothing.
  EXPECT_EQ(ScrambleText(kScrambleMarker, false, false), "");
}

TEST(Waiting, SliceIsATenthOfTheTotalWithin1To25) {
  struct Case {
    std::uint32_t slice;
    std::int64_t total;
    std::uint32_t expected;
  } cases[] = {
      {0, 100, 10}, {0, 5, 1}, {0, 10000, 25}, {0, 0, 1}, {0, -50, 1}, {0, 259, 25}, {7, 100000, 7},
  };
  for (const auto& c : cases) EXPECT_EQ(YieldSliceMs(c.slice, c.total), c.expected) << c.slice << "/" << c.total;
}

}  // namespace
}  // namespace havrek
