// havrek-pack's folder builds, argument files, list, test and extract,
// through the real binary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "PackCli.h"
#include "SealedPackage.h"
#include "package/UnPack.h"

#if defined(HAVREK_PACK_EXE) && defined(HAVREK_EXAMPLES_DIR)

namespace havrek {
namespace {

namespace fs = std::filesystem;
using test::Slurp;
using test::StubImage;
using test::Word;

// Every regular file below folder ("/" separated) with its bytes; folders
// and anything else marked by their kind.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string rel = fs::relative(e.path(), folder).generic_string();
    const auto type = e.symlink_status().type();
    if (type == fs::file_type::regular) tree[rel] = Slurp(e.path());
    else if (type != fs::file_type::directory) tree[rel] = "<not a file>";
  }
  return tree;
}

// A DOS date-time, as the stub keeps it, of a file's last write.
std::string DosDateText(const fs::path& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  struct tm t {};
  localtime_r(&st.st_mtime, &t);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec / 2 * 2);
  return text;
}

std::string JsonName(const std::string& rel) {
  std::string out;
  for (char c : rel) out += c == '/' ? std::string("\\\\") : std::string(1, c);
  return out;
}

class PackToolFiles : public test::PackCli {
 protected:
  PackToolFiles() : PackCli("packtool") {}
  void SetUp() override {
    PackCli::SetUp();
    stub_ = Put("stub.exe", StubImage());
  }

  std::string Build(const std::string& rest) const { return "build --stub '" + stub_ + "' " + rest; }

  // 500 files in nested folders, of sizes from 0 to about 40 KB, text-like
  // and random, with the byte order of names mattering ("a-b" before "a/b").
  void MakeTree(const fs::path& root) const {
    std::uint32_t x = 7;
    for (int i = 0; i < 500; ++i) {
      const fs::path folder = root / ("d" + std::to_string(i % 7)) / ("s" + std::to_string(i % 13)) /
                              (i % 3 ? "deep" : "");
      fs::create_directories(folder);
      std::string bytes;
      const std::size_t size = i % 50 == 0 ? 0 : (x = x * 1103515245 + 12345) % 40000;
      for (std::size_t k = 0; k < size; ++k)
        bytes += i % 2 ? static_cast<char>((x = x * 1103515245 + 12345) >> 24) : "setup file "[k % 11];
      std::ofstream(folder / ("f" + std::to_string(i) + (i % 5 ? ".txt" : ".bin")), std::ios::binary) << bytes;
    }
  }

  std::string stub_;
};

TEST_F(PackToolFiles, AFolderBuildListsTestsAndExtractsToTheSameTree) {
  MakeTree(dir_ / "tree");
  const std::vector<std::pair<std::string, fs::path>> sources = {{"examples", HAVREK_EXAMPLES_DIR},
                                                                 {"generated", dir_ / "tree"}};
  for (const auto& [what, source] : sources) {
    SCOPED_TRACE(what);
    const auto want = Tree(source);
    ASSERT_FALSE(want.empty());
    std::string out;
    ASSERT_EQ(Tool(Build("--out " + Q("setup.exe") + " --level 6 --dir '" + source.string() + "'"), &out), 0)
        << out;

    ASSERT_EQ(Tool("list " + Q("setup.exe") + " --json", &out), 0) << out;
    for (const auto& [rel, bytes] : want) {
      SCOPED_TRACE(rel);
      EXPECT_NE(out.find("{\"name\":\"" + JsonName(rel) + "\",\"size\":" + std::to_string(bytes.size()) +
                         ",\"compressed\":"),
                std::string::npos);
      EXPECT_NE(out.find("\"date\":\"" + DosDateText(source / rel) + "\""), std::string::npos);
    }
    EXPECT_NE(out.find("\"totals\":{\"files\":" + std::to_string(want.size()) + ","), std::string::npos);
    ASSERT_EQ(Tool("list " + Q("setup.exe"), &out), 0) << out;
    EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')), want.size() + 2) << out;

    // A package of files only: test wants a program to run.
    EXPECT_EQ(Tool("test " + Q("setup.exe"), &out), 1) << out;
    EXPECT_NE(out.find("no entry is marked to run"), std::string::npos) << out;

    const std::string first = want.begin()->first;
    ASSERT_EQ(Tool(Build("--out " + Q("setup.exe") + " --level 6 --dir '" + source.string() + "=app/" +
                         "' --run '" + (source / first).string() + "=app/" + first + "' --run-args '/x y'"),
                   &out),
              0)
        << out;
    ASSERT_EQ(Tool("test " + Q("setup.exe"), &out), 0) << out;
    EXPECT_NE(out.find("OK"), std::string::npos) << out;
    std::string runName = "app/" + first;
    std::replace(runName.begin(), runName.end(), '/', '\\');
    EXPECT_NE(out.find("runs \"" + runName + "*/x y\""), std::string::npos) << out;

    fs::remove_all(dir_ / "x");
    ASSERT_EQ(Tool("extract " + Q("setup.exe") + " " + Q("x"), &out), 0) << out;
    EXPECT_EQ(Tree(dir_ / "x" / "app"), want);
    EXPECT_EQ(Tree(dir_ / "x").size(), want.size());
    for (const auto& [rel, bytes] : want) EXPECT_EQ(DosDateText(dir_ / "x" / "app" / rel), DosDateText(source / rel)) << rel;

    // One byte of the payload changed: the checksum catches it.
    std::string setup = Slurp(Path("setup.exe"));
    setup[setup.size() - 200] ^= 0x20;
    Put("setup.exe", setup);
    EXPECT_EQ(Tool("test " + Q("setup.exe"), &out), 1) << out;
    EXPECT_NE(out.find("setup.exe: checksum failed"), std::string::npos) << out;
  }
}

TEST_F(PackToolFiles, DiskSetsAreReadThroughTheirDiskFiles) {
  MakeTree(dir_ / "tree");
  std::string out;
  ASSERT_EQ(Tool(Build("--out " + Q("set.exe") + " --level 0 --disk-size 3M --dir " + Q("tree") + " --run " +
                       Q("tree/d0/s0/f0.bin") + "=d0/s0/f0.bin"),
                 &out),
            0)
      << out;
  ASSERT_TRUE(fs::exists(dir_ / "set.exe.002"));
  for (const std::string setup : {"set.exe", "set.exe.001"}) {
    SCOPED_TRACE(setup);
    ASSERT_EQ(Tool("list " + Q(setup) + " --json", &out), 0) << out;
    EXPECT_NE(out.find("\"disks\":[1]"), std::string::npos);
    EXPECT_NE(out.find("\"disks\":[2]"), std::string::npos);
    EXPECT_NE(out.find("\"disks\":[1,2]"), std::string::npos) << "no file split over two disks";
    EXPECT_NE(out.find("\"totals\":{\"files\":500,"), std::string::npos);
    EXPECT_EQ(Tool("test " + Q(setup), &out), 0) << out;
  }
  ASSERT_EQ(Tool("extract " + Q("set.exe") + " " + Q("x"), &out), 0) << out;
  EXPECT_EQ(Tree(dir_ / "x"), Tree(dir_ / "tree"));

  fs::remove(dir_ / "set.exe.002");
  EXPECT_EQ(Tool("test " + Q("set.exe"), &out), 1) << out;
  EXPECT_NE(out.find("set.exe.002: disk file missing"), std::string::npos) << out;
}

TEST_F(PackToolFiles, FolderContentsAreChosenAndRefusedByTheRules) {
  const std::vector<std::string> files = {"a.txt", "a-b.txt", "a/b.txt", "a/c.log", "a/old/x.txt", "b/.git/config",
                                          "b/keep.dat", "c/d/e.tmp"};
  for (const std::string& f : files) Put("src/" + f, f);
  fs::create_directories(dir_ / "src" / "empty" / "inner");
  struct Row {
    std::string options;
    std::vector<std::string> packed;  // targets, in the order stored
    std::string warning;
  };
  const std::vector<Row> rows = {
      {"", {"a-b.txt", "a.txt", "a\\b.txt", "a\\c.log", "a\\old\\x.txt", "b\\.git\\config", "b\\keep.dat",
            "c\\d\\e.tmp"}, "empty holds no file"},
      {"--exclude '*.log' --exclude .git --exclude 'a/old'",
       {"a-b.txt", "a.txt", "a\\b.txt", "b\\keep.dat", "c\\d\\e.tmp"}, "empty holds no file"},
      {"--exclude 'a*' --exclude '?/?/*.tmp'", {"b\\.git\\config", "b\\keep.dat"}, "/c holds no file"},
      {"--exclude '[ab]' --exclude '*[!p]'", {}, "src holds no file"},
      {"--exclude 'a/*.txt' --exclude 'em*'", {"a-b.txt", "a.txt", "a\\c.log", "a\\old\\x.txt", "b\\.git\\config",
                                              "b\\keep.dat", "c\\d\\e.tmp"}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options);
    std::string out;
    ASSERT_EQ(Tool(Build("--out " + Q("s.exe") + " --level 0 --dir " + Q("src") + "=/ " + row.options), &out), 0)
        << out;
    if (!row.warning.empty()) {
      EXPECT_NE(out.find(row.warning), std::string::npos) << out;
    }
    ASSERT_EQ(Tool("list " + Q("s.exe"), &out), 0) << out;
    std::size_t at = 0;
    for (const std::string& name : row.packed) {
      at = out.find("\"" + name + "\"", at);
      EXPECT_NE(at, std::string::npos) << name << " missing or out of order\n" << out;
    }
    EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')), row.packed.size() + 2) << out;
  }

  struct Refusal {
    std::string name;
    std::function<bool()> arrange;
    std::string args, message;
  };
  const std::vector<Refusal> refusals = {
      {"a link to a file", [&] { return ::symlink("a.txt", Path("src/link.txt").c_str()) == 0; }, "--dir " + Q("src"),
       "src/link.txt: a symbolic link"},
      {"a link to a folder", [&] { return ::symlink("a", Path("src/c/alias").c_str()) == 0; }, "--dir " + Q("src"),
       "src/c/alias: a symbolic link"},
      {"a FIFO", [&] { return ::mkfifo(Path("src/a/pipe").c_str(), 0600) == 0; }, "--dir " + Q("src"),
       "src/a/pipe: a FIFO"},
      {"a name the stub refuses", [&] { return !!std::ofstream(Path("src/b/con.txt")); }, "--dir " + Q("src"),
       "device name"},
      {"a file given twice", [] { return true; }, "--dir " + Q("src") + " --file " + Q("src/a.txt"),
       "given twice: a.txt"},
      {"no folder", [] { return true; }, "--dir " + Q("none"), "none: no such folder"},
  };
  fs::remove(dir_ / "s.exe");
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    fs::remove_all(dir_ / "src");
    for (const std::string& f : files) Put("src/" + f, f);
    ASSERT_TRUE(r.arrange());
    std::string out;
    EXPECT_EQ(Tool(Build("--out " + Q("s.exe") + " " + r.args), &out), 1) << out;
    EXPECT_NE(out.find(r.message), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ / "s.exe"));
  }
}

TEST_F(PackToolFiles, ArgumentFilesReadPathsFromTheirOwnFolder) {
  Put("proj/app/readme.txt", "read me");
  Put("proj/app/bin/tool.exe", "tool");
  Put("proj/engine.exe", "engine");
  Put("proj/build/args.txt",
      "# the build of the project\r\n"
      "build\r\n"
      "\r\n"
      "--stub\r\n../../stub.exe\r\n"
      "--out=../out/setup.exe\r\n"
      "  --dir  \r\n../app=Program\r\n"
      "@more/args.txt\r\n");
  Put("proj/build/more/args.txt", "--run\n../../engine.exe\n--run-args\n/mode two words\n");
  fs::create_directories(dir_ / "proj" / "out");
  std::string out;
  ASSERT_EQ(Tool("@proj/build/args.txt", &out), 0) << out;
  ASSERT_EQ(Tool("list " + Q("proj/out/setup.exe"), &out), 0) << out;
  for (const char* name : {"\"Program\\readme.txt\"", "\"Program\\bin\\tool.exe\"", "\"engine.exe\"  [run: \"/mode two words\"]"})
    EXPECT_NE(out.find(name), std::string::npos) << name << "\n" << out;

  // The command's own arguments from a file, relative to it.
  Put("proj/listing.txt", "list\nout/setup.exe\n--json\n");
  ASSERT_EQ(Tool("@" + Q("proj/listing.txt"), &out), 0) << out;
  EXPECT_NE(out.find("\"name\":\"engine.exe\""), std::string::npos) << out;

  struct Row {
    std::string file, content, message;
    int rc;
  };
  const std::vector<Row> rows = {
      {"loop.txt", "list\n@loop2.txt\n", "loop.txt (" + Path("loop2.txt") + " line 1) reads itself again", 1},
      {"missing.txt", "", "cannot read argument file " + Path("missing.txt") + ": no such file", 1},
      {"bad.txt", "build\n--stub\nx\n--frob\n", "unknown build option \"--frob\" (" + Path("bad.txt") + " line 4)",
       2},
  };
  Put("loop2.txt", "@loop.txt\n");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.file);
    if (!row.content.empty()) Put(row.file, row.content);
    EXPECT_EQ(Tool("@" + Q(row.file), &out), row.rc) << out;
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
  }
}

// ---- Packages the writer never makes ----

std::string Raw(const std::string& header, const std::string& data) {
  const std::string content = header + '\0' + data;
  return Word(static_cast<std::uint32_t>(-static_cast<std::int32_t>(content.size()))) + content;
}

std::string Zipped(const std::string& header, const std::string& data) {
  const std::string content = header + '\0' + data;
  uLongf n = compressBound(static_cast<uLong>(content.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  z.resize(n);
  return Word(static_cast<std::uint32_t>(z.size())) + z;
}

std::string Laid(const std::vector<std::string>& entries) {
  std::string p = StubImage() + Word(0) + Word(24) + "|http://|.info|.exe|0|0|";
  for (const std::string& e : entries) p += e;
  return test::SealPackage(p, 4096, static_cast<std::uint32_t>(entries.size()));
}

TEST_F(PackToolFiles, HostileEntriesAreRefusedByTestAndExtractWithTheirNames) {
  const std::string good = Raw("|good.txt*/s|1|", "fine");
  struct Row {
    std::string entry;
    std::string message;  // in both outputs
    std::string left;     // a file extract must not leave, relative to dir_
  };
  // Its check value at the end is wrong: the stream fails only after pieces
  // of it have been written.
  std::string broken = Zipped("|broken.bin|1|", std::string(600000, 'z') + "tail");
  broken.back() ^= 1;
  const std::vector<Row> rows = {
      {Raw("|..\\evil.txt|1|", "x"), "\"..\\evil.txt\": name refused (\"..\" part)", "evil.txt"},
      {Raw("|C:\\evil.txt|1|", "x"), "\"C:\\evil.txt\": name refused (drive letter", "x/C:"},
      {Raw("|sub/../../evil.txt|1|", "x"), "name refused (\"..\" part)", "evil.txt"},
      {Raw("|\\evil.txt|1|", "x"), "name refused (absolute", "evil.txt"},
      {Raw("|a\x01" "b.txt|1|", "x"), "\"a\\x01b.txt\": name refused (character", "x/a\x01" "b.txt"},
      {Raw("|nul.txt|1|", "x"), "\"nul.txt\": name refused (device name", "x/nul.txt"},
      {broken, "entry 2 at offset", "x/broken.bin"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message);
    Put("bad.exe", Laid({good, row.entry}));
    std::string out;
    EXPECT_EQ(Tool("test " + Q("bad.exe"), &out), 1) << out;
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
    fs::remove_all(dir_ / "x");
    EXPECT_EQ(Tool("extract " + Q("bad.exe") + " " + Q("x"), &out), 1) << out;
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(dir_ / row.left)) << row.left;
    EXPECT_EQ(Slurp(dir_ / "x" / "good.txt"), "fine");
  }
}

TEST_F(PackToolFiles, ExtractNeverWritesThroughALink) {
  Put("outside/secret.txt", "keep");
  Put("outside/linked.txt", "keep too");
  Put("ok.exe", Laid({Raw("|run.exe*|1|", "r"), Raw("|sub\\new.txt|1|", "new"), Raw("|file.txt|1|", "new"),
                      Raw("|hard.txt|1|", "new")}));
  struct Row {
    std::string name;
    std::function<void()> arrange;
    int rc;
    std::string message;
  };
  const fs::path x = dir_ / "x";
  const std::vector<Row> rows = {
      {"a folder link", [&] { fs::create_directory_symlink(dir_ / "outside", x / "sub"); }, 1,
       "sub is a symbolic link"},
      {"a file link", [&] { fs::create_symlink(dir_ / "outside" / "secret.txt", x / "file.txt"); }, 1,
       "file.txt is a symbolic link"},
      {"a hard link and an old file",
       [&] {
         fs::create_hard_link(dir_ / "outside" / "linked.txt", x / "hard.txt");
         std::ofstream(x / "run.exe") << "an older and longer file";
       },
       0, "extracted 4 files"},
      {"a file where a folder goes", [&] { std::ofstream(x / "sub") << "file"; }, 1, "sub is in the way"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(x);
    fs::create_directories(x);
    row.arrange();
    std::string out;
    EXPECT_EQ(Tool("extract " + Q("ok.exe") + " " + Q("x"), &out), row.rc) << out;
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
    EXPECT_EQ(Tree(dir_ / "outside"), (std::map<std::string, std::string>{{"secret.txt", "keep"},
                                                                          {"linked.txt", "keep too"}}));
    EXPECT_EQ(Slurp(x / "run.exe"), "r");
  }
  EXPECT_EQ(Slurp(x / "hard.txt"), "new");
}

TEST_F(PackToolFiles, LaterPiecesGoOnlyToTheFileTheirFirstPieceMade) {
  std::string big;
  for (int i = 0; big.size() < 20000; ++i) big += std::to_string(i) + ",";
  Put("big.bin", big);
  std::string out;
  ASSERT_EQ(Tool(Build("--out " + Q("split.exe") + " --level 0 --split-size 4K --file " + Q("big.bin")), &out), 0)
      << out;
  Put("case.exe", Laid({Raw("|A.txt|1|", "one"), Raw("|a.txt|1|", "two")}));
  Put("twice.exe", Laid({Raw("|b.txt|1|", "first"), Raw("|b.txt|1|", "second")}));
  struct Package {
    std::string setup;
    std::string later;   // the name its later piece gives
    std::string file;    // the one file extract makes of the pieces
    std::string bytes;
  };
  const std::vector<Package> packages = {{"case.exe", "a.txt", "A.txt", "onetwo"},
                                         {"twice.exe", "b.txt", "b.txt", "firstsecond"},
                                         {"split.exe", "big.bin", "big.bin", big}};
  const fs::path x = dir_ / "x", outside = dir_ / "outside" / "keep.txt";
  struct Arrangement {
    std::string name;
    std::function<void(const fs::path&)> arrange;  // at the later piece's name
  };
  const std::vector<Arrangement> arrangements = {
      {"absent", [](const fs::path&) {}},
      {"a regular file", [](const fs::path& at) { std::ofstream(at) << "an older and longer file"; }},
      {"a hard link outside", [&](const fs::path& at) { fs::create_hard_link(outside, at); }},
      {"a symbolic link", [&](const fs::path& at) { fs::create_symlink(outside, at); }},
  };
  for (const Package& p : packages) {
    for (const Arrangement& a : arrangements) {
      SCOPED_TRACE(p.setup + " over " + a.name);
      fs::remove_all(dir_ / "outside");
      Put("outside/keep.txt", "keep");
      fs::remove_all(x);
      fs::create_directories(x);
      a.arrange(x / p.later);
      // Written through the link only when the later piece's name is the file's own.
      const bool refused = a.name == "a symbolic link" && p.later == p.file;
      EXPECT_EQ(Tool("extract " + Q(p.setup) + " " + Q("x"), &out), refused ? 1 : 0) << out;
      EXPECT_EQ(Tree(dir_ / "outside"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
      if (refused) {
        EXPECT_NE(out.find(p.later + " is a symbolic link: not written through"), std::string::npos) << out;
        continue;
      }
      EXPECT_NE(out.find("extracted 1 files"), std::string::npos) << out;
      EXPECT_EQ(Slurp(x / p.file), p.bytes);
      if (p.later != p.file) {
        EXPECT_NE(out.find("a.txt joined to " + (x / "A.txt").string()), std::string::npos) << out;
        // Not a file of the setup to Windows: left as it was.
        EXPECT_EQ(fs::exists(fs::symlink_status(x / p.later)), a.name != "absent");
      }
    }
  }
  // list counts what extract makes: one file of both pieces.
  ASSERT_EQ(Tool("list " + Q("case.exe") + " --json", &out), 0) << out;
  EXPECT_NE(out.find("\"name\":\"A.txt\",\"size\":6,"), std::string::npos) << out;
  EXPECT_NE(out.find("\"totals\":{\"files\":1,"), std::string::npos) << out;
}

TEST_F(PackToolFiles, PublisherMistakesGetAClearAnswer) {
  Put("app/Engine.exe", "engine");
  Put("app/data.txt", "data");
  // Each names the next ten times: ten million arguments at the end.
  for (int i = 0; i < 7; ++i) {
    std::string text;
    for (int k = 0; k < 10; ++k) text += i < 6 ? "@f" + std::to_string(i + 1) + "\n" : "x\n";
    Put("fan/f" + std::to_string(i), text);
  }
  Put("huge.args", "");
  fs::resize_file(dir_ / "huge.args", (std::uintmax_t{64} << 20) + 1);
  const std::string dir = " --dir " + Q("app") + "=app";
  struct Row {
    std::string what;
    std::string args;
    int rc;
    std::string message;  // in the output
    std::string env = {};  // SOURCE_DATE_EPOCH when not empty; "-" for set but empty
  };
  const std::vector<Row> rows = {
      {"--run of a file a --dir adds, without TARGET", Build("--out " + Q("s.exe") + dir + " --run " + Q("app/Engine.exe")),
       0, "wrote"},
      {"--run of a file a --dir adds, under another TARGET",
       Build("--out " + Q("s.exe") + dir + " --run " + Q("app/Engine.exe") + "=Engine.exe"), 1,
       "a --dir adds that file as app\\Engine.exe already"},
      {"--run misspelt in letter case", Build("--out " + Q("s.exe") + " --dir " + Q("app") + " --run " + Q("app/engine.exe")),
       1, "app/engine.exe: no such file"},
      {"no --run", Build("--out " + Q("s.exe") + dir), 0, "warning: no --run"},
      {"--out into a missing folder", Build("--out " + Q("none/s.exe") + dir), 1, "no such folder: " + Path("none")},
      {"info-page --out into a missing folder", "info-page --out " + Q("none/p.inf") + " --token t --text x", 1,
       "no such folder: " + Path("none")},
      {"a file that reads past its size", Build("--out " + Q("s.exe") + " --file /proc/self/status"), 1,
       "/proc/self/status changed while it was read, or holds more bytes than its size"},
      {"--extra-space past the field", Build("--out " + Q("s.exe") + dir + " --extra-space 99999999G"), 2,
       "at most 4294967295 bytes"},
      {"--extra-space at the field's limit", Build("--out " + Q("s.exe") + dir + " --extra-space 4294967295"), 0,
       "wrote"},
      {"SOURCE_DATE_EPOCH set but empty", Build("--out " + Q("s.exe") + dir), 0, "wrote", "-"},
      {"SOURCE_DATE_EPOCH not a number", Build("--out " + Q("s.exe") + dir), 2, "SOURCE_DATE_EPOCH", "x"},
      {"argument files that fan out", "@" + Q("fan/f0"), 1, "argument files give more than 1000000 arguments"},
      {"an argument file past 64 MB", "@" + Q("huge.args"), 1, "argument files read more than 64 MB"},
      {"--version", "--version", 0, std::string("havrek-pack ") + HAVREK_VERSION + "\n"},
      {"encode-token --help", "encode-token --help", 0, "Usage:\n  havrek-pack encode-token TOKEN\n"},
      {"decode-token --help", "decode-token --help", 0, "Usage:\n  havrek-pack decode-token ENCODED\n"},
      {"build --help", "build --stub x --help", 0, "Usage:\n  havrek-pack build --stub"},
      {"list --help", "list --help", 0, "Usage:\n  havrek-pack list SETUP"},
      {"test --help", "test -h", 0, "Usage:\n  havrek-pack test SETUP\n"},
      {"extract --help", "extract --help", 0, "Usage:\n  havrek-pack extract SETUP DIR\n"},
      {"show --help", "show --help", 0, "Usage:\n  havrek-pack show SETUP\n"},
      {"info-page --help", "info-page --help", 0, "--token-raw TEXT"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (!row.env.empty()) setenv("SOURCE_DATE_EPOCH", row.env == "-" ? "" : row.env.c_str(), 1);
    std::string out;
    EXPECT_EQ(Tool(row.args, &out), row.rc) << out;
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
    if (row.rc != 0) {
      EXPECT_FALSE(fs::exists(dir_ / "s.exe"));
    }
    if (row.what.find("TARGET") != std::string::npos && row.rc == 0) {
      // Marked where the folder puts it, and packed once.
      ASSERT_EQ(Tool("list " + Q("s.exe") + " --json", &out), 0) << out;
      EXPECT_NE(out.find("{\"name\":\"app\\\\Engine.exe\",\"size\":6,"), std::string::npos) << out;
      EXPECT_NE(out.find("\"run\":true"), std::string::npos) << out;
      EXPECT_NE(out.find("\"totals\":{\"files\":2,"), std::string::npos) << out;
    }
    fs::remove(dir_ / "s.exe");
  }
}

TEST_F(PackToolFiles, AgentsAndBrokenDiskSetsAreNamedForWhatTheyAre) {
  Put("app/Engine.exe", "engine");
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += std::to_string(i * 7919 % 10007) + ",";
  Put("app/big.bin", big);
  Put("app/small.txt", "small");
  std::string out;
  ASSERT_EQ(Tool(Build("--out " + Q("agent.exe") + " --auto-update"), &out), 0) << out;
  EXPECT_EQ(Tool("test " + Q("agent.exe"), &out), 0) << out;
  EXPECT_NE(out.find("an agent package (auto-update): no files and nothing to run, by design"), std::string::npos)
      << out;

  // The agent copy a setup writes beside its files.
  ASSERT_EQ(Tool(Build("--out " + Q("setup.exe") + " --dir " + Q("app") + " --run " + Q("app/Engine.exe")), &out), 0)
      << out;
  ExtractRequest request;
  request.packageFile = Path("setup.exe");
  request.targetFolder = Path("x");
  request.agentFileName = "copy.exe";
  const int saveErrors = SaveErrorCount();
  ASSERT_FALSE(Extract(request, ExtractHooks{}).damaged);
  SetSaveErrorCount(saveErrors);
  ASSERT_TRUE(fs::exists(dir_ / "x" / "copy.exe"));
  for (const std::string command : {"test", "list", "show"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Tool(command + " " + Q("x/copy.exe"), &out), command == "show" ? 0 : 1) << out;
    EXPECT_NE(out.find(command == "show" ? "not checked: an agent copy, not a setup" : "copy.exe: an agent copy, not a setup"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("FAILED"), std::string::npos) << out;
  }

  // A disk set without its last disk: the file that goes on there is removed.
  ASSERT_EQ(Tool(Build("--out " + Q("set.exe") + " --level 0 --disk-size 200K --dir " + Q("app") + " --run " +
                       Q("app/Engine.exe")),
                 &out),
            0)
      << out;
  ASSERT_EQ(Tool("list " + Q("set.exe") + " --json", &out), 0) << out;
  const std::size_t at = out.find("{\"name\":\"big.bin\"");
  ASSERT_NE(at, std::string::npos) << out;
  ASSERT_EQ(out.find("\"disks\":[1,2]"), out.find("\"disks\"", at)) << out;
  fs::remove(dir_ / "set.exe.002");
  EXPECT_EQ(Tool("extract " + Q("set.exe") + " " + Q("y"), &out), 1) << out;
  EXPECT_NE(out.find("set.exe.002: disk file missing"), std::string::npos) << out;
  EXPECT_NE(out.find("removed " + Path("y") + "/big.bin: it cannot be completed"), std::string::npos) << out;
  EXPECT_NE(out.find("extracted 1 files"), std::string::npos) << out;
  EXPECT_EQ(Tree(dir_ / "y"), (std::map<std::string, std::string>{{"Engine.exe", "engine"}}));

  // Nor is anything removed that this run did not make.
  fs::remove_all(dir_ / "y");
  fs::create_directories(dir_ / "y");
  Put("outside.txt", "keep");
  fs::create_symlink(dir_ / "outside.txt", dir_ / "y" / "big.bin");
  EXPECT_EQ(Tool("extract " + Q("set.exe") + " " + Q("y"), &out), 1) << out;
  EXPECT_NE(out.find("big.bin is a symbolic link: not written through"), std::string::npos) << out;
  EXPECT_EQ(out.find("removed"), std::string::npos) << out;
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir_ / "y" / "big.bin")));
  EXPECT_EQ(Slurp(dir_ / "y" / "Engine.exe"), "engine");
  EXPECT_EQ(Slurp(dir_ / "outside.txt"), "keep");
}

}  // namespace
}  // namespace havrek

#endif
