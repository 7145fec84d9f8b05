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

TEST(SetupSpace, LaterFolderNamesNeverMeetAnotherExecutablesFirstName) {
  const std::uint32_t dos = 0x4A3B1234u;
  EXPECT_EQ(SetupFolderCandidate(dos, 0), "SETUP_4660");
  EXPECT_EQ(SetupFolderCandidate(dos, 1), "SETUP_4660_2");
  EXPECT_EQ(SetupFolderCandidate(dos, 2), "SETUP_4660_3");
  EXPECT_EQ(SetupFolderCandidate(0, 1), "SETUP_65535_2");
  // Every later name of one number differs from the first name of any other.
  for (int k = 1; k < kSetupFolderCandidates; ++k) {
    const std::string name = SetupFolderCandidate(dos, k);
    EXPECT_NE(name.find('_', 6), std::string::npos) << name;
  }
}

TEST(SetupSpace, SpanCopyRoleOnlyForAYCopyInASetupFolderOfASpanPackage) {
  const std::string temp = "C:\\Users\\Ann Lee\\AppData\\Local\\Temp\\";
  struct Case {
    const char* what;
    std::int64_t level;
    bool span;
    std::string exe;
    bool want;
  } cases[] = {
      {"the span copy", 2, true, temp + "SETUP_4660\\Y_setup.exe", true},
      {"a later folder name", 2, true, temp + "SETUP_4660_2\\Y_setup.exe", true},
      {"another case", 2, true,
       "c:\\users\\ann lee\\appdata\\local\\temp\\setup_1\\y_Setup.exe", true},
      {"alternative folder", 2, true, "D:\\TEMP_12345\\Y_setup.exe", true},
      {"alternative folder below TEMP", 2, true, "E:\\TEMP\\TEMP_100000\\Y_setup.exe", true},
      {"level 1", 1, true, temp + "SETUP_4660\\Y_setup.exe", false},
      {"level 3", 3, true, temp + "SETUP_4660\\Y_setup.exe", false},
      {"no span flag", 2, false, temp + "SETUP_4660\\Y_setup.exe", false},
      {"the user's own setup", 2, true, "C:\\Downloads\\setup.exe", false},
      {"a Y_ name elsewhere", 2, true, "C:\\Downloads\\Y_setup.exe", false},
      {"not a Y_ copy in the folder", 2, true, temp + "SETUP_4660\\setup.exe", false},
      {"a folder below the setup folder", 2, true, temp + "SETUP_4660\\sub\\Y_setup.exe", false},
      {"a SETUP_ folder outside temp", 2, true, "C:\\SETUP_4660\\Y_setup.exe", false},
      {"a SETUP_ folder deeper in temp", 2, true, temp + "x\\SETUP_4660\\Y_setup.exe", false},
      {"the temp folder itself", 2, true, temp + "Y_setup.exe", false},
      {"TEMP_ without digits", 2, true, "D:\\TEMP_x1\\Y_setup.exe", false},
      {"TEMP_ deeper down", 2, true, "D:\\a\\TEMP_123\\Y_setup.exe", false},
      {"no folder", 2, true, "Y_setup.exe", false},
  };
  for (const Case& c : cases) EXPECT_EQ(SpanCopyRoleHolds(c.level, c.span, c.exe, temp), c.want) << c.what;
  EXPECT_TRUE(SpanCopyRoleHolds(2, true, temp + "SETUP_1\\Y_a.exe", temp.substr(0, temp.size() - 1)));
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
