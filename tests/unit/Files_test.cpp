#include "files/Files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Platform.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("havrek_files_" + std::to_string(plat::ProcessId()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

TEST_F(FilesTest, AppendTextCreatesThenAppends) {
  const std::string path = Path("log.txt");
  EXPECT_TRUE(AppendText(path, "first\r\n"));
  EXPECT_TRUE(AppendText(path, std::string("sec\0nd\r\n", 8)));
  EXPECT_EQ(Slurp(path), std::string("first\r\nsec\0nd\r\n", 15));
}

TEST_F(FilesTest, AppendTextSetsDateOnlyWhenAsked) {
  const std::string path = Path("dated.txt");
  const std::uint32_t dos = (((2001 - 1980) << 9 | 2 << 5 | 3) << 16) | (4 << 11 | 5 << 5 | 6 / 2);
  ASSERT_TRUE(AppendText(path, "x", dos));
  {
    const plat::File f(path, plat::OpenMode::Read);
    EXPECT_EQ(plat::DosDate(f.get()), dos);
  }
  ASSERT_TRUE(AppendText(path, "y"));
  const plat::File f(path, plat::OpenMode::Read);
  EXPECT_NE(plat::DosDate(f.get()), dos);
}

TEST_F(FilesTest, AppendTextFailsWhenTheFolderIsMissing) {
  EXPECT_FALSE(AppendText(Path("no/such/folder/log.txt"), "x"));
}

}  // namespace
}  // namespace havrek
