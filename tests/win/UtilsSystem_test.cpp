#include "util/UtilsSystemWin.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "ui/UiKitWin.h"
#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"

namespace havrek {
namespace {

using namespace std::string_literals;

void SetValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
}

std::string DwordBytes(DWORD v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// A key of its own under each root, removed with everything in it.
class Registry : public ::testing::Test {
 protected:
  static constexpr char kSub[] = "Software\\HavrekUnitTest";
  void SetUp() override {
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, user_.put(), nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    user_.reset();
    machine_.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, kSub);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kSub);
    RegDeleteValueA(HKEY_CURRENT_USER, "HavrekUnitTestRootValue");
  }
  RegKey user_;
  RegKey machine_;
};

TEST_F(Registry, ValueTypesBecomeTexts) {
  SetValue(user_.get(), "dword", REG_DWORD, DwordBytes(4000000000u));
  SetValue(user_.get(), "multi", REG_MULTI_SZ, "a\0b\0\0"s);
  SetValue(user_.get(), "text", REG_SZ, "hello\0"s);
  SetValue(user_.get(), "unterminated", REG_SZ, "abc");  // stored without its zero
  SetValue(user_.get(), "expand", REG_EXPAND_SZ, "%TEMP%\\x\0"s);
  SetValue(user_.get(), "binary", REG_BINARY, "ab\0cd"s);
  SetValue(user_.get(), "empty", REG_SZ, ""s);
  SetValue(user_.get(), "huge", REG_BINARY, std::string(20000, 'h'));
  struct Case {
    const char* name;
    std::string expected;
  } cases[] = {
      {"dword", "4000000000"},
      {"multi", "a<0>b"},
      {"text", "hello"},
      {"unterminated", "abc"},
      {"expand", "%TEMP%\\x"},
      {"binary", "ab"},
      {"empty", ""},
      {"huge", "default"},  // larger than the value buffer
      {"missing", "default"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadRegString("HKCU\\Software\\HavrekUnitTest", c.name, "default"), c.expected) << c.name;
  EXPECT_EQ(ReadRegString("HKCU\\Software\\HavrekUnitTest\\NoSuchKey", "text", "default"), "default");
}

TEST_F(Registry, UnterminatedStringDoesNotRunIntoLeftoverBytes) {
  // Whatever lies in the buffer after a short unterminated value, the text
  // ends where the value's own bytes end.
  SetValue(user_.get(), "long", REG_SZ, std::string(5000, 'L') + "\0"s);
  SetValue(user_.get(), "short", REG_SZ, "xy");
  EXPECT_EQ(ReadRegString("HKCU\\Software\\HavrekUnitTest", "long", "").size(), 5000u);
  EXPECT_EQ(ReadRegString("HKCU\\Software\\HavrekUnitTest", "short", ""), "xy");
}

TEST_F(Registry, RootNamesAddressTheSameKey) {
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, machine_.put(), nullptr),
            ERROR_SUCCESS);
  SetValue(machine_.get(), "where", REG_SZ, "machine"s + '\0');
  SetValue(user_.get(), "where", REG_SZ, "user"s + '\0');
  EXPECT_EQ(ReadRegString("HKLM\\Software\\HavrekUnitTest", "where", ""), "machine");
  EXPECT_EQ(ReadRegString("hkey_local_machine\\Software\\HavrekUnitTest", "where", ""), "machine");
  EXPECT_EQ(ReadRegString("Software\\HavrekUnitTest", "where", ""), "user");
  EXPECT_EQ(ReadRegString("  HKEY_CURRENT_USER\\Software\\HavrekUnitTest  ", "where", ""), "user");
}

TEST_F(Registry, RootAloneOpensTheRoot) {
  SetValue(HKEY_CURRENT_USER, "HavrekUnitTestRootValue", REG_SZ, "at root"s + '\0');
  EXPECT_EQ(ReadRegString("HKCU", "HavrekUnitTestRootValue", ""), "at root");
}

class IniFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = TempDir(true) + "havrek_unit_test.ini";
    std::ofstream(file_, std::ios::binary) << "Key=top\r\n[Sec]\r\nKey=value\r\nEmpty=\r\nNum=42\r\nBad=4x2\r\n"
                                              "Big=9000000000\r\nBlanks=  padded  \r\n";
  }
  void TearDown() override { DeleteFileA(file_.c_str()); }
  std::string file_;
};

TEST_F(IniFiles, EmptyValuesAndEmptySectionsGiveTheDefault) {
  struct Case {
    std::string section, key, def, expected;
  } cases[] = {
      {"Sec", "Key", "d", "value"},
      {"Sec", "Empty", "d", "d"},
      {"Sec", "Missing", "d  ", "d  "},  // the caller's default keeps its blanks
      {"", "Key", "d", "d"},
      {"NoSection", "Key", "d", "d"},
      {"sec", "key", "d", "value"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReadIniString(file_, c.section, c.key, c.def), c.expected) << c.section << "/" << c.key;
  EXPECT_EQ(ReadIniString(TempDir(true) + "havrek_no_such.ini", "Sec", "Key", "d"), "d");
}

TEST_F(IniFiles, NumbersReadAsDecimalOrTheDefault) {
  struct Case {
    const char* key;
    std::int64_t expected;
  } cases[] = {{"Num", 42}, {"Bad", -1}, {"Big", 9000000000LL}, {"Empty", -1}, {"Missing", -1}};
  for (const auto& c : cases) EXPECT_EQ(ReadIniInt(file_, "Sec", c.key, -1), c.expected) << c.key;
}

TEST_F(IniFiles, WritesReadBack) {
  EXPECT_TRUE(WriteIniString(file_, "New", "Name", "text with = sign"));
  EXPECT_TRUE(WriteIniInt(file_, "New", "Stamp", -43831));
  EXPECT_TRUE(WriteIniInt(file_, "Sec", "Num", 7));
  EXPECT_EQ(ReadIniString(file_, "New", "Name", ""), "text with = sign");
  EXPECT_EQ(ReadIniInt(file_, "New", "Stamp", 0), -43831);
  EXPECT_EQ(ReadIniInt(file_, "Sec", "Num", 0), 7);
  EXPECT_FALSE(WriteIniString(file_, "", "Name", "x"));
  EXPECT_FALSE(WriteIniString(file_, "New", "", "x"));
  EXPECT_FALSE(WriteIniString("", "New", "Name", "x"));
}

TEST(SystemFacts, NamesOfUserMachineAndOwner) {
  EXPECT_FALSE(CurrentUserName().empty());
  EXPECT_FALSE(ComputerName().empty());
  EXPECT_TRUE(IsWinNT());
  EXPECT_EQ(WindowsVersionKey(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  EXPECT_EQ(AccountDomain("havrek no such account"), "");
  EXPECT_EQ(AccountDomain(""), "");
}

TEST(SystemFacts, OwnerFallsBackToTheUserName) {
  RegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                          KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()),
            ERROR_SUCCESS);
  std::vector<BYTE> saved(1024);
  DWORD size = static_cast<DWORD>(saved.size());
  DWORD type = 0;
  const bool had = RegQueryValueExA(key.get(), "RegisteredOwner", nullptr, &type, saved.data(), &size) == ERROR_SUCCESS;
  SetValue(key.get(), "RegisteredOwner", REG_SZ, "  Someone Else  "s + '\0');
  EXPECT_EQ(OwnerName(), "Someone Else");
  RegDeleteValueA(key.get(), "RegisteredOwner");
  EXPECT_EQ(OwnerName(), CurrentUserName());
  if (had) RegSetValueExA(key.get(), "RegisteredOwner", 0, type, saved.data(), size);
}

TEST(SystemFacts, ErrorTextsHaveNoTrailingLineEnd) {
  SetLastError(ERROR_FILE_NOT_FOUND);
  const std::string text = LastErrorText();
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n');
  EXPECT_NE(text.back(), '.');
}

TEST(FileVersion, FixedVersionOfASystemDll) {
  const std::string dll = SystemDir(true) + "kernel32.dll";
  DWORD ignored = 0;
  std::vector<BYTE> block(GetFileVersionInfoSizeA(dll.c_str(), &ignored));
  ASSERT_FALSE(block.empty());
  ASSERT_TRUE(GetFileVersionInfoA(dll.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize));
  const std::string expected = std::to_string(HIWORD(info->dwFileVersionMS)) + "." +
                               std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
                               std::to_string(HIWORD(info->dwFileVersionLS)) + "." +
                               std::to_string(LOWORD(info->dwFileVersionLS));
  EXPECT_EQ(FileVersionText(dll), expected);
}

#ifdef HAVREK_STUB_EXE
TEST(FileVersion, OfTheStubIsItsBuildVersion) {
  EXPECT_EQ(FileVersionText(test::WinePath(HAVREK_STUB_EXE)), HAVREK_VERSION);
}
#endif

TEST(FileVersion, FilesWithoutAVersionBlockGiveAnEmptyText) {
  const std::string file = TempDir(true) + "havrek_no_version.txt";
  std::ofstream(file) << "plain text";
  EXPECT_EQ(FileVersionText(file), "");
  EXPECT_EQ(FileVersionText(TempDir(true) + "havrek_no_such_file.exe"), "");
  DeleteFileA(file.c_str());
}

// A hidden window that counts the WM_APP messages it is given.
class Yielding : public ::testing::Test {
 protected:
  static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
      ++served;
      return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
  }
  void SetUp() override {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HavrekYieldTest";
    RegisterClassA(&wc);
    window_ = CreateWindowExA(0, "HavrekYieldTest", "Yield test caption", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    served = 0;
  }
  void TearDown() override {
    if (IsWindow(window_)) DestroyWindow(window_);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  static inline int served = 0;
  HWND window_ = nullptr;
};

TEST_F(Yielding, PostedMessagesAreServedWhileWaiting) {
  PostMessageA(window_, WM_APP, 0, 0);
  PostMessageA(window_, WM_APP, 0, 0);
  const std::int64_t start = TickMs();
  WaitYielding(0, 120);
  EXPECT_EQ(served, 2);
  EXPECT_GE(TickMs() - start, 120);
  EXPECT_LT(TickMs() - start, 10000);
}

TEST_F(Yielding, ZeroTotalStillServesTheQueueOnce) {
  PostMessageA(window_, WM_APP, 0, 0);
  WaitYielding(0, 0);
  EXPECT_EQ(served, 1);
}

TEST_F(Yielding, QuitRequestSurvivesForTheMainLoop) {
  PostQuitMessage(7);
  PostMessageA(window_, WM_APP, 0, 0);
  YieldX(0);
  EXPECT_EQ(served, 1);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Yielding, WaitWindowGoneReturnsOnceTheWindowCloses) {
  EXPECT_FALSE(WaitWindowGone("HavrekYieldTest", "", 300));
  PostMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitWindowGone("HavrekYieldTest", "Yield test caption", 10000));
  EXPECT_FALSE(IsWindow(window_));
  EXPECT_TRUE(WaitWindowGone("HavrekYieldTest", "no such caption", 0));
}

TEST_F(Yielding, WindowTextIsTheCaption) {
  EXPECT_EQ(WindowText(window_), "Yield test caption");
  EXPECT_EQ(WindowText(nullptr), "");
}

TEST(WindowHelpers, AutoPlayMessageIsKeptUntilTurnedOff) {
  RegisterAutoPlayMessage(true);
  EXPECT_EQ(AutoPlayMessage(), RegisterWindowMessageA("QueryCancelAutoPlay"));
  RegisterAutoPlayMessage(false);
  EXPECT_EQ(AutoPlayMessage(), 0u);
}

TEST(DllLoading, OnlyFromTheSystemFolder) {
  HMODULE module = nullptr;
  EXPECT_NE(LoadDllProc("kernel32.dll", "GetTickCount", &module), nullptr);
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(LoadDllProc("kernel32.dll", "NoSuchFunctionAnywhere", &module), nullptr);
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(LoadDllProc("havrek_no_such.dll", "f", &module), nullptr);
  EXPECT_EQ(module, nullptr);
  EXPECT_EQ(LoadDllProc(SystemDir(true) + "kernel32.dll", "GetTickCount"), nullptr);
  EXPECT_EQ(LoadDllProc("..\\kernel32.dll", "GetTickCount"), nullptr);
}

TEST(DllLoading, ACopyInTheCurrentFolderIsNotLoaded) {
  const std::string folder = TempDir(true) + "havrek_plant\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string planted = folder + "havrek_planted.dll";
  ASSERT_TRUE(CopyFileA((SystemDir(true) + "version.dll").c_str(), planted.c_str(), FALSE));
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA(folder.c_str());
  {
    const Module ordinary(LoadLibraryA("havrek_planted.dll"));
    EXPECT_TRUE(ordinary) << "the ordinary search should find the planted copy";
  }
  EXPECT_EQ(LoadDllProc("havrek_planted.dll", "GetFileVersionInfoSizeA"), nullptr);
  SetCurrentDirectoryA(previous);
  DeleteFileA(planted.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST(DeveloperSwitch, OffUnlessDvxIs952) {
  char value[16] = {};
  const DWORD n = GetEnvironmentVariableA("DVX", value, sizeof value);
  EXPECT_EQ(DeveloperMode(), n == 3 && std::string(value) == "952");
}

}  // namespace
}  // namespace havrek
