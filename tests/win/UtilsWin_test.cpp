#include "util/UtilsWin.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "util/Utils.h"

namespace havrek {
namespace {

TEST(UtilsWin, CommandLineContextComesFromTheProcess) {
  InitProcessCommandLine();
  EXPECT_EQ(ProcessCommandLine(), GetCommandLineA());
  const std::string exe = ExePath();
  ASSERT_FALSE(exe.empty());
  EXPECT_NE(GetFileAttributesA(exe.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(SameText(ExePath(true), "havrek_win_tests"));
  EXPECT_TRUE(EndsWith("\\", ExeDir(true), false));
  // The test runner's own switches (if any) are all that remain.
  EXPECT_EQ(GetCmdLineArgs().find(ExePath(true) + ".exe"), std::string::npos);
}

TEST(UtilsWin, SystemFoldersFollowTheBackslashRule) {
  for (auto folder : {&WindowsDir, &SystemDir, &TempDir}) {
    const std::string with = folder(true), without = folder(false);
    ASSERT_GT(without.size(), 2u);
    EXPECT_EQ(with, without + "\\");
    EXPECT_NE(GetFileAttributesA(without.c_str()), INVALID_FILE_ATTRIBUTES) << without;
  }
  EXPECT_TRUE(StartsWith(WindowsDir(true), SystemDir(true), true));
}

}  // namespace
}  // namespace havrek
