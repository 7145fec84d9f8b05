// The side file between a download and its target, without a server: the
// bytes of each round are handed in as the transfer would.
#include "net/DownloadSink.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/Files.h"
#include "BuildTree.h"

namespace havrek {
namespace {

class SideFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    dir_ = std::string(temp) + "havrek_sink_" + std::to_string(::GetCurrentProcessId()) + "\\";
    ::CreateDirectoryA(dir_.c_str(), nullptr);
    target_ = dir_ + "setup.exe";
    ASSERT_TRUE(WriteFileText(target_, "old target"));
  }
  void TearDown() override { DeleteTree(dir_, true); }

  // Files (not folders) in the folder, sorted.
  std::vector<std::string> FilesHere() const {
    return test::FileNamesIn(dir_);
  }

  std::string dir_, target_;
};

TEST_F(SideFile, TheTargetTakesItsBytesOnlyOnceTheyAreKept) {
  // A left-over of an earlier attempt goes as the download starts.
  ASSERT_TRUE(WriteFileText(target_ + ".99", "left over"));
  const DownloadSink sink = SideFileSink(target_, 6, 0);
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
  EXPECT_EQ(sink.write("abc", 3, 3), "");
  EXPECT_EQ(sink.write("d\0f", 3, 6), "");
  sink.close();
  EXPECT_EQ(ReadFileText(target_), "old target");
  EXPECT_EQ(ReadFileText(target_ + ".6"), std::string("abcd\0f", 6));
  EXPECT_EQ(sink.keep(6), "");
  EXPECT_EQ(ReadFileText(target_), std::string("abcd\0f", 6));
  EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
}

TEST_F(SideFile, FailuresAreToldAndLeaveTheOldTargetAlone) {
  const std::string side = target_ + ".6";
  struct Case {
    std::string what;
    bool folderInTheWay;      // a folder holds the side file's name
    std::int64_t arrived;     // what the transfer says came in
    std::string writeError;   // the start of write's answer
    std::string keepError;    // keep's answer, when the writes went through
  } cases[] = {
      {"the side file cannot be made", true, 6, "writing " + side + ": ", ""},
      {"the side file holds less than arrived", false, 7, "", side + " holds 6 of 7 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.folderInTheWay) ASSERT_TRUE(::CreateDirectoryA(side.c_str(), nullptr));
    const DownloadSink sink = SideFileSink(target_, 6, 0);
    const std::string written = sink.write("abcdef", 6, c.arrived);
    EXPECT_EQ(written.rfind(c.writeError, 0), 0u) << written;
    if (written.empty()) {
      sink.close();
      EXPECT_EQ(sink.keep(c.arrived), c.keepError);
    } else {
      // The system's reason follows.
      EXPECT_GT(written.size(), c.writeError.size()) << written;
    }
    sink.discard();
    EXPECT_EQ(ReadFileText(target_), "old target");
    EXPECT_EQ(FilesHere(), std::vector<std::string>{"setup.exe"});
    ::RemoveDirectoryA(side.c_str());
  }
}

}  // namespace
}  // namespace havrek
