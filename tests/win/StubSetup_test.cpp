#include "setup/StubSetup.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>

#include "files/Files.h"
#include "package/PackX.h"
#include "SealedPackage.h"
#include "platform/Platform.h"
#include "ui/HMsgBox.h"
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

std::string Word(std::uint32_t w) { return std::string(reinterpret_cast<const char*>(&w), 4); }

// A package whose first entry is sound and whose second one, compressed,
// breaks in its check sum; its own checksum always passes.
std::string PackageWithABrokenStream() {
  std::string p(2048, '\0');
  p.replace(0, 2, "MZ");
  p.replace(256, 4, std::string("PE\0\0", 4));
  p += Word(0) + Word(0);
  const std::string first = std::string("|first.txt|0|") + '\0' + "first";
  p += Word(static_cast<std::uint32_t>(-static_cast<std::int32_t>(first.size()))) + first;
  const std::string content = std::string("|broken.txt|0|") + '\0' + std::string(100000, 'b');
  uLongf n = compressBound(static_cast<uLong>(content.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  z.resize(n);
  z.back() ^= 0x08;
  p += Word(static_cast<std::uint32_t>(z.size())) + z;
  return test::SealPackage(p, 2048, 2);
}

bool g_boxShown = false;

// Served by the box's own loop: answers it with its default button.
void CALLBACK AnswerBox(HWND, UINT, UINT_PTR, DWORD) {
  const HWND box = FindWindowA(kMsgBoxClass, nullptr);
  if (!box || GetWindowThreadProcessId(box, nullptr) != GetCurrentThreadId()) return;
  g_boxShown = true;
  PostMessageA(box, WM_KEYDOWN, VK_RETURN, 1);
}

TEST(StubSetup, AnEntryThatDoesNotExpandLeavesNoFolderBehind) {
  const std::string dir = TempDir(true) + "havrek_zerr_" + std::to_string(GetCurrentProcessId());
  const std::string package = dir + "\\setup.exe", target = dir + "\\SETUP_1";
  DeleteTree(dir, true);
  // Made beforehand, as the setup makes its folder: one that is missing
  // sends the flow to an alternative folder.
  ASSERT_TRUE(plat::MakeDirs(target));
  const std::string bytes = PackageWithABrokenStream();
  {
    const plat::File f(package, plat::OpenMode::Create);
    ASSERT_TRUE(f && f.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size())));
  }
  g_boxShown = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, AnswerBox);
  EXPECT_FALSE(ExtractAndRun(target, package, "", "", false));
  KillTimer(nullptr, timer);
  // Gone as ExtractAndRun returns, not only by the clean-up of whoever called it.
  EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(g_boxShown) << "the failed expansion was not reported";
  DeleteTree(dir, true);
}

TEST(StubSetup, HandshakeNamesFollowTheThread) {
  const std::string token = "_" + std::to_string(GetCurrentThreadId());
  EXPECT_EQ(ThreadToken(), token);
  EXPECT_EQ(EngineAtomName(), "AutoUpdateAtomTokenByHavrek" + token);
  EXPECT_EQ(EngineDialogClass(), ".SDialog_Class_Name." + token);
}

}  // namespace
}  // namespace havrek
