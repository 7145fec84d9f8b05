#include "package/UnPack.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "diag/HDebug.h"
#include "package/Integrity.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/ZLibOpen.h"
#include "SealedPackage.h"
#include "SignedImage.h"
#include "TestFolder.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;
using test::Slurp;
using test::Word;

std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
  return s;
}

std::string StubImage() {
  std::string stub(4096, '\0');
  stub.replace(0, 2, "MZ");
  stub.replace(256, 4, std::string("PE\0\0", 4));
  for (std::size_t i = 600; i < stub.size(); ++i) stub[i] = static_cast<char>(i * 31);
  return stub;
}

// ---- Hand-laid packages: any entry the writer would refuse ----

std::string Block(std::int32_t length, const std::string& bytes) {
  return Word(static_cast<std::uint32_t>(length)) + bytes;
}
std::string Raw(const std::string& header, const std::string& data) {
  const std::string content = header + '\0' + data;
  return Block(-static_cast<std::int32_t>(content.size()), content);
}
std::string Zipped(const std::string& content) {
  uLongf n = compressBound(static_cast<uLong>(content.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 9);
  z.resize(n);
  return Block(static_cast<std::int32_t>(z.size()), z);
}
std::string Zipped(const std::string& header, const std::string& data) { return Zipped(header + '\0' + data); }

// Stub, the two header blocks, the entries and a header whose checksum
// always passes.
std::string Laid(const std::vector<std::string>& entries, std::uint8_t flags = 0) {
  std::string p = StubImage() + Block(0, "") + Block(24, "|http://|.info|.exe|0|0|");
  for (const std::string& e : entries) p += e;
  return test::SealPackage(p, 4096, static_cast<std::uint32_t>(entries.size()), flags);
}

std::vector<std::string>& DebugLines() {
  static std::vector<std::string> lines;
  return lines;
}

// What the hooks saw.
struct Seen {
  std::vector<std::pair<int, std::int64_t>> progress;  // kind, maximum
  std::vector<std::string> prompts, errors, ejected;
  int steps() const {
    int n = 0;
    for (const auto& p : progress) n += p.first == 1;
    return n;
  }
};

class UnPackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("unpack");
    fs::create_directories(dir_ / "src");
    target_ = (dir_ / "out" / "target").string();
    SetSaveErrorCount(0);
    DebugLines().clear();
    SetDebugTarget([](const std::string& piece) { DebugLines().push_back(piece); });
  }
  void TearDown() override {
    SetDebugTarget(nullptr);
    fs::remove_all(dir_);
  }

  std::string Put(const std::string& name, const std::string& bytes) const {
    const fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  PackFile Source(const std::string& name, const std::string& bytes, const std::string& target, bool run = false,
                  const std::string& args = "") const {
    PackFile f;
    f.source = Put("src/" + name, bytes);
    f.target = target;
    f.run = run;
    f.runArgs = args;
    return f;
  }
  PackOptions Options() const {
    PackOptions o;
    o.stubPath = Put("stub.exe", StubImage());
    o.outPath = (dir_ / "setup.exe").string();
    o.fixedDate = kDate;
    return o;
  }
  ExtractHooks Hooks() {
    ExtractHooks h;
    h.progress = [this](int kind, std::int64_t maximum, std::int64_t, std::int64_t) {
      seen_.progress.push_back({kind, maximum});
    };
    h.askForDisk = [this](const std::string& text, const std::string&, int, const std::string&) {
      seen_.prompts.push_back(text);
      return answer_ ? answer_(static_cast<int>(seen_.prompts.size())) : false;
    };
    h.showError = [this](const std::string& text) { seen_.errors.push_back(text); };
    h.eject = [this](const std::string& path) { seen_.ejected.push_back(path); };
    return h;
  }
  ExtractResult Run(const std::string& package, const std::string& agent = "", bool forcePrompt = false) {
    ExtractRequest r;
    r.packageFile = package;
    r.targetFolder = target_;
    r.agentFileName = agent;
    r.diskPrompt = "Please insert <B>DISK #<disk_num></B>";
    r.forcePrompt = forcePrompt;
    r.unattended = unattended_;
    return Extract(r, Hooks());
  }
  // Relative path -> bytes of every file under folder.
  static std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (!fs::exists(folder)) return files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
      if (e.is_regular_file()) files[fs::relative(e.path(), folder).generic_string()] = Slurp(e.path());
    return files;
  }
  // Everything beside the target folder, where an escaping entry would land.
  std::map<std::string, std::string> Outside() const {
    auto all = Tree(dir_ / "out");
    std::erase_if(all, [](const auto& kv) { return kv.first.starts_with("target/"); });
    return all;
  }

  static constexpr std::uint32_t kDate = (41u << 25) | (3u << 21) | (14u << 16) | (15u << 11) | (9u << 5) | 13u;
  fs::path dir_;
  std::string target_;
  Seen seen_;
  std::function<bool(int)> answer_;
  bool unattended_ = false;
};

TEST_F(UnPackTest, WrittenPackageComesBackWhole) {
  const std::string text = std::string(5000, 'a') + "end of text\r\n";
  const std::string noise = Noise(70000, 1);
  PackOptions o = Options();
  o.splitSize = 30000;
  o.files = {Source("readme.txt", text, "readme.txt"), Source("engine.bin", noise, "Engine.exe", true, "/go fast"),
             Source("empty.dat", "", "data/empty.dat"), Source("deep.txt", text + text, "sub\\dir\\deep.txt")};
  const PackResult w = WritePackage(o);
  ASSERT_TRUE(w.ok) << w.error;

  const ExtractResult r = Run(o.outPath);
  EXPECT_TRUE(r.checksumOk);
  EXPECT_FALSE(r.cutShort);
  EXPECT_EQ(r.failedSaves, 0);
  EXPECT_EQ(r.runCommand, "Engine.exe*/go fast");
  const std::map<std::string, std::string> expected = {
      {"readme.txt", text}, {"Engine.exe", noise}, {"data/empty.dat", ""}, {"sub/dir/deep.txt", text + text}};
  EXPECT_EQ(Tree(target_), expected);
  // The split engine (three pieces) steps the progress once, like every file.
  ASSERT_GE(seen_.progress.size(), 2u);
  EXPECT_EQ(seen_.progress[0], (std::pair<int, std::int64_t>{0, 0}));
  EXPECT_EQ(seen_.progress[1], (std::pair<int, std::int64_t>{0, w.entries}));
  EXPECT_EQ(seen_.steps(), 4);
  EXPECT_TRUE(seen_.errors.empty());

  for (const char* name : {"readme.txt", "Engine.exe", "data/empty.dat"}) {
    const plat::File f((fs::path(target_) / name).string(), plat::OpenMode::Read);
    EXPECT_EQ(plat::DosDate(f.get()), kDate) << name;
  }
  std::string debug;
  for (const std::string& piece : DebugLines()) debug += piece;
  EXPECT_NE(debug.find("FileInfo.FilesCount=" + std::to_string(w.entries) + "\r\n"), std::string::npos) << debug;
  EXPECT_NE(debug.find("FileLen=" + std::to_string(fs::file_size(o.outPath)) + "\r\n"), std::string::npos);
  EXPECT_NE(debug.find("UnCompressTime: "), std::string::npos);
  EXPECT_NE(debug.find(" MS\r\n\r\n"), std::string::npos);
}

TEST_F(UnPackTest, EntriesAreWalkedAsStored) {
  // Expands to several of the walk's pieces.
  const std::string big = Noise(300000, 5) + std::string(500000, 'q');
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::map<std::string, std::string> files;
    std::string run;
    int steps;
  };
  const std::vector<Case> cases = {
      {"raw and compressed", {Raw("|a.txt|0|", "plain"), Zipped("|b.txt|0|", "packed")},
       {{"a.txt", "plain"}, {"b.txt", "packed"}}, "", 2},
      {"same name appends", {Raw("|a.txt|0|", "one,"), Zipped("|a.txt|0|", "two")}, {{"a.txt", "one,two"}}, "", 1},
      {"zero length skipped", {Block(0, ""), Raw("|a.txt|0|", "x")}, {{"a.txt", "x"}}, "", 1},
      {"no NUL skipped", {Block(-5, "|b.t|"), Zipped(std::string("|c.txt|0|")), Raw("|a.txt|0|", "x")},
       {{"a.txt", "x"}}, "", 1},
      {"empty header skipped", {Raw("", "data"), Raw("|a.txt|0|", "x")}, {{"a.txt", "x"}}, "", 1},
      {"run mark in the name", {Raw("|setup.exe * -x |0|", "MZ")}, {{"setup.exe", "MZ"}}, "setup.exe * -x ", 1},
      // The whole header is no name of a file the walk wrote: nothing runs.
      {"run mark later", {Raw("|go.exe|0|*|", "MZ")}, {{"go.exe", "MZ"}}, "", 1},
      {"last run mark wins", {Raw("|a.exe*|0|", "1"), Raw("|b.exe*/b|0|", "2")}, {{"a.exe", "1"}, {"b.exe", "2"}},
       "b.exe*/b", 2},
      {"large entry appended in pieces", {Raw("|big.bin|0|", "head,"), Zipped("|big.bin|0|", big)},
       {{"big.bin", "head," + big}}, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target_);
    seen_ = {};
    const ExtractResult r = Run(Put("setup.exe", Laid(c.entries)));
    EXPECT_TRUE(r.checksumOk);
    EXPECT_EQ(r.failedSaves, 0);
    EXPECT_EQ(r.runCommand, c.run);
    EXPECT_EQ(Tree(target_), c.files);
    EXPECT_EQ(seen_.steps(), c.steps);
  }
}

// The walk that list, test and extract of the build tool go through.
TEST_F(UnPackTest, HooksSeeEveryEntryAndNoWriteLeavesNothing) {
  const std::string big = Noise(300000, 5) + std::string(500000, 'q');
  const std::vector<std::string> entries = {Raw("|a.txt*/go|7|", "plain"), Zipped("|sub/big.bin|8|", big),
                                            Raw("|..\\x|9|", "evil"), Raw("|sub\\big.bin|8|", "tail")};
  const std::string package = Put("setup.exe", Laid(entries));
  struct Want {
    std::string name, refused;
    std::int64_t dataSize;
    std::uint32_t date;
    bool first;  // of the open hook, for the written ones
  };
  const std::vector<Want> want = {{"a.txt", "", 5, 7, true},
                                  {"sub/big.bin", "", static_cast<std::int64_t>(big.size()), 8, true},
                                  {"..\\x", "Entry name refused: \"..\" part", 4, 9, false},
                                  {"sub\\big.bin", "", 4, 8, false}};
  for (const bool noWrite : {true, false}) {
    SCOPED_TRACE(noWrite ? "no write" : "write");
    fs::remove_all(dir_ / "out");
    std::vector<EntryFacts> started, done;
    std::vector<std::pair<std::string, bool>> opened;
    std::vector<bool> checksums;
    ExtractHooks h;
    h.diskFile = [&](const std::string& path, int disk, const TPackageHeader& header, bool ok) {
      EXPECT_EQ(path, package);
      EXPECT_EQ(disk, 1);
      EXPECT_EQ(header.fileCount, entries.size());
      checksums.push_back(ok);
    };
    h.entryStarts = [&](const EntryFacts& e) { started.push_back(e); };
    h.entryDone = [&](const EntryFacts& e) { done.push_back(e); };
    h.openEntry = [&](const std::string& path, bool first, std::string&) {
      opened.push_back({path, first});
      fs::create_directories(fs::path(path).parent_path());
      plat::File f(path, plat::OpenMode::Write);
      f.seek(0, 2);
      return f;
    };
    ExtractRequest r;
    r.packageFile = package;
    r.targetFolder = target_;
    r.noWrite = noWrite;
    const ExtractResult result = Extract(r, h);
    EXPECT_EQ(result.runCommand, "a.txt*/go");
    EXPECT_FALSE(result.damaged);
    EXPECT_EQ(checksums, std::vector<bool>{true});
    ASSERT_EQ(started.size(), want.size());
    ASSERT_EQ(done.size(), want.size());
    std::int64_t offset = 4096 + 8 + 24;
    for (std::size_t i = 0; i < want.size(); ++i) {
      SCOPED_TRACE(want[i].name);
      EXPECT_EQ(started[i].index, static_cast<std::int64_t>(i + 1));
      EXPECT_EQ(started[i].offset, offset);
      EXPECT_EQ(started[i].storedSize, static_cast<std::int64_t>(entries[i].size() - 4));
      EXPECT_EQ(started[i].compressed, i == 1);
      EXPECT_TRUE(started[i].name.empty());
      EXPECT_EQ(done[i].offset, offset);
      EXPECT_EQ(done[i].name, want[i].name);
      EXPECT_EQ(done[i].refused, want[i].refused);
      EXPECT_EQ(done[i].path.empty(), !want[i].refused.empty());
      EXPECT_EQ(done[i].dataSize, want[i].dataSize);
      EXPECT_EQ(done[i].date, want[i].date);
      offset += static_cast<std::int64_t>(entries[i].size());
    }
    if (noWrite) {
      EXPECT_FALSE(fs::exists(dir_ / "out"));
      EXPECT_TRUE(opened.empty());
    } else {
      EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{{"a.txt", "plain"}, {"sub/big.bin", big + "tail"}}));
      const std::vector<std::pair<std::string, bool>> wantOpened = {
          {target_ + "/a.txt", true}, {target_ + "/sub/big.bin", true}, {target_ + "/sub/big.bin", false}};
      EXPECT_EQ(opened, wantOpened);
    }
  }
}

TEST_F(UnPackTest, NamesLeavingTheTargetAreNeverWritten) {
  Put("out/evil.dll", "sentinel");
  Put("out/x", "sentinel");
  const std::vector<std::string> bad = {"..\\evil.dll", "sub/..\\..\\x", "C:\\x.dll", "\\\\host\\share\\x",
                                        "x:stream",     "CON",          "/abs",      "..",
                                        "..\\evil.exe*/run"};
  for (const std::string& name : bad) {
    SCOPED_TRACE(name);
    fs::remove_all(target_);
    seen_ = {};
    SetSaveErrorCount(0);
    const auto before = Outside();
    const ExtractResult r = Run(Put("setup.exe", Laid({Raw("|" + name + "|0|", "payload"), Zipped("|ok.txt|0|", "ok")})));
    EXPECT_EQ(Outside(), before);
    EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{{"ok.txt", "ok"}}));
    EXPECT_EQ(r.failedSaves, 1);
    EXPECT_EQ(r.runCommand, "");  // a refused program is not run either
    ASSERT_EQ(seen_.errors.size(), 1u);
    EXPECT_NE(seen_.errors[0].find("Unable to save Extracted File!"), std::string::npos);
  }
}

TEST_F(UnPackTest, OnlyTheFirstFailedSaveOfTheProcessIsShown) {
  const std::string package = Put("setup.exe", Laid({Raw("|..\\a|0|", "1"), Raw("|CON|0|", "2")}));
  EXPECT_EQ(Run(package).failedSaves, 2);
  EXPECT_EQ(Run(package).failedSaves, 2);
  EXPECT_EQ(SaveErrorCount(), 4);
  EXPECT_EQ(seen_.errors.size(), 1u);
}

TEST_F(UnPackTest, ASaveThatFailsIsReportedWithItsFacts) {
  fs::create_directories(fs::path(target_) / "taken.txt");  // a folder where the file should go
  const ExtractResult r = Run(Put("setup.exe", Laid({Raw("|taken.txt|0|", "12345"), Raw("|next.txt|0|", "n")})));
  EXPECT_EQ(r.failedSaves, 1);
  EXPECT_EQ(Slurp(fs::path(target_) / "next.txt"), "n");
  ASSERT_EQ(seen_.errors.size(), 1u);
  EXPECT_NE(seen_.errors[0].find("taken.txt<P><P>Unable to save Extracted File!<P><P>"), std::string::npos);
  EXPECT_NE(seen_.errors[0].find("<P>  Data Size: <T>5 Bytes<P>"), std::string::npos) << seen_.errors[0];
}

TEST_F(UnPackTest, AWriteThatFailsCountsOnceWithTheWholeDataSize) {
  const std::string big = Noise(200000, 6) + std::string(600000, 'w');
  struct Case {
    const char* name;
    std::string entry;
    std::size_t dataSize;
  };
  const std::vector<Case> cases = {
      {"raw", Raw("|full.bin|0|", "12345"), 5},
      {"compressed, one piece", Zipped("|full.bin|0|", "123456"), 6},
      {"compressed, many pieces", Zipped("|full.bin|0|", big), big.size()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target_);
    fs::create_directories(target_);
    // Every write to it fails: the disk is full.
    fs::create_symlink("/dev/full", fs::path(target_) / "full.bin");
    seen_ = {};
    SetSaveErrorCount(0);
    const ExtractResult r = Run(Put("setup.exe", Laid({c.entry, Raw("|next.txt|0|", "n")})));
    EXPECT_EQ(r.failedSaves, 1);
    EXPECT_EQ(Slurp(fs::path(target_) / "next.txt"), "n");
    ASSERT_EQ(seen_.errors.size(), 1u);
    EXPECT_NE(seen_.errors[0].find("full.bin<P><P>Unable to save Extracted File!<P><P>"), std::string::npos);
    EXPECT_NE(seen_.errors[0].find("<P>  Data Size: <T>" + std::to_string(c.dataSize) + " Bytes<P>"),
              std::string::npos)
        << seen_.errors[0];
  }
}

// Stands in for the system's last error, which holds only until the next
// call: it names the full disk while a file of it is open, and is stale once
// the file is closed.
std::string DiskFullWhileOpen() {
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(e.path(), ec) == "/dev/full") return "No space left on device.";
  }
  return "stale error";
}

TEST_F(UnPackTest, TheSaveFailureTextIsTheErrorOfTheFailingCall) {
  fs::create_directories(target_);
  fs::create_symlink("/dev/full", fs::path(target_) / "full.bin");
  ExtractHooks hooks = Hooks();
  hooks.lastErrorText = DiskFullWhileOpen;
  ExtractRequest r;
  r.packageFile = Put("setup.exe", Laid({Zipped("|full.bin|0|", Noise(100000, 4))}));
  r.targetFolder = target_;
  EXPECT_EQ(Extract(r, hooks).failedSaves, 1);
  ASSERT_EQ(seen_.errors.size(), 1u);
  EXPECT_NE(seen_.errors[0].find("Unable to save Extracted File!<P><P>No space left on device.<P>"),
            std::string::npos)
      << seen_.errors[0];
}

int OpenFiles() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

TEST_F(UnPackTest, BadPackagesEndCleanly) {
  const std::string good = Raw("|first.txt|0|", "first");
  std::string badZlib = Zipped("|z.txt|0|", std::string(1000, 'z'));
  badZlib[badZlib.size() - 2] ^= 0x21;
  z_stream s{};
  deflateInit(&s, 9);
  deflateSetDictionary(&s, reinterpret_cast<const Bytef*>("|d|0|"), 5);
  std::string dict(256, '\0');
  const std::string content = std::string("|d.txt|0|") + '\0' + "dd";
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  s.avail_in = static_cast<uInt>(content.size());
  s.next_out = reinterpret_cast<Bytef*>(dict.data());
  s.avail_out = static_cast<uInt>(dict.size());
  deflate(&s, Z_FINISH);
  dict.resize(s.total_out);
  deflateEnd(&s);

  PackOptions o = Options();
  o.files = {Source("a.txt", std::string(3000, 'a'), "a.txt", true)};
  ASSERT_TRUE(WritePackage(o).ok);
  std::string flipped = Slurp(o.outPath);
  flipped[4096 + 60] ^= 0x40;
  std::string noMagic = Laid({good});
  noMagic[noMagic.size() - 74 + 12] ^= 1;
  std::string payloadPastEnd = Laid({good});
  const std::uint32_t past = static_cast<std::uint32_t>(payloadPastEnd.size()) + 10;
  std::memcpy(payloadPastEnd.data() + payloadPastEnd.size() - 74 + 4, &past, 4);
  std::string noEntry = Laid({});
  const std::uint32_t counted = 2;
  std::memcpy(noEntry.data() + noEntry.size() - 74 + 8, &counted, 4);

  struct Case {
    const char* name;
    std::string bytes;
    bool checksumOk;
    bool cutShort;
    bool damaged;
    const char* zlibError;  // nullptr: none raised
    std::map<std::string, std::string> files;
  };
  const std::map<std::string, std::string> first = {{"first.txt", "first"}};
  const std::vector<Case> cases = {
      {"flipped payload byte", flipped, false, false, false, nullptr, {}},
      {"corrupt zlib entry", Laid({good, badZlib}), true, false, false, "data error", first},
      {"preset dictionary", Laid({good, Block(static_cast<std::int32_t>(dict.size()), dict)}), true, false, false,
       "need dictionary", first},
      {"entry longer than the file", Laid({good, Block(1000000, "xyz")}), true, true, true, nullptr, first},
      {"negative length past the end", Laid({good, Block(INT32_MIN, "")}), true, true, true, nullptr, first},
      {"length word cut", Laid({good, "\x05"}), true, true, true, nullptr, first},
      // Without its magic the header's checksum is not even tested.
      {"wrong magic", noMagic, false, false, true, nullptr, {}},
      {"no package at all", std::string(100, 'x'), false, false, true, nullptr, {}},
      {"empty file", "", false, false, true, nullptr, {}},
      {"payload start past the end", payloadPastEnd, true, false, true, nullptr, {}},
      {"no entry although counted", noEntry, true, false, true, nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target_);
    const std::string package = Put("bad.exe", c.bytes);
    const int files = OpenFiles();
    try {
      const ExtractResult r = Run(package);
      EXPECT_EQ(c.zlibError, nullptr) << "no error raised";
      // A file without a header sums to its own (zero) checksum.
      EXPECT_EQ(r.checksumOk, c.checksumOk);
      EXPECT_EQ(r.cutShort, c.cutShort);
      EXPECT_EQ(r.damaged, c.damaged);
      EXPECT_EQ(r.damage.empty(), !c.damaged) << r.damage;
      EXPECT_EQ(r.runCommand, "");
    } catch (const EZLibError& e) {
      ASSERT_NE(c.zlibError, nullptr) << e.what();
      EXPECT_STREQ(e.what(), c.zlibError);
    }
    EXPECT_EQ(OpenFiles(), files) << "package left open";
    EXPECT_EQ(Tree(target_), c.files);
  }
  EXPECT_FALSE(Run((dir_ / "missing.exe").string()).checksumOk);
}

TEST_F(UnPackTest, OnlyAFileTheWalkWroteIsRun) {
  const std::string mz = "MZ program";
  struct Case {
    const char* name;
    std::vector<std::string> entries;
    std::string run;     // the run command reported
    bool refused;        // with a reason why nothing runs
    bool saveFailed;
  };
  const std::vector<Case> cases = {
      {"name with its mark", {Raw("|Engine.exe*-x|0|", mz)}, "Engine.exe*-x", false, false},
      {"in a sub-folder", {Raw("|sub/Engine.exe * -x|0|", mz)}, "sub/Engine.exe * -x", false, false},
      {"mark in field 1", {Raw("|Engine.exe|*0|", mz)}, "", true, false},
      {"mark in field 2", {Raw("|Engine.exe|0|*-x|", mz)}, "", true, false},
      {"backslash list climbing out", {Raw("\\good.txt\\..\\..\\outside\\Engine.exe*-x\\", mz)}, "", true,
       false},
      {"slash list climbing out", {Raw("/good.txt/../../outside/Engine.exe*-x/", mz)}, "", true, false},
      {"dots in the name", {Raw("|..\\outside\\Engine.exe*-x|0|", mz)}, "", true, false},
      {"drive form", {Raw("|C:\\outside\\Engine.exe*|0|", mz)}, "", true, false},
      {"names a file of no entry", {Raw("|a.txt|0|", "a"), Raw("#go.exe#0#*#", mz)}, "", true, false},
      {"its save failed", {Raw("|taken/Engine.exe*|0|", mz)}, "", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target_);
    fs::create_directories(fs::path(target_) / "taken" / "Engine.exe");  // a folder where the file should go
    SetSaveErrorCount(0);
    const ExtractResult r = Run(Put("setup.exe", Laid(c.entries)));
    EXPECT_FALSE(r.damaged);
    EXPECT_EQ(r.runCommand, c.run);
    EXPECT_EQ(!r.runRefused.empty(), c.refused) << r.runRefused;
    EXPECT_EQ(r.runSaveFailed, c.saveFailed);
  }
}

TEST_F(UnPackTest, AHeaderWithoutItsEndIsRefusedAsDamaged) {
  // Names and arguments are short: 32 KB is the most a header may take.
  const std::string longest = "|" + std::string(32766, 'n') + "|";
  struct Case {
    const char* name;
    std::string entry;
    bool damaged;
  };
  const std::vector<Case> cases = {
      {"compressed, no NUL", Zipped(std::string(8u << 20, 'h')), true},
      {"compressed, NUL past the cap", Zipped(longest + "x", "data"), true},
      {"stored, no NUL", Block(-40000, std::string(40000, 'h')), true},
      {"stored, NUL past the cap", Raw(longest + "x", "data"), true},
      // Too long a name for a file, but a header all the same.
      {"NUL at the cap", Raw(longest, "data"), false},
  };
  for (const bool moreDisks : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (moreDisks ? ", more disks" : ""));
      fs::remove_all(target_);
      seen_ = {};
      SetSaveErrorCount(0);
      const std::string package =
          Put("setup.exe", Laid({Raw("|first.exe*|0|", "MZ"), c.entry, Raw("|after.txt|0|", "after")},
                                moreDisks ? hfMoreDisks : 0));
      const ExtractResult r = Run(package);
      EXPECT_EQ(r.damaged, c.damaged);
      EXPECT_FALSE(r.cutShort);
      // The walk ends there: nothing after it is written, asked for or run.
      EXPECT_EQ(seen_.prompts.empty(), c.damaged || !moreDisks);
      EXPECT_EQ(r.runCommand, c.damaged || moreDisks ? "" : "first.exe*");
      if (c.damaged) {
        EXPECT_EQ(Tree(target_), (std::map<std::string, std::string>{{"first.exe", "MZ"}}));
      } else {
        EXPECT_EQ(r.failedSaves, 1);
        EXPECT_EQ(Slurp(fs::path(target_) / "after.txt"), "after");
      }
    }
  }
}

TEST_F(UnPackTest, AStreamBrokenAfterItsFirstPiecesStillRaises) {
  const std::string big = Noise(100000, 7) + std::string(900000, 'k');
  std::string broken = Zipped("|big.bin|0|", big);
  broken[broken.size() - 1] ^= 0x08;  // the check sum, read only at the end
  const std::string package = Put("setup.exe", Laid({Raw("|first.txt|0|", "first"), broken}));
  const int files = OpenFiles();
  try {
    Run(package);
    ADD_FAILURE() << "no error raised";
  } catch (const EZLibError& e) {
    EXPECT_STREQ(e.what(), "data error");
  }
  EXPECT_EQ(OpenFiles(), files) << "a file left open";
  EXPECT_EQ(Slurp(fs::path(target_) / "first.txt"), "first");
  // Whatever was written is the caller's to remove; it is never a failed save.
  EXPECT_TRUE(seen_.errors.empty());
}

TEST_F(UnPackTest, WalkStopsWhen74BytesOrFewerRemain) {
  std::vector<std::string> entries;
  for (int i = 0; i < 99; ++i) entries.push_back(Raw("|f" + std::to_string(i) + "|0|", std::to_string(i)));
  const ExtractResult r = Run(Put("setup.exe", Laid(entries)));
  EXPECT_FALSE(r.cutShort);
  EXPECT_EQ(Tree(target_).size(), 99u);
  EXPECT_EQ(seen_.steps(), 99);
}

TEST_F(UnPackTest, AgentCopyIsTheStubAndHeaderBlocksMarkedAsAgent) {
  PackOptions o = Options();
  o.files = {Source("a.txt", "abc", "a.txt")};
  o.hasAgent = true;
  struct Case {
    const char* package;
    bool copied;
  };
  for (const Case& c : {Case{"setup.exe", true}, Case{"SETUP.EXE", true}, Case{"setup.bin", false}}) {
    SCOPED_TRACE(c.package);
    fs::remove_all(target_);
    o.outPath = (dir_ / c.package).string();
    ASSERT_TRUE(WritePackage(o).ok);
    Run(o.outPath, "C:\\Program Files\\App\\Agent.exe");
    const fs::path agent = fs::path(target_) / "Agent.exe";
    ASSERT_EQ(fs::exists(agent), c.copied);
    if (!c.copied) continue;

    const std::string package = Slurp(o.outPath);
    const std::string copy = Slurp(agent);
    const TGFileInfo original(o.outPath);
    ASSERT_EQ(copy.size(), original.Header().payloadStart + 74u);
    EXPECT_EQ(copy.substr(0, 248), package.substr(0, 248));
    EXPECT_EQ(ReadBuildLength(copy), 0);
    EXPECT_EQ(copy.substr(256, original.Header().payloadStart - 256),
              package.substr(256, original.Header().payloadStart - 256));
    TPackageHeader h;
    std::memcpy(&h, copy.data() + copy.size() - 74, 74);
    EXPECT_EQ(h.autoUpdate, 1);
    EXPECT_EQ(h.trailerLength, 74);
    EXPECT_EQ(h.magic, PackageMagic);
    EXPECT_EQ(h.hasAgent, 1);
    EXPECT_EQ(h.fileCount, original.Header().fileCount);
    EXPECT_EQ(h.checksum, original.Header().checksum);
    EXPECT_TRUE(HasIntegrityMark(original.Header()));
    EXPECT_FALSE(HasIntegrityMark(h)) << "no record in the copy";
    // The copy reads as the same package, now an agent.
    const TGFileInfo asRead(agent.string());
    EXPECT_TRUE(asRead.AutoUpdate());
    EXPECT_EQ(asRead.UpdateRecord(), original.UpdateRecord());
    const plat::File src(o.outPath, plat::OpenMode::Read), dst(agent.string(), plat::OpenMode::Read);
    EXPECT_EQ(plat::DosDate(dst.get()), plat::DosDate(src.get()));
    std::string debug;
    for (const std::string& piece : DebugLines()) debug += piece;
    EXPECT_NE(debug.find(" New AU-Agent: " + agent.string()), std::string::npos);
  }
}

TEST_F(UnPackTest, AgentCopyOfASignedSetupIsAnUnsignedProgram) {
  PackOptions o = Options();
  std::string stub = StubImage();
  test::SetOptionalHeader(stub, test::kPe32Plus);
  o.stubPath = Put("stub.exe", stub);
  o.files = {Source("a.txt", "abc", "a.txt")};
  o.hasAgent = true;
  ASSERT_TRUE(WritePackage(o).ok);
  const std::string built = Slurp(o.outPath);
  Put("setup.exe", test::SignFile(built));
  ASSERT_EQ(ReadForeignTail(o.outPath).kind, TailKind::Signature);

  const ExtractResult r = Run(o.outPath, "Agent.exe");
  EXPECT_TRUE(r.checksumOk);
  EXPECT_EQ(Slurp(fs::path(target_) / "a.txt"), "abc");
  const fs::path agent = fs::path(target_) / "Agent.exe";
  const std::string copy = Slurp(agent);
  const std::size_t firstEntry = TGFileInfo(o.outPath).Header().payloadStart;
  ASSERT_EQ(copy.size(), firstEntry + 74u);
  // Byte for byte the copy an unsigned build gives: neither the table nor
  // the header fields that named it came along.
  std::string unsignedHead = built.substr(0, firstEntry);
  std::memset(unsignedHead.data() + 252, 0, 4);
  EXPECT_EQ(copy.substr(0, firstEntry), unsignedHead);
  EXPECT_EQ(ReadForeignTail(agent.string()).kind, TailKind::None);
  EXPECT_TRUE(TGFileInfo(agent.string()).AutoUpdate());
}

// What a package above ChecksumSizeLimit is: its checksum passes whatever
// the bytes, so only the integrity records can tell damage.
std::string ChecksumAlwaysPassing(std::string bytes) {
  const std::uint32_t passes = ChecksumAlwaysPasses;
  std::memcpy(bytes.data() + bytes.size() - 74 + offsetof(TPackageHeader, checksum), &passes, 4);
  return bytes;
}

// Bytes cut out of or put into a package before its header; its build length
// follows.
std::string Spliced(std::string bytes, std::size_t at, std::size_t remove, const std::string& insert) {
  bytes.replace(at, remove, insert);
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  std::memcpy(bytes.data() + 252, &size, 4);
  return bytes;
}

// The same package as an earlier writer made it: a version 1 record, which
// covers the bytes from the payload start up to itself.
std::string AsVersion1(std::string bytes) {
  const std::size_t header = bytes.size() - 74;
  const std::size_t record = header - IntegrityBlockSize;
  TPackageHeader h{};
  std::memcpy(&h, bytes.data() + header, 74);
  plat::Sha256 hash;
  hash.update(bytes.data() + h.payloadStart, static_cast<std::int64_t>(record - h.payloadStart));
  unsigned char digest[plat::kSha256Size] = {};
  EXPECT_TRUE(hash.final(digest));
  bytes.replace(record, IntegrityBlockSize, IntegrityRecordBlock(digest, 1));
  bytes[header + offsetof(TPackageHeader, integrity) + 4] = 1;
  return bytes;
}

TEST_F(UnPackTest, IntegrityRecordsTellDamageTheChecksumLetsPass) {
  const std::string text = std::string(20000, 't');
  const std::string noise = Noise(30000, 11);
  PackOptions o = Options();
  o.level = 0;
  o.files = {Source("a.txt", text, "a.txt"), Source("engine.bin", noise, "Engine.exe", true)};
  ASSERT_TRUE(WritePackage(o).ok);
  const std::map<std::string, std::string> all = {{"a.txt", text}, {"Engine.exe", noise}};
  const std::string written = ChecksumAlwaysPassing(Slurp(o.outPath));

  for (const int version : {1, 2}) {
    SCOPED_TRACE("version " + std::to_string(version));
    const std::string sound = version == 1 ? AsVersion1(written) : written;
    const std::size_t header = sound.size() - 74;
    const std::size_t record = header - IntegrityBlockSize;
    const std::size_t mark = header + offsetof(TPackageHeader, integrity);

    auto flipped = [](std::string bytes, std::size_t at) {
      bytes[at] ^= 0x04;
      return bytes;
    };
    auto unmarked = [mark](std::string bytes) {
      std::memset(bytes.data() + mark, 0, 8);
      return bytes;
    };
    std::string laterVersion = sound;
    laterVersion[mark + 4] = 3;
    // A file of this package that an old writer would have made.
    const std::string old = Spliced(unmarked(sound), record, IntegrityBlockSize, "");
    // Version 1 covers only the payload: what lies before it and the package
    // header pass unnoticed there.
    const char* const wholeFile = version == 2 ? "do not match" : nullptr;

    struct Case {
      const char* name;
      std::string bytes;
      const char* damage;  // nullptr: extracts whole
      bool verify = true;
    };
    const std::vector<Case> cases = {
        {"sound", sound, nullptr},
        {"a byte of a raw entry's data flipped", flipped(sound, 4096 + 200 + 15000), "do not match"},
        {"a byte of a header block flipped", flipped(sound, 4096 + 10), "do not match"},
        {"the record's digest changed", flipped(sound, header - 1), "do not match"},
        {"the record removed, the mark kept", Spliced(sound, record, IntegrityBlockSize, ""), "no integrity record"},
        {"a block after the record", Spliced(sound, header, 0, Raw("|late.txt|0|", "late")), "blocks follow"},
        {"a second record", Spliced(sound, header, 0, sound.substr(record, IntegrityBlockSize)), "blocks follow"},
        {"a record without the mark, a byte flipped", unmarked(flipped(sound, 4096 + 200 + 15000)),
         version == 1 ? "do not match" : "not of the version"},
        // Version 2's digest covers the mark: without it the header changed.
        {"a record without the mark", unmarked(sound), version == 1 ? nullptr : "not of the version"},
        // What a later format would promise is not this walk's to demand.
        {"the mark of a later version, no record", Spliced(laterVersion, record, IntegrityBlockSize, ""), nullptr},
        {"neither mark nor record (an old package)", old, nullptr},
        {"unchecked: a flipped byte passes, the record is no file", flipped(sound, 4096 + 200 + 15000), nullptr,
         false},
        {"a byte of the stub image flipped", flipped(sound, 3000), wholeFile},
        {"the has-agent byte set", flipped(sound, header + offsetof(TPackageHeader, hasAgent)), wholeFile},
        // Signing rewrites these afterwards: they are not covered.
        {"the PE checksum changed", flipped(sound, PeChecksumOffset + 1), nullptr},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      fs::remove_all(target_);
      seen_ = {};
      ExtractRequest r;
      r.packageFile = Put("setup.exe", c.bytes);
      r.targetFolder = target_;
      r.verify = c.verify;
      const ExtractResult got = Extract(r, Hooks());
      EXPECT_TRUE(got.checksumOk);
      EXPECT_EQ(got.damaged, c.damage != nullptr);
      if (c.damage) {
        EXPECT_NE(got.damage.find(c.damage), std::string::npos) << got.damage;
        EXPECT_NE(got.damage.find(r.packageFile), std::string::npos) << got.damage;
        EXPECT_EQ(got.runCommand, "") << "nothing of a damaged package runs";
        continue;
      }
      EXPECT_EQ(got.damage, "");
      EXPECT_EQ(got.runCommand, "Engine.exe*");
      EXPECT_EQ(got.failedSaves, 0);
      EXPECT_EQ(seen_.steps(), 2) << "the record is no file";
      if (!c.verify) continue;
      EXPECT_EQ(Tree(target_), all);
      // The check without extracting agrees with the walk.
      EXPECT_TRUE(CheckPackageIntegrity(r.packageFile).Sound());
    }
    for (const Case& c : cases) {
      if (!c.damage) continue;
      SCOPED_TRACE(std::string("without extracting: ") + c.name);
      const IntegrityReport report = CheckPackageIntegrity(Put("setup.exe", c.bytes));
      ASSERT_EQ(report.files.size(), 1u);
      EXPECT_NE(report.files[0].error.find(c.damage), std::string::npos) << report.files[0].error;
    }

    EXPECT_TRUE(CheckPackageIntegrity(Put("setup.exe", sound)).Verified());
    EXPECT_FALSE(CheckPackageIntegrity(Put("setup.exe", old)).Verified());
  }
}

// Without records (old packages) the header's counts still hold the walk:
// an entry taken for a header block is missing from what is installed.
TEST_F(UnPackTest, EntriesAreCountedAgainstTheHeader) {
  PackOptions o = Options();
  o.files = {Source("a.txt", "aaa", "a.txt"), Source("engine.bin", "run me", "Engine.exe", true)};
  ASSERT_TRUE(WritePackage(o).ok);
  std::string old = Slurp(o.outPath);
  const std::size_t header = old.size() - 74;
  std::memset(old.data() + header + offsetof(TPackageHeader, integrity), 0, 8);
  old = ChecksumAlwaysPassing(Spliced(old, header - IntegrityBlockSize, IntegrityBlockSize, ""));
  auto with = [&old](std::size_t field, std::uint8_t value) {
    std::string bytes = old;
    bytes[bytes.size() - 74 + field] = static_cast<char>(value);
    return bytes;
  };
  struct Case {
    const char* name;
    std::string bytes;
    const char* damage;
  };
  for (const Case& c : {Case{"as written", old, nullptr},
                        Case{"the first entry taken for the internet record",
                             with(offsetof(TPackageHeader, blockCount), 3), "1 stored files, although the package counts 2"},
                        Case{"a block count past every header block", with(offsetof(TPackageHeader, blockCount), 9),
                             "counts 9 header blocks"},
                        Case{"one file more counted", with(offsetof(TPackageHeader, fileCount), 3),
                             "2 stored files, although the package counts 3"}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target_);
    ExtractRequest r;
    r.packageFile = Put("setup.exe", c.bytes);
    r.targetFolder = target_;
    const ExtractResult got = Extract(r, Hooks());
    EXPECT_TRUE(got.checksumOk);
    EXPECT_EQ(got.damaged, c.damage != nullptr) << got.damage;
    if (c.damage) {
      EXPECT_NE(got.damage.find(c.damage), std::string::npos) << got.damage;
      EXPECT_EQ(got.runCommand, "");
    } else {
      EXPECT_EQ(got.runCommand, "Engine.exe*");
    }
  }
}

// Every byte of the package header and every 4 KB of the stub image,
// changed in turn: the walk refuses the package, or it installs exactly what
// the original installs (files, run mark, agent copy).
TEST_F(UnPackTest, NoChangeToTheHeaderOrTheStubInstallsSomethingElse) {
  std::string stub = StubImage();
  for (int i = 0; i < 15; ++i) stub += Noise(4096, 100 + i);
  PackOptions o = Options();
  o.stubPath = Put("stub.exe", stub);
  o.level = 6;
  o.withInternetRecord = false;
  o.files = {Source("a.txt", std::string(3000, 'a'), "a.txt"), Source("b.bin", Noise(5000, 7), "b.bin"),
             Source("engine.bin", Noise(2000, 9), "Engine.exe", true)};
  ASSERT_TRUE(WritePackage(o).ok);
  const std::string sound = Slurp(o.outPath);
  const std::size_t header = sound.size() - 74;

  struct Installed {
    bool refused = false;
    std::string run;
    std::map<std::string, std::string> files;
  };
  auto install = [this](const std::string& bytes) {
    Installed got;
    fs::remove_all(target_);
    ExtractRequest r;
    r.packageFile = Put("setup.exe", bytes);
    r.targetFolder = target_;
    // As the setup flow asks for it.
    if (TGFileInfo(r.packageFile).HasAgent()) r.agentFileName = "agent.exe";
    try {
      const ExtractResult x = Extract(r, Hooks());
      got.refused = x.damaged || !x.checksumOk;
      got.run = x.runCommand;
    } catch (const EZLibError&) {
      got.refused = true;
    }
    if (fs::exists(target_)) got.files = Tree(target_);
    return got;
  };
  const Installed original = install(sound);
  ASSERT_FALSE(original.refused);
  ASSERT_EQ(original.files.size(), 3u);

  std::vector<std::size_t> offsets;
  for (std::size_t at = header; at < sound.size(); ++at) offsets.push_back(at);
  const std::size_t peChecksum = PeChecksumOffset;
  const std::size_t certEntry = static_cast<std::size_t>(CertificateEntryOffset(sound));
  for (std::size_t at = 0; at < stub.size(); at += 4096)
    for (const std::size_t in : {std::size_t{0}, std::size_t{1}, std::size_t{300}, std::size_t{2222}})
      if (const std::size_t x = at + in;
          (x < peChecksum || x >= peChecksum + 4) && (x < certEntry || x >= certEntry + 8))
        offsets.push_back(x);
  int refused = 0;
  for (const std::size_t at : offsets)
    for (const unsigned char change : {0x01, 0x02, 0x80, 0xFF}) {
      std::string bytes = sound;
      bytes[at] = static_cast<char>(bytes[at] ^ change);
      const Installed got = install(bytes);
      if (got.refused) {
        ++refused;
        continue;
      }
      SCOPED_TRACE("offset " + std::to_string(at) + " xor " + std::to_string(change));
      EXPECT_EQ(got.run, original.run);
      EXPECT_EQ(got.files, original.files);
    }
  EXPECT_GT(refused, 0);
}

// Above ChecksumSizeLimit the checksum is 1234 and passes anything.
TEST_F(UnPackTest, AFlippedByteInALargeStoredSetupIsDamage) {
  const std::size_t size = static_cast<std::size_t>(ChecksumSizeLimit) + (1 << 20);
  const std::string big = Noise(size, 21);
  PackOptions o = Options();
  o.level = 0;
  o.splitSize = MaxSplitSize;
  o.files = {Source("big.bin", big, "big.bin"), Source("engine.bin", "MZ", "Engine.exe", true)};
  ASSERT_TRUE(WritePackage(o).ok);
  ASSERT_GT(static_cast<std::int64_t>(fs::file_size(o.outPath)), ChecksumSizeLimit);
  {
    std::fstream f(o.outPath, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(fs::file_size(o.outPath) / 2));
    f.put(static_cast<char>(big[size / 2 - 4200] ^ 0x01));  // about there: any change will do
  }
  const ExtractResult r = Run(o.outPath);
  EXPECT_TRUE(r.checksumOk);
  EXPECT_TRUE(r.damaged);
  EXPECT_NE(r.damage.find("do not match its integrity record"), std::string::npos) << r.damage;
  EXPECT_EQ(r.runCommand, "");
  EXPECT_FALSE(CheckPackageIntegrity(o.outPath).Sound());
}

class UnPackDisksTest : public UnPackTest {
 protected:
  void SetUp() override {
    UnPackTest::SetUp();
    PackOptions o = Options();
    o.headerFlags = hfSpan;
    o.splitSize = 20000;
    o.diskSize = 30000;
    o.files = {Source("a.bin", Noise(50000, 2), "a.bin"), Source("b.txt", std::string(40000, 'b'), "b.txt"),
               Source("engine.exe", Noise(20000, 3), "engine.exe", true, "-x")};
    const PackResult w = WritePackage(o);
    ASSERT_TRUE(w.ok) << w.error;
    disks_ = static_cast<int>(w.written.size()) - 1;
    ASSERT_GE(disks_, 3);
    first_ = o.outPath + ".001";
    base_ = o.outPath;
  }
  std::map<std::string, std::string> All() const {
    return {{"a.bin", Noise(50000, 2)}, {"b.txt", std::string(40000, 'b')}, {"engine.exe", Noise(20000, 3)}};
  }
  int disks_ = 0;
  std::string first_, base_;
};

TEST_F(UnPackDisksTest, PresentDisksAreWalkedWithoutAsking) {
  const ExtractResult r = Run(first_);
  EXPECT_TRUE(r.checksumOk);
  EXPECT_EQ(r.runCommand, "engine.exe*-x");
  EXPECT_EQ(Tree(target_), All());
  EXPECT_TRUE(seen_.prompts.empty());
  EXPECT_TRUE(seen_.ejected.empty());
  EXPECT_EQ(seen_.steps(), 3 + disks_ - 1);
}

TEST_F(UnPackDisksTest, ForcePromptAsksForEveryFurtherDisk) {
  answer_ = [](int) { return true; };
  const ExtractResult r = Run(first_, "", true);
  EXPECT_EQ(Tree(target_), All());
  ASSERT_EQ(static_cast<int>(seen_.prompts.size()), disks_ - 1);
  EXPECT_EQ(seen_.prompts[0], "Please insert <B>DISK #2</B>");
  std::vector<std::string> disks;
  for (int k = 2; k <= disks_; ++k) disks.push_back(base_ + (k < 10 ? ".00" : ".0") + std::to_string(k));
  EXPECT_EQ(seen_.ejected, disks);
  EXPECT_EQ(r.runCommand, "engine.exe*-x");
}

TEST_F(UnPackDisksTest, AMissingDiskIsAskedForUntilItIsThere) {
  const std::string second = base_ + ".002";
  fs::rename(second, second + ".away");
  answer_ = [&](int asked) {
    if (asked == 2) fs::rename(second + ".away", second);
    return true;
  };
  const ExtractResult r = Run(first_);
  EXPECT_EQ(seen_.prompts.size(), 2u);
  EXPECT_EQ(seen_.ejected, std::vector<std::string>{second});
  EXPECT_EQ(Tree(target_), All());
  EXPECT_EQ(r.runCommand, "engine.exe*-x");
}

TEST_F(UnPackDisksTest, CancelAtADiskEndsWithNothingToRun) {
  fs::remove(base_ + ".002");
  const ExtractResult r = Run(first_);
  EXPECT_EQ(seen_.prompts.size(), 1u);
  EXPECT_EQ(r.runCommand, "");
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.damaged);
  EXPECT_TRUE(r.checksumOk);
  EXPECT_FALSE(Tree(target_).empty());  // disk 1's files stay for the caller to remove
}

TEST_F(UnPackDisksTest, AMissingDiskWithNobodyToAskIsDamage) {
  fs::remove(base_ + ".002");
  unattended_ = true;
  const ExtractResult r = Run(first_);
  EXPECT_TRUE(seen_.prompts.empty());
  EXPECT_TRUE(r.damaged);
  EXPECT_NE(r.damage.find(".002"), std::string::npos) << r.damage;
  EXPECT_EQ(r.runCommand, "");
  EXPECT_FALSE(r.cancelled);
}

TEST_F(UnPackDisksTest, ADamagedLaterDiskKeepsWhatCameBefore) {
  const std::string third = base_ + ".003";
  std::string bytes = Slurp(third);
  bytes[10] ^= 0x10;
  Put(fs::relative(third, dir_).string(), bytes);
  const ExtractResult r = Run(first_);
  EXPECT_FALSE(r.checksumOk);
  EXPECT_FALSE(Tree(target_).empty());
  EXPECT_TRUE(seen_.prompts.empty());
}

TEST_F(UnPackDisksTest, EachDiskFileIsCheckedByItsOwnRecord) {
  EXPECT_TRUE(CheckPackageIntegrity(first_).Verified());
  EXPECT_EQ(CheckPackageIntegrity(first_).files.size(), static_cast<std::size_t>(disks_));
  // Past the checksum (as above its size limit), a change in disk 2.
  const std::string second = base_ + ".002";
  std::string bytes = ChecksumAlwaysPassing(Slurp(second));
  bytes[100] ^= 0x02;
  Put(fs::relative(second, dir_).string(), bytes);
  const ExtractResult r = Run(first_);
  EXPECT_TRUE(r.checksumOk);
  EXPECT_TRUE(r.damaged);
  EXPECT_NE(r.damage.find(second + ": its bytes do not match"), std::string::npos) << r.damage;
  EXPECT_EQ(r.runCommand, "");
  const IntegrityReport report = CheckPackageIntegrity(first_);
  ASSERT_EQ(report.files.size(), 2u) << "the check ends at the damaged file";
  EXPECT_EQ(report.files[0].error, "");
  EXPECT_NE(report.files[1].error, "");
}

// Another build of the same inputs (here another date): its disk 2 fits
// every other check, and would install files that are half of each.
TEST_F(UnPackDisksTest, ADiskOfAnotherSetIsAskedForAgainOrRefused) {
  const std::string second = base_ + ".002";
  const std::string ours = Slurp(second);
  PackOptions o = Options();
  fs::create_directories(dir_ / "other");
  o.outPath = (dir_ / "other" / "setup.exe").string();
  o.fixedDate = kDate + 0x10000;
  o.headerFlags = hfSpan;
  o.splitSize = 20000;
  o.diskSize = 30000;
  o.files = {Source("a.bin", Noise(50000, 2), "a.bin"), Source("b.txt", std::string(40000, 'b'), "b.txt"),
             Source("engine.exe", Noise(20000, 3), "engine.exe", true, "-x")};
  ASSERT_TRUE(WritePackage(o).ok);
  const std::string theirs = Slurp(o.outPath + ".002");
  ASSERT_EQ(theirs.size(), ours.size()) << "the same layout, other bytes";

  for (const bool unattended : {false, true}) {
    SCOPED_TRACE(unattended ? "unattended" : "asked");
    fs::remove_all(target_);
    seen_ = {};
    Put(fs::relative(second, dir_).string(), theirs);
    unattended_ = unattended;
    // Asked, the user puts the right disk in.
    answer_ = [&](int) {
      Put(fs::relative(second, dir_).string(), ours);
      return true;
    };
    const ExtractResult r = Run(first_);
    if (unattended) {
      EXPECT_TRUE(seen_.prompts.empty());
      EXPECT_TRUE(r.damaged);
      EXPECT_NE(r.damage.find(second + ": a disk of another set"), std::string::npos) << r.damage;
      EXPECT_EQ(r.runCommand, "");
    } else {
      ASSERT_EQ(seen_.prompts.size(), 1u);
      EXPECT_EQ(seen_.prompts[0], "Please insert <B>DISK #2</B>");
      EXPECT_FALSE(r.damaged) << r.damage;
      EXPECT_EQ(Tree(target_), All());
      EXPECT_EQ(r.runCommand, "engine.exe*-x");
    }
  }
  Put(fs::relative(second, dir_).string(), theirs);
  const IntegrityReport report = CheckPackageIntegrity(first_);
  ASSERT_EQ(report.files.size(), 2u);
  EXPECT_NE(report.files[1].error.find("a disk of another set"), std::string::npos) << report.files[1].error;
  EXPECT_EQ(report.files[1].path, second);
}

TEST(UnPackRead, ReadChunkedStopsAtTheEndOfTheFile) {
  const fs::path p = fs::temp_directory_path() / ("havrek_chunked_" + std::to_string(plat::ProcessId()));
  const std::string bytes = Noise(200000, 9);
  std::ofstream(p, std::ios::binary) << bytes;
  const plat::File f(p.string(), plat::OpenMode::Read);
  std::string buffer(300000, '\0');
  EXPECT_EQ(ReadChunked(f, buffer.data(), 0), 0);
  EXPECT_EQ(ReadChunked(f, buffer.data(), 150000), 150000);
  EXPECT_EQ(ReadChunked(f, buffer.data() + 150000, 150000), 50000);
  EXPECT_EQ(buffer.substr(0, 200000), bytes);
  EXPECT_EQ(ReadChunked(plat::File(), buffer.data(), 10), -1);
  fs::remove(p);
}

TEST(UnPackText, SaveFailureTextListsTheFacts) {
  EXPECT_EQ(SaveFailureText("Disk full.", 10, 4, 123456),
            "Disk full.<P>  Data Size: <T>10 Bytes<P>  File Size:  <T>4 Bytes<P>  Bytes Free: <T>123456 Bytes");
}

}  // namespace
}  // namespace havrek
