#include "setup/SetupSpace.h"

#include <gtest/gtest.h>

#include "package/PackX.h"

namespace havrek {
namespace {

TEST(SetupSpace, FolderNumberIsTheTimeOfDayHalf) {
  struct Case {
    std::uint32_t dos;
    std::string name;
  } cases[] = {
      {0x4A3B1234u, "SETUP_4660"},
      {0x00011234u, "SETUP_4660"},  // another day, same time: same folder
      {0x4A3BFFFFu, "SETUP_65535"},
      {0x4A3B0000u, "SETUP_0"},     // midnight is a real time
      {0u, "SETUP_65535"},          // time unknown
  };
  for (const Case& c : cases) EXPECT_EQ(SetupFolderName(c.dos), c.name) << std::hex << c.dos;
}

TEST(SetupSpace, MegabytesKeepThreeSignificantPlaces) {
  const double MB = 1048576.0;
  struct Case {
    double bytes;
    const char* text;
  } cases[] = {
      {0, "0.000"},       {-1, "0.000"},       {512 * 1024, "0.500"}, {1 * MB, "1.00"},
      {5 * MB, "5.00"},   {10 * MB, "10.00"},  {15 * MB, "15.0"},     {3.5e12, "3337860.1"},
  };
  for (const Case& c : cases) EXPECT_EQ(SpaceMBText(c.bytes), c.text) << c.bytes;
}

TEST(SetupSpace, AlternativeDriveHasMostFreeSpaceAndIsNotTheTempDrive) {
  struct Case {
    const char* what;
    double c, d, e;
    char temp;
    char chosen;
  } cases[] = {
      {"more on D", 100, 500, 0, 'C', 'D'},
      {"temp drive has most", 500, 100, 0, 'C', 0},
      {"ties keep the earlier letter", 0, 300, 300, 'C', 'D'},
      {"temp drive on F, C writable", 1, 0, 0, 'F', 'C'},
      {"only F and later fixed", 0, 0, 0, 'F', 0},
      {"unknown figures are no space", -1, -1, 0, 'D', 0},
      {"temp on D, C more", 900, 100, 0, 'D', 'C'},
  };
  for (const Case& c : cases) {
    const DriveFree drives[] = {{'C', c.c}, {'D', c.d}, {'E', c.e}};
    EXPECT_EQ(ChooseAltDrive(drives, 3, c.temp), c.chosen) << c.what;
  }
  EXPECT_EQ(AltTempBaseFor('D', false), "D:\\TEMP");
  EXPECT_EQ(AltTempBaseFor('D', true), "D:\\TEMP\\TEMP");
}

TEST(SetupSpace, FreeSpaceIsAskedAtTheFirstLevel) {
  struct Case {
    const char* path;
    const char* query;
    const char* root;
  } cases[] = {
      {"C:\\Users\\x\\Temp", "C:\\Users", "C:\\"},
      {"c:/Users/x", "c:\\Users", "C:\\"},
      {"C:\\Temp\\", "C:\\Temp", "C:\\"},
      {"D:\\", "D:\\", "D:\\"},
      {"D:", "D:", "D:\\"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FreeSpaceQueryPath(c.path), c.query) << c.path;
    EXPECT_EQ(DriveRootOf(FreeSpaceQueryPath(c.path)), c.root) << c.path;
  }
}

SpaceTexts DefaultTexts() {
  return {LanguageDefault("s2"), LanguageDefault("s3"), LanguageDefault("s4"), LanguageDefault("s5"),
          LanguageDefault("s6")};
}

TEST(SetupSpace, QuestionOnlyWhenAskedAlwaysOrShort) {
  const double MB = 1048576.0;
  const SpaceTexts texts = DefaultTexts();
  EXPECT_EQ(TempSpaceQuestion(texts, "C:\\Temp", false, 5 * MB, 100 * MB), "");
  EXPECT_EQ(TempSpaceQuestion(texts, "C:\\Temp", false, 5 * MB, 5 * MB + 1), "");

  EXPECT_EQ(TempSpaceQuestion(texts, "c:\\Temp", true, 5 * MB, 15 * MB),
            "Havrek will extract files to your Temp Drive (C:)<P>"
            "<P>Estimated space required on your Temp drive is: <T>  5.00 MB<P>"
            "Free space available on your Temp drive is: <T>  15.0 MB<P>"
            "<P>Continue with Setup?<P>");

  // Short of space wins over the always-confirm opening; equal is short.
  for (bool always : {false, true}) {
    const std::string q = TempSpaceQuestion(texts, "D:\\x", always, 5 * MB, 5 * MB);
    EXPECT_EQ(q.rfind("Limited Free Space on your Temp Drive! (D:)<P>", 0), 0u) << q;
    EXPECT_EQ(q.find("Havrek will extract"), std::string::npos);
  }

  // No figure from the system is no room, shown as nothing available.
  const std::string unknown = TempSpaceQuestion(texts, "C:\\Temp", false, 512 * 1024, -1);
  EXPECT_NE(unknown.find("Limited Free Space"), std::string::npos);
  EXPECT_NE(unknown.find("<T>  0.500 MB"), std::string::npos);
  EXPECT_NE(unknown.find("<T>  0.000 MB"), std::string::npos);

  EXPECT_NE(TempSpaceQuestion(texts, "", false, 1, 0).find("Temp Drive! ()"), std::string::npos);
}

}  // namespace
}  // namespace havrek
