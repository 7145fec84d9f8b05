#include "diag/HDebug.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "diag/HDebugWin.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "BuildTree.h"

namespace havrek {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

bool WaitForFile(const std::string& path, DWORD ms) {
  for (DWORD waited = 0; waited < ms; waited += 50) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(50);
  }
  return false;
}

using test::FixturePath;

// Runs the viewer fixture for one test and stops it afterwards.
class Viewer {
 public:
  explicit Viewer(const std::string& file) : file_(file) {
    for (const char* suffix : {"", ".pieces", ".ready", ".stop"}) DeleteFileA((file_ + suffix).c_str());
    process_ = test::StartFixture("debug_viewer.exe", "\"" + file_ + "\" 60");
  }
  ~Viewer() {
    if (process_) {
      std::ofstream(file_ + ".stop") << "stop";
      if (WaitForSingleObject(process_.get(), 10000) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 1);
    }
    for (const char* suffix : {"", ".pieces", ".ready", ".stop"}) DeleteFileA((file_ + suffix).c_str());
  }
  bool ready() const { return process_ && WaitForFile(file_ + ".ready", 20000); }

 private:
  std::string file_;
  KernelHandle process_;
};

TEST(DebugViewer, LongLineArrivesInPiecesWithTheLineEndInTheLast) {
  StartDebugChannel();
  DebugOut().flush();
  const std::string file = TempDir(true) + "havrek_viewer_test.txt";
  Viewer viewer(file);
  ASSERT_TRUE(viewer.ready());
  ASSERT_NE(FindWindowA(kDebugViewerClass, nullptr), nullptr);

  const std::string longLine = "1234 ==== " + std::string(140, 'L') + " ====";
  DebugLine(longLine);
  DebugLine("short");

  // Each piece is a synchronous send: it is stored once DebugLine returns.
  EXPECT_EQ(ReadAll(file), longLine + "\r\nshort\r\n");
  EXPECT_EQ(ReadAll(file + ".pieces"), "1 128\n1 " + std::to_string(longLine.size() + 2 - 128) + "\n1 7\n");
}

TEST(DebugViewer, WithoutAViewerNothingFails) {
  StartDebugChannel();
  ASSERT_EQ(FindWindowA(kDebugViewerClass, nullptr), nullptr);
  EXPECT_FALSE(SendToDebugViewer("nobody listens\r\n"));
  DebugLine("nobody listens");
  (DebugOut() << std::string(1000, 'q')).flush();
}

TEST(DebugFileTarget, AppendsWithCrLfLineEnds) {
  const std::string file = TempDir(true) + "havrek_hdebug_test.txt";
  DeleteFileA(file.c_str());
  EXPECT_TRUE(AppendDebugFile(file, std::string(127, 'x') + "\r"));
  EXPECT_TRUE(AppendDebugFile(file, "\nnext\n"));
  EXPECT_EQ(ReadAll(file), std::string(127, 'x') + "\r\n\r\nnext\r\n");
  DeleteFileA(file.c_str());
}

class LogFileWin : public ::testing::Test {
 protected:
  void SetUp() override {
    InitProcessCommandLine();
    path_ = LogFilePath();
    DeleteFileA(path_.c_str());
  }
  void TearDown() override {
    SetLogEnabled(false);
    SetLogPrefix("   ");
    DeleteFileA(path_.c_str());
  }
  std::string path_;
};

TEST_F(LogFileWin, PathIsBesideTheExecutable) {
  EXPECT_EQ(path_, ExeDir(true) + "X_" + ExePath(true) + ".log");
}

TEST_F(LogFileWin, DisabledWritesNothing) {
  SetLogEnabled(false);
  LogLine("not written");
  EXPECT_EQ(GetFileAttributesA(path_.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogFileWin, LinesCarryStampThreadIdAndPrefix) {
  SetLogEnabled(true);
  LogLine();
  SetLogPrefix(" X ");
  LogLine("DoRunStubWin() --- Start");

  const std::string thread = PadLeft(std::to_string(GetCurrentThreadId()), 5);
  const std::string sep = "[^0-9 ]";
  const std::string stamp = "\\d\\d" + sep + "\\d\\d" + sep + "\\d\\d \\d\\d" + sep + "\\d\\d" + sep + "\\d\\d ";
  const std::regex layout(stamp + thread + "   \r\n" + stamp + thread + " X DoRunStubWin\\(\\) --- Start\r\n");
  const std::string text = ReadAll(path_);
  EXPECT_TRUE(std::regex_match(text, layout)) << text;
}

// The plain agent and its copy write one log at once; under Wine, whose
// appends are not atomic between writers, lines went missing without the
// lock around each line.
TEST_F(LogFileWin, TwoWritersAtOnceLoseNoLine) {
  SetLogEnabled(true);
  constexpr int kLines = 8000;
  const auto writer = [] {
    for (int i = 0; i < kLines; ++i) LogLine("line " + std::to_string(i));
  };
  std::thread a(writer), b(writer);
  a.join();
  b.join();
  const std::string text = ReadAll(path_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * kLines);
}

}  // namespace
}  // namespace havrek
