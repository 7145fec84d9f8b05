#include "files/Files.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;

// 2001-02-03 04:05:06
constexpr std::uint32_t kDos = (((2001 - 1980) << 9 | 2 << 5 | 3) << 16) | (4 << 11 | 5 << 5 | 6 / 2);

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
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::uint32_t DateOf(const std::string& path) {
    const plat::File f(path, plat::OpenMode::Read);
    return plat::DosDate(f.get());
  }
  // Every byte differs from its neighbours, so a chunk written twice or
  // skipped shows up.
  static std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
  }

  fs::path dir_;
};

TEST_F(FilesTest, AppendTextCreatesThenAppends) {
  const std::string path = Path("log.txt");
  EXPECT_TRUE(AppendText(path, "first\r\n"));
  EXPECT_TRUE(AppendText(path, std::string("sec\0nd\r\n", 8)));
  EXPECT_EQ(Slurp(path), std::string("first\r\nsec\0nd\r\n", 15));
}

// The plain agent and its copy write one log file at the same time: no
// writer may put its line over another's.
TEST_F(FilesTest, AppendTextFromTwoWritersAtOnceLosesNoLine) {
  const std::string path = Path("shared.log");
  constexpr int kLines = 3000;
  const auto writer = [&](char who) {
    for (int i = 0; i < kLines; ++i) AppendText(path, std::string(1, who) + std::to_string(i) + "\r\n");
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  std::size_t expected = 0;
  for (int i = 0; i < kLines; ++i) expected += 2 * (std::to_string(i).size() + 3);
  const std::string text = Slurp(path);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * kLines);
  EXPECT_EQ(text.size(), expected);
}

TEST_F(FilesTest, AppendTextSetsDateOnlyWhenAsked) {
  const std::string path = Path("dated.txt");
  ASSERT_TRUE(AppendText(path, "x", kDos));
  EXPECT_EQ(DateOf(path), kDos);
  ASSERT_TRUE(AppendText(path, "y"));
  EXPECT_NE(DateOf(path), kDos);
}

TEST_F(FilesTest, AppendTextFailsWhenTheFolderIsMissing) {
  EXPECT_FALSE(AppendText(Path("no/such/folder/log.txt"), "x"));
}

TEST_F(FilesTest, ReadFileTextLimitsAndFailures) {
  const std::string data = Pattern(5000);
  Put(Path("data.bin"), data);
  Put(Path("empty.bin"), "");
  fs::create_directories(dir_ / "folder");
  struct Case {
    const char* name;
    std::int64_t most;
    std::string want;
  } const cases[] = {
      {"data.bin", 0, data},
      {"data.bin", 1000, data.substr(0, 1000)},
      {"data.bin", 5000, data},
      {"data.bin", 9999, data},
      {"data.bin", -1, data},
      {"empty.bin", 0, ""},
      {"empty.bin", 1000, ""},
      {"missing.bin", 0, ""},
      {"folder", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " most " + std::to_string(c.most));
    EXPECT_EQ(ReadFileText(Path(c.name), c.most), c.want);
  }
}

TEST_F(FilesTest, WriteFileTextReplacesOrAppendsAndDates) {
  const std::string path = Path("out.txt");
  Put(path, "old content that is longer");
  ASSERT_TRUE(WriteFileText(path, "new", kDos));
  EXPECT_EQ(ReadFileText(path), "new");
  EXPECT_EQ(DateOf(path), kDos);

  ASSERT_TRUE(WriteFileText(path, "+more", 0, true));
  EXPECT_EQ(ReadFileText(path), "new+more");

  ASSERT_TRUE(WriteFileText(path, "", 0));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(FilesTest, WriteFileTextInChunksKeepsEveryByte) {
  for (const std::size_t n : {std::size_t{1048577}, std::size_t{2097152}, std::size_t{3 * 1048576 + 17}}) {
    SCOPED_TRACE(n);
    const std::string data = Pattern(n);
    const std::string path = Path("big.bin");
    ASSERT_TRUE(WriteFileText(path, data, kDos));
    EXPECT_EQ(ReadFileText(path), data);
    EXPECT_EQ(DateOf(path), kDos);
    ASSERT_TRUE(WriteFileText(path, data, 0, true));
    EXPECT_EQ(ReadFileText(path), data + data);
  }
}

TEST_F(FilesTest, WriteFileTextFailures) {
  EXPECT_FALSE(WriteFileText(Path("no/such/out.txt"), "x"));
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(WriteFileText(Path("folder"), "x", kDos, true));
  EXPECT_FALSE(WriteFileBytes(Path("neg.bin"), "x", -1));
  EXPECT_FALSE(WriteFileBytes(Path("null.bin"), nullptr, 5));
  EXPECT_TRUE(WriteFileBytes(Path("nothing.bin"), nullptr, 0));
}

TEST(WriteChunkSize, AboutATenthBetween1KAnd1M) {
  struct Case {
    std::int64_t total, chunk;
  } const cases[] = {
      {100, 100},          {5000, 1024},         {10249, 1024},    {10250, 1025},
      {1048577, 104857},   {2097152, 209715},    {10485760, 1048576}, {10485770, 1048576},
      {4294967296LL * 3, 1048576},
  };
  for (const Case& c : cases) EXPECT_EQ(WriteChunkSize(c.total), c.chunk) << c.total;
}

TEST(ClassifyTreeEntry, LinksAreUnlinkedNotEntered) {
  constexpr std::uint32_t dir = 0x10, reparse = 0x400, readOnly = 0x1, hidden = 0x2;
  struct Case {
    const char* name;
    std::uint32_t attributes;
    TreeEntry want;
  } const cases[] = {
      {".", dir, TreeEntry::Skip},
      {"..", dir, TreeEntry::Skip},
      {"file.txt", 0x20, TreeEntry::Skip},
      {"file link", reparse, TreeEntry::Skip},
      {"sub", dir, TreeEntry::Descend},
      {"...", dir | hidden | readOnly, TreeEntry::Descend},
      {"junction", dir | reparse, TreeEntry::Unlink},
      {"hidden link", dir | reparse | hidden, TreeEntry::Unlink},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyTreeEntry(c.name, c.attributes), c.want) << c.name;
}

// The tree walk over POSIX folders, where links are real: a link to a
// folder carries the folder and the link bits, like a junction on Windows.
std::uint32_t PosixAttributes(const fs::path& path) {
  std::error_code ec;
  const fs::file_status own = fs::symlink_status(path, ec);
  if (ec || !fs::exists(own)) return kNoAttributes;
  if (fs::is_symlink(own)) return fs::is_directory(fs::status(path, ec)) ? 0x10 | 0x400 : 0x400;
  return fs::is_directory(own) ? 0x10 : 0x20;
}

TreeOps PosixTreeOps() {
  TreeOps ops;
  ops.separator = '/';
  ops.attributes = [](const std::string& path) { return PosixAttributes(path); };
  ops.list = [](const std::string& folder, const std::function<void(const std::string&, std::uint32_t)>& each) {
    for (const auto& e : fs::directory_iterator(folder)) each(e.path().filename().string(), PosixAttributes(e.path()));
  };
  ops.deleteFiles = [](const std::string& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder))
      if (!(PosixAttributes(e.path()) & 0x10)) files.push_back(e.path());
    for (const fs::path& f : files) fs::remove(f);
  };
  ops.unlink = [](const std::string& link) { fs::remove(link); };
  ops.removeFolder = [](const std::string& folder) {
    std::error_code ec;
    fs::remove(folder, ec);
  };
  return ops;
}

TEST_F(FilesTest, DeleteTreeRemovesLinksWithoutFollowingThem) {
  fs::create_directories(dir_ / "outside" / "deep");
  Put(Path("outside/keep.txt"), "keep");
  Put(Path("outside/deep/keep.txt"), "keep");
  fs::create_directories(dir_ / "tree" / "sub");
  Put(Path("tree/own.txt"), "own");
  Put(Path("tree/sub/own.txt"), "own");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "tree" / "link");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "tree" / "sub" / "link");
  fs::create_symlink(dir_ / "outside" / "keep.txt", dir_ / "tree" / "file link");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "folder link");
  const TreeOps ops = PosixTreeOps();
  const auto outsideIntact = [&] {
    return Slurp(Path("outside/keep.txt")) == "keep" && Slurp(Path("outside/deep/keep.txt")) == "keep";
  };

  EXPECT_TRUE(DeleteTreeWith(Path("tree"), ops));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "tree")));
  EXPECT_TRUE(outsideIntact());

  // Handed a link itself, only the link goes.
  EXPECT_TRUE(DeleteTreeWith(Path("folder link"), ops));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "folder link")));
  EXPECT_TRUE(outsideIntact());

  EXPECT_FALSE(DeleteTreeWith(Path("never made"), ops));
  EXPECT_FALSE(DeleteTreeWith(Path("outside/keep.txt"), ops));
  EXPECT_TRUE(outsideIntact());
}

// The loop of the batch around one executable path, as written (the "%" of
// its counter is the batch's own, never doubled).
std::string DeleteLoop(const std::string& exe, const std::string& sys, const std::string& tries) {
  return "SET /A DELME_TRIES=0\r\n"
         ":START\r\n"
         "\"" + sys + "\\attrib.exe\" -R \"" + exe + "\"\r\n"
         "DEL \"" + exe + "\"\r\n"
         "IF not exist \"" + exe + "\" GOTO DONE\r\n"
         "SET /A DELME_TRIES+=1\r\n"
         "IF %DELME_TRIES% GEQ " + tries + " GOTO DONE\r\n"
         "\"" + sys + "\\ping.exe\" -n 2 127.0.0.1 >NUL\r\n"
         "GOTO START\r\n"
         ":DONE\r\n";
}

TEST(SelfDeleteBatch, QuotesEveryPathAndEndsLinesWithCrLf) {
  const std::string exe = "C:\\Program Files\\My App\\X_agent.exe";
  const std::string dir = "C:\\Program Files\\My App";
  const std::string bat = "C:\\Users\\A B\\Temp\\_DEL_ME_.BAT";
  const std::string sys = "C:\\windows\\system32";
  EXPECT_EQ(SelfDeleteBatchText(exe, dir, bat, false, sys),
            DeleteLoop(exe, sys, "60") + "DEL \"C:\\Users\\A B\\Temp\\_DEL_ME_.BAT\"\r\n");
  EXPECT_EQ(SelfDeleteBatchText(exe, dir, bat, true, sys + "\\"),
            DeleteLoop(exe, sys, "60") +
                "RD \"C:\\Program Files\\My App\"\r\n"
                "DEL \"C:\\Users\\A B\\Temp\\_DEL_ME_.BAT\"\r\n");
}

TEST(SelfDeleteBatch, GivesUpAfterTheBoundOfTries) {
  const std::string exe = "C:\\T\\SETUP_1\\Y_setup.exe";
  const std::string sys = "C:\\windows\\system32";
  struct Case {
    int tries;
    const char* bound;
  } cases[] = {{kSelfDeleteTries, "60"}, {2, "2"}, {1, "1"}, {0, "1"}, {-5, "1"}};
  for (const Case& c : cases)
    EXPECT_EQ(SelfDeleteBatchText(exe, "C:\\T\\SETUP_1", "C:\\T\\_DEL_ME_.BAT", false, sys, c.tries),
              DeleteLoop(exe, sys, c.bound) + "DEL \"C:\\T\\_DEL_ME_.BAT\"\r\n")
        << c.tries;
}

TEST(SelfDeleteBatch, PercentSignsInPathsStayLiteral) {
  EXPECT_EQ(SelfDeleteBatchText("C:\\100%\\%TEMP%\\a.exe", "C:\\100%\\%TEMP%", "C:\\T%\\_DEL_ME_.BAT", true,
                                "C:\\w%in\\system32"),
            DeleteLoop("C:\\100%%\\%%TEMP%%\\a.exe", "C:\\w%%in\\system32", "60") +
                "RD \"C:\\100%%\\%%TEMP%%\"\r\n"
                "DEL \"C:\\T%%\\_DEL_ME_.BAT\"\r\n");
}

TEST(SelfDeleteBatch, EveryProcessHasABatchOfItsOwn) {
  EXPECT_EQ(SelfDeleteBatchName(4242), "_DEL_ME_4242.BAT");
  EXPECT_NE(SelfDeleteBatchName(1), SelfDeleteBatchName(2));
}

TEST(SelfDeleteBatch, CommandLineQuotesTheInterpreterAndTheBatch) {
  EXPECT_EQ(SelfDeleteCommandLine("C:\\windows\\system32\\cmd.exe", "C:\\Users\\A B\\Temp\\_DEL_ME_.BAT"),
            "\"C:\\windows\\system32\\cmd.exe\" /c \"\"C:\\Users\\A B\\Temp\\_DEL_ME_.BAT\"\"");
}

TEST(FreeSpace, FreeSpaceIsAskedAtTheFirstLevel) {
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

}  // namespace
}  // namespace havrek
