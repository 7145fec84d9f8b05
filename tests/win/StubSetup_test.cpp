#include "setup/StubSetup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

TEST(StubSetup, WaitProcessEndHandsOnTheExitCode) {
  const std::string cmd = SystemDir(true) + "cmd.exe /c exit ";
  // 259 is what a running process reports as its exit code: waiting must
  // rest on the process itself, or it would never end.
  for (const DWORD code : {0u, 7u, 259u}) {
    KernelHandle process = RunProcess(cmd + std::to_string(code), SW_HIDE);
    ASSERT_TRUE(process) << code;
    const std::int64_t start = TickMs();
    EXPECT_EQ(WaitProcessEnd(process.get()), code);
    EXPECT_LT(TickMs() - start, 20000) << code;
  }
}

TEST(StubSetup, AProgramThatCannotStartGivesNoProcessAndExitCodeZero) {
  KernelHandle process = RunProcess(TempDir(true) + "no such folder\\engine.exe /x", SW_HIDE);
  EXPECT_FALSE(process);
  EXPECT_EQ(WaitProcessEnd(process.get()), 0u);
}

TEST(StubSetup, HandshakeNamesFollowTheThread) {
  const std::string token = "_" + std::to_string(GetCurrentThreadId());
  EXPECT_EQ(ThreadToken(), token);
  EXPECT_EQ(EngineAtomName(), "AutoUpdateAtomTokenByHavrek" + token);
  EXPECT_EQ(EngineDialogClass(), ".SDialog_Class_Name." + token);
}

}  // namespace
}  // namespace havrek
