#include "package/PackWriter.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "package/Integrity.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"
#include "platform/Platform.h"
#include "util/HSUB.h"
#include "util/UtilsSystem.h"
#include "TestFolder.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;
using test::Slurp;

std::uint32_t WordAt(const std::string& s, std::size_t at) {
  std::uint32_t w;
  std::memcpy(&w, s.data() + at, 4);
  return w;
}

std::string Inflate(const std::string& z) {
  z_stream s{};
  inflateInit(&s);
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(z.data()));
  s.avail_in = static_cast<uInt>(z.size());
  std::string out;
  char buf[65536];
  int rc;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buf);
    s.avail_out = sizeof buf;
    rc = inflate(&s, Z_NO_FLUSH);
    out.append(buf, sizeof buf - s.avail_out);
  } while (rc == Z_OK);
  inflateEnd(&s);
  return rc == Z_STREAM_END ? out : "<bad zlib stream>";
}

struct Extracted {
  std::string data;
  std::int32_t date = 0;
  int pieces = 0;
};

// Walks a package (or a disk set from its first file) the way the stub's
// extraction does, so the writer is checked against the format, not itself.
struct Walk {
  std::map<std::string, Extracted> files;
  std::string run;
  int entries = 0, rawEntries = 0, disks = 0;
  bool checksumsPass = true;
  // One per integrity record met: it matches the whole file, and it is the
  // file's last block.
  std::vector<bool> records;
  std::vector<TPackageHeader> headers;
};

Walk WalkPackage(const std::string& first) {
  Walk w;
  std::string base = first;
  if (base.ends_with(".001")) base.resize(base.size() - 4);
  std::string path = first;
  int blocks = 0;
  for (int disk = 1;; ++disk) {
    TPackageHeader h{};
    ReadPackageHeader(path, h);
    w.headers.push_back(h);
    ++w.disks;
    if (!ChecksumPasses(h.checksum, PackageChecksum(path, h.trailerLength))) w.checksumsPass = false;
    const std::string bytes = Slurp(path);
    const plat::File f(path, plat::OpenMode::Read);
    const std::int64_t end = PackageEnd(f, static_cast<std::int64_t>(bytes.size()));
    std::int64_t pos = h.payloadStart;
    do {
      if (pos + 4 > end) return w;
      const std::int32_t length = static_cast<std::int32_t>(WordAt(bytes, static_cast<std::size_t>(pos)));
      const std::int64_t n = length < 0 ? -static_cast<std::int64_t>(length) : length;
      std::string block = bytes.substr(static_cast<std::size_t>(pos + 4), static_cast<std::size_t>(n));
      const std::int64_t at = pos;
      pos += n + 4;
      if (++blocks <= h.blockCount) continue;
      if (IsIntegrityRecord(length, block.data(), n)) {
        // The whole file up to the package end, with the fields signing
        // changes, the digest itself and the header's checksum as zero.
        std::string covered = bytes.substr(0, static_cast<std::size_t>(end));
        const auto zero = [&covered](std::int64_t from, std::size_t n) {
          if (from >= 0) covered.replace(static_cast<std::size_t>(from), n, n, '\0');
        };
        if (covered.starts_with("MZ")) {
          zero(PeChecksumOffset, 4);
          zero(CertificateEntryOffset(covered), 8);
        }
        zero(at + 4 + 1 + 18, plat::kSha256Size);
        zero(end - 74 + 16, 4);
        plat::Sha256 hash;
        hash.update(covered.data(), static_cast<std::int64_t>(covered.size()));
        unsigned char digest[plat::kSha256Size] = {};
        EXPECT_TRUE(hash.final(digest));
        w.records.push_back(block.substr(1, 18) == "havrek-integrity/2" &&
                            block.compare(1 + 18, plat::kSha256Size, reinterpret_cast<const char*>(digest),
                                          plat::kSha256Size) == 0 &&
                            end - pos == 74);
        continue;
      }
      ++w.entries;
      if (length <= 0) ++w.rawEntries;
      const std::string content = length > 0 ? Inflate(block) : block;
      const std::size_t nul = content.find('\0');
      if (nul == std::string::npos) continue;
      const std::string header = content.substr(0, nul);
      std::string name = SUB::GetField(header, 0);
      if (const auto star = name.find('*'); star != std::string::npos) {
        w.run = name;
        name.resize(star);
      }
      Extracted& e = w.files[name];
      e.data += content.substr(nul + 1);
      e.date = std::stoi(SUB::GetField(header, 1, "0"));
      ++e.pieces;
    } while (end - pos > 74);
    if (!(h.headerFlags & hfMoreDisks)) return w;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d", disk + 1);
    path = base + suffix;
  }
}

PackFile File(const std::string& source, const std::string& target, bool run = false,
              const std::string& args = "") {
  PackFile f;
  f.source = source;
  f.target = target;
  f.run = run;
  f.runArgs = args;
  return f;
}

class PackWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("packw");
    std::string stub(4096, '\0');
    stub.replace(0, 2, "MZ");
    stub.replace(256, 4, std::string("PE\0\0", 4));
    for (std::size_t i = 600; i < stub.size(); ++i) stub[i] = static_cast<char>(i * 31);
    stub_ = Put("stub.exe", stub);
    text_ = Put("readme.txt", std::string(5000, 'a') + "end of text\r\n");
    std::string noise(70000, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    noise_ = Put("engine.bin", noise);
    empty_ = Put("empty.dat", "");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Put(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  PackOptions Options() const {
    PackOptions o;
    o.stubPath = stub_;
    o.outPath = Path("setup.exe");
    o.files = {File(text_, "readme.txt"), File(noise_, "Engine.exe", true, "/go fast"),
               File(empty_, "data\\empty.dat")};
    return o;
  }
  void ExpectFilesBack(const Walk& w) const {
    ASSERT_EQ(w.files.size(), 3u);
    EXPECT_EQ(w.files.at("readme.txt").data, Slurp(text_));
    EXPECT_EQ(w.files.at("Engine.exe").data, Slurp(noise_));
    EXPECT_EQ(w.files.at("data\\empty.dat").data, "");
    EXPECT_EQ(w.run, "Engine.exe*/go fast");
  }

  fs::path dir_;
  std::string stub_, text_, noise_, empty_;
};

TEST_F(PackWriterTest, EveryOptionReadsBackThroughTheReader) {
  struct Case {
    const char* name;
    std::function<void(PackOptions&)> set;
    std::function<void(const TGFileInfo&, const Walk&)> check;
  };
  const std::uint32_t date = (65u << 25) | (6u << 21) | (15u << 16) | (13u << 11) | (30u << 5) | 10u;
  const std::vector<Case> cases = {
      {"defaults", [](PackOptions&) {},
       [](const TGFileInfo& i, const Walk& w) {
         EXPECT_EQ(i.Header().format, 1);
         EXPECT_EQ(i.Header().blockCount, 2);
         EXPECT_EQ(i.Header().headerFlags, 0);
         EXPECT_EQ(i.UpdateRecord(), "|http://|.info|.exe|0|0|");
         EXPECT_EQ(i.InternetRecord(), "");
         EXPECT_EQ(w.rawEntries, 2);  // the noise does not shrink; the empty file neither
       }},
      {"header flags",
       [](PackOptions& o) { o.headerFlags = hfAlwaysConfirm | hfSpan | hfActivityBar | hfLogFile | hfMoreDisks; },
       [](const TGFileInfo& i, const Walk&) {
         EXPECT_TRUE(i.AlwaysConfirm() && i.Span() && i.ActivityBar() && i.LogFile());
         EXPECT_FALSE(i.MoreDisks());  // only the writer sets it, between disks
       }},
      {"flag bytes",
       [](PackOptions& o) { o.internetSetup = o.confirmDownload = o.hasAgent = o.autoUpdate = true; },
       [](const TGFileInfo& i, const Walk&) {
         EXPECT_TRUE(i.InternetSetup() && i.ConfirmDownload() && i.HasAgent() && i.AutoUpdate());
       }},
      {"update record",
       [](PackOptions& o) {
         o.update = {"http://example.test/updates", "cfg\\App.info", "AppAgent.exe", EncodeToken("BUILD-7"), true};
       },
       [](const TGFileInfo& i, const Walk&) {
         EXPECT_EQ(i.InfoBase(), "http://example.test/updates");
         EXPECT_EQ(i.InfoFileName(), "App.info");
         EXPECT_EQ(i.OriginalFileName(), "App.original");
         EXPECT_EQ(i.AgentFileName(), "AppAgent.exe");
         EXPECT_EQ(i.UpdateToken(), "BUILD-7");
         EXPECT_TRUE(i.Silent());
       }},
      {"internet record",
       [](PackOptions& o) {
         o.withInternetRecord = true;
         o.internet = {"http://example.test/dl", "Full.exe", true, EncodeToken("NET-1"), "987654"};
       },
       [](const TGFileInfo& i, const Walk&) {
         EXPECT_EQ(i.Header().blockCount, 3);
         EXPECT_EQ(i.InternetBaseUrl(), "http://example.test/dl");
         EXPECT_EQ(i.InternetFileName(), "Full.exe");
         EXPECT_TRUE(i.AlwaysDownload());
         EXPECT_EQ(i.InternetToken(), "NET-1");
         EXPECT_EQ(i.InternetSizeText(), "987654");
       }},
      {"language block", [](PackOptions& o) { o.languageBlock = "\x02\x01" "English\x01s0=Hi\x01\x02"; },
       [](const TGFileInfo& i, const Walk&) { EXPECT_EQ(i.LanguageBlock(), "\x02\x01" "English\x01s0=Hi\x01\x02"); }},
      {"stored raw", [](PackOptions& o) { o.level = 0; },
       [](const TGFileInfo&, const Walk& w) { EXPECT_EQ(w.rawEntries, w.entries); }},
      {"fastest level", [](PackOptions& o) { o.level = 1; },
       [](const TGFileInfo&, const Walk& w) { EXPECT_EQ(w.rawEntries, 2); }},
      {"split size",
       [](PackOptions& o) { o.splitSize = 1000; },
       [](const TGFileInfo& i, const Walk& w) {
         EXPECT_EQ(w.files.at("readme.txt").pieces, 6);
         EXPECT_EQ(w.files.at("Engine.exe").pieces, 70);
         EXPECT_EQ(i.Header().fileCount, 77u);
       }},
      {"fixed date", [date](PackOptions& o) { o.fixedDate = date; },
       [date](const TGFileInfo&, const Walk& w) {
         // 2044 and later set the top bit, read back as a negative number.
         EXPECT_EQ(w.files.at("readme.txt").date, static_cast<std::int32_t>(date));
         EXPECT_LT(w.files.at("readme.txt").date, 0);
       }},
      {"extra space", [](PackOptions& o) { o.extraSpace = 1 << 20; },
       [](const TGFileInfo& i, const Walk&) {
         EXPECT_EQ(i.Header().space[0], 5013u + 70000u + (1u << 20));
         EXPECT_EQ(i.Header().space[4], 8192u + 73728u + (1u << 20));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackOptions o = Options();
    c.set(o);
    const PackResult r = WritePackage(o);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.written, std::vector<std::string>{o.outPath});

    const TGFileInfo info(o.outPath);
    const Walk w = WalkPackage(o.outPath);
    EXPECT_EQ(info.Header().magic, PackageMagic);
    EXPECT_EQ(info.Header().payloadStart, 4096 + 8 + o.languageBlock.size() + info.UpdateRecord().size() +
                                              (o.withInternetRecord ? 4 + info.InternetRecord().size() : 0));
    EXPECT_EQ(info.Header().fileCount, static_cast<std::uint32_t>(r.entries));
    EXPECT_EQ(w.entries, r.entries);
    EXPECT_TRUE(w.checksumsPass);
    EXPECT_EQ(w.disks, 1);
    EXPECT_TRUE(HasIntegrityMark(info.Header()));
    EXPECT_EQ(w.records, std::vector<bool>{true});
    ExpectFilesBack(w);
    c.check(info, w);
  }
}

TEST_F(PackWriterTest, SpaceTableRoundsEachFileToClusters) {
  const TGFileInfo info = [&] {
    const PackResult r = WritePackage(Options());
    EXPECT_TRUE(r.ok) << r.error;
    return TGFileInfo(Path("setup.exe"));
  }();
  const std::uint32_t expected[SpaceTableSize] = {75013, 75264, 75776, 77824, 81920, 81920, 98304, 131072, 196608};
  for (int i = 0; i < SpaceTableSize; ++i) EXPECT_EQ(info.Header().space[i], expected[i]) << i;
  EXPECT_EQ(info.SpaceNeededFor(4096), 81920.0);
}

TEST_F(PackWriterTest, BuildLengthIsTheFileSizeOrLeftZero) {
  PackOptions o = Options();
  ASSERT_TRUE(WritePackage(o).ok);
  std::string bytes = Slurp(o.outPath);
  EXPECT_EQ(WordAt(bytes, 248), 0u);
  EXPECT_EQ(WordAt(bytes, 252), bytes.size());
  EXPECT_EQ(ReadBuildLength(bytes), static_cast<std::int64_t>(bytes.size()));

  o.writeBuildLength = false;
  ASSERT_TRUE(WritePackage(o).ok);
  bytes = Slurp(o.outPath);
  EXPECT_EQ(ReadBuildLength(bytes), 0);
  EXPECT_TRUE(WalkPackage(o.outPath).checksumsPass);
}

TEST_F(PackWriterTest, AByteChangedInThePayloadFailsTheChecksum) {
  const PackOptions o = Options();
  ASSERT_TRUE(WritePackage(o).ok);
  std::string bytes = Slurp(o.outPath);
  bytes[bytes.size() / 2] ^= 0x40;
  const std::string damaged = Put("damaged.exe", bytes);
  TPackageHeader h{};
  ReadPackageHeader(damaged, h);
  EXPECT_FALSE(ChecksumPasses(h.checksum, PackageChecksum(damaged, h.trailerLength)));
}

TEST_F(PackWriterTest, DiskSetHasOneHeaderAndChecksumPerFile) {
  PackOptions o = Options();
  o.headerFlags = hfSpan;
  o.splitSize = 30000;
  o.diskSize = 30000;
  const PackResult r = WritePackage(o);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_GE(r.written.size(), 4u);
  EXPECT_EQ(r.written[0], o.outPath);
  EXPECT_EQ(r.written[1], o.outPath + ".001");
  EXPECT_EQ(r.written[2], o.outPath + ".002");

  // The program the user starts carries the header blocks and its record
  // but no entries.
  const TGFileInfo launcher(o.outPath);
  EXPECT_TRUE(launcher.Span());
  EXPECT_FALSE(launcher.MoreDisks());
  EXPECT_EQ(launcher.Header().fileCount, static_cast<std::uint32_t>(r.entries));
  EXPECT_EQ(launcher.UpdateRecord(), "|http://|.info|.exe|0|0|");
  EXPECT_EQ(fs::file_size(o.outPath), launcher.Header().payloadStart + IntegrityBlockSize + 74u);
  EXPECT_EQ(WalkPackage(o.outPath).entries, 0);
  EXPECT_EQ(WalkPackage(o.outPath).records, std::vector<bool>{true});

  const Walk w = WalkPackage(o.outPath + ".001");
  EXPECT_EQ(w.disks, static_cast<int>(r.written.size()) - 1);
  EXPECT_TRUE(w.checksumsPass);
  EXPECT_EQ(w.entries, r.entries);
  EXPECT_EQ(w.records, std::vector<bool>(r.written.size() - 1, true)) << "one record per disk file";
  ExpectFilesBack(w);
  EXPECT_GT(w.files.at("Engine.exe").pieces, 1);
  for (std::size_t k = 1; k < r.written.size(); ++k) {
    SCOPED_TRACE(r.written[k]);
    const std::string bytes = Slurp(r.written[k]);
    EXPECT_LE(bytes.size(), 30000u);
    const TPackageHeader& h = w.headers[k - 1];
    EXPECT_EQ(h.magic, PackageMagic);
    EXPECT_TRUE(HasIntegrityMark(h));
    EXPECT_EQ(h.fileCount, static_cast<std::uint32_t>(r.entries));
    EXPECT_EQ((h.headerFlags & hfMoreDisks) != 0, k + 1 < r.written.size());
    EXPECT_EQ(IsExecutableImage(bytes), k == 1);
    if (k == 1) {
      EXPECT_EQ(ReadBuildLength(bytes), static_cast<std::int64_t>(bytes.size()));
    }
  }
}

TEST_F(PackWriterTest, DiskSizeTooSmallIsRefused) {
  PackOptions o = Options();
  o.diskSize = 4200;
  const PackResult r = WritePackage(o);
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("disk size"), std::string::npos) << r.error;
}

TEST_F(PackWriterTest, BadInputIsRefusedWithAReason) {
  std::string badBuildLength = Slurp(stub_);
  badBuildLength[252] = 1;
  std::string noPe = Slurp(stub_);
  noPe[258] = 'x';
  const std::string shortStub = Put("short.exe", "MZ" + std::string(300, '\0'));
  const std::string filledStub = Put("filled.exe", badBuildLength);
  const std::string noPeStub = Put("nope.exe", noPe);
  const std::string textStub = Put("text.exe", std::string(5000, 'x'));

  struct Case {
    const char* name;
    std::function<void(PackOptions&)> set;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing stub", [this](PackOptions& o) { o.stubPath = Path("none.exe"); }, "cannot open the stub"},
      {"short stub", [&](PackOptions& o) { o.stubPath = shortStub; }, "shorter than 512"},
      {"no MZ", [&](PackOptions& o) { o.stubPath = textStub; }, "no \"MZ\""},
      {"no PE", [&](PackOptions& o) { o.stubPath = noPeStub; }, "no PE header"},
      {"build length set", [&](PackOptions& o) { o.stubPath = filledStub; }, "248..255"},
      {"missing file", [this](PackOptions& o) { o.files.push_back(File(Path("gone.txt"), "gone.txt")); }, "gone.txt"},
      {"folder as file", [this](PackOptions& o) { o.files.push_back(File(dir_.string(), "dir")); }, "cannot open"},
      {"bad target", [this](PackOptions& o) { o.files.push_back(File(text_, "..\\evil.txt")); }, "\"..\""},
      {"twice", [this](PackOptions& o) { o.files.push_back(File(text_, "README.TXT")); }, "twice"},
      {"two programs", [this](PackOptions& o) { o.files.push_back(File(text_, "b.exe", true)); }, "only one"},
      {"bar in arguments", [](PackOptions& o) { o.files[1].runArgs = "a|b"; }, "\"|\""},
      {"bar in record", [](PackOptions& o) { o.update.infoBase = "http://a|b"; }, "update record"},
      {"level", [](PackOptions& o) { o.level = 10; }, "level"},
      {"split size", [](PackOptions& o) { o.splitSize = 0; }, "split size"},
      {"huge split size", [](PackOptions& o) { o.splitSize = MaxSplitSize + 1; }, "split size"},
      {"no output", [](PackOptions& o) { o.outPath.clear(); }, "output"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PackOptions o = Options();
    c.set(o);
    const PackResult r = WritePackage(o);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_TRUE(r.written.empty());
  }
}

// Every byte of every file a build wrote, in order.
std::vector<std::string> Written(const PackResult& r) {
  std::vector<std::string> bytes;
  for (const std::string& path : r.written) bytes.push_back(Slurp(path));
  return bytes;
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(PackWriterTest, EveryNumberOfThreadsWritesTheSameBytes) {
  // Text that shrinks, in pieces that a small disk cuts to fit: the pieces
  // stored ahead of a cut are planned again from where it fell.
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " of the readme\r\n";
  const std::string big = Put("big.txt", text);
  struct Case {
    const char* name;
    std::function<void(PackOptions&)> set;
  };
  const std::vector<Case> cases = {
      {"one file", [](PackOptions&) {}},
      {"split", [](PackOptions& o) { o.splitSize = 1000; }},
      {"stored raw", [](PackOptions& o) { o.level = 0; o.splitSize = 7000; }},
      {"disk set, raw pieces cut", [](PackOptions& o) { o.splitSize = 30000; o.diskSize = 30000; }},
      {"disk set, packed pieces cut", [](PackOptions& o) { o.splitSize = 20000; o.diskSize = 9000; o.level = 9; }},
      {"disk set, one-byte pieces", [](PackOptions& o) { o.splitSize = 1; o.diskSize = 6000; o.files.resize(1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> first;
    for (int jobs : {1, 2, 3, 8}) {
      SCOPED_TRACE(jobs);
      PackOptions o = Options();
      o.files.insert(o.files.begin() + 1, File(big, "docs\\big.txt"));
      c.set(o);
      o.jobs = jobs;
      std::vector<PackProgress> seen;
      o.progress = [&seen](const PackProgress& p) { seen.push_back(p); };
      const PackResult r = WritePackage(o);
      ASSERT_TRUE(r.ok) << r.error;
      const Walk w = WalkPackage(r.written.size() > 1 ? r.written[1] : r.written[0]);
      EXPECT_TRUE(w.checksumsPass);
      EXPECT_EQ(w.entries, r.entries);
      ASSERT_EQ(w.files.size(), o.files.size());
      for (const PackFile& f : o.files) EXPECT_TRUE(w.files.at(f.target).data == Slurp(f.source)) << f.target;
      ASSERT_EQ(static_cast<std::int64_t>(seen.size()), r.entries);
      EXPECT_EQ(seen.back().files, static_cast<std::int64_t>(o.files.size()));
      EXPECT_EQ(seen.back().files, seen.back().totalFiles);
      EXPECT_EQ(seen.back().bytesIn, seen.back().totalIn);
      if (jobs == 1) first = Written(r);
      else EXPECT_TRUE(Written(r) == first) << "differs from the build on one thread";
    }
  }
}

TEST_F(PackWriterTest, AFileThatCannotBeReadFailsTheBuildAndLeavesNothing) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i) names.push_back(Put("part" + std::to_string(i) + ".dat", std::string(2000, 'a' + i % 26)));
  const auto before = Listing(dir_);
  for (int jobs : {1, 2, 4}) {
    SCOPED_TRACE(jobs);
    fs::resize_file(names[20], 2000);
    PackOptions o = Options();
    o.jobs = jobs;
    o.splitSize = 1000;
    for (int i = 0; i < 30; ++i) o.files.push_back(File(names[i], "p\\" + std::to_string(i)));
    // Far past what the threads may have read ahead when the first entry is
    // placed: the file shrinks in the middle of the build.
    o.progress = [&](const PackProgress&) { fs::resize_file(names[20], 500); };
    const PackResult r = WritePackage(o);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cannot read " + names[20]);
    EXPECT_TRUE(r.written.empty());
    EXPECT_EQ(Listing(dir_), before);
  }
}

// Out of memory on a thread that compresses: the build fails with the
// reason instead of ending the process or waiting for the thread forever.
TEST_F(PackWriterTest, NoMemoryForAPieceFailsTheBuild) {
  const std::string huge = Path("huge.bin");
  { std::ofstream(huge, std::ios::binary); }
  fs::resize_file(huge, 768 << 20);  // sparse: no room taken on the disk
  const auto before = Listing(dir_);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);
    long pages = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (256 << 20);
    const rlimit rl{limit, limit};
    if (pages == 0 || setrlimit(RLIMIT_AS, &rl) != 0) _exit(3);
    // An emulator (qemu-user running the -m32 build) reserves its guest's
    // address space before the limit is set, so the limit holds nothing.
    if (void* probe = std::malloc(std::size_t{512} << 20)) {
      std::free(probe);
      _exit(3);
    }
    PackOptions o = Options();
    o.jobs = 2;
    o.splitSize = MaxSplitSize;
    o.files.push_back(File(huge, "huge.bin"));
    const PackResult r = WritePackage(o);
    _exit(!r.ok && r.error.find("not enough memory") != std::string::npos ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) GTEST_SKIP() << "cannot limit the address space here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  EXPECT_EQ(Listing(dir_), before);
}

TEST(PackWriterDates, SecondsSince1970BecomeAUtcDosDate) {
  auto dos = [](int y, int mo, int d, int h, int mi, int s) {
    return static_cast<std::uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
  };
  const std::vector<std::pair<std::string, std::uint32_t>> good = {
      {"0", dos(1980, 1, 1, 0, 0, 0)},           {"315532800", dos(1980, 1, 1, 0, 0, 0)},
      {"315532801", dos(1980, 1, 1, 0, 0, 0)},   {"951782400", dos(2000, 2, 29, 0, 0, 0)},
      {"1700000000", dos(2023, 11, 14, 22, 13, 20)}, {"4354819199", dos(2107, 12, 31, 23, 59, 58)},
  };
  for (const auto& [text, expected] : good) {
    std::uint32_t date = 0;
    std::string error;
    EXPECT_TRUE(DosDateFromEpoch(text, date, error)) << text << ": " << error;
    EXPECT_EQ(date, expected) << text;
  }
  for (const std::string text : {"", "-1", "+5", "1.5", " 1", "12x", "4354819200", "9999999999999999"}) {
    std::uint32_t date = 7;
    std::string error;
    EXPECT_FALSE(DosDateFromEpoch(text, date, error)) << text;
    EXPECT_NE(error.find("\"" + text + "\""), std::string::npos) << error;
    EXPECT_EQ(date, 7u);
  }
}

TEST(PackWriterNames, TargetNamesMustStayInsideTheTargetFolder) {
  const std::vector<std::pair<std::string, std::string>> good = {
      {"setup.exe", "setup.exe"}, {"sub/dir/a.txt", "sub\\dir\\a.txt"}, {"a..b.txt", "a..b.txt"},
      {"CONSOLE.txt", "CONSOLE.txt"}, {"COM10", "COM10"}, {".hidden", ".hidden"},
      {"COM\xB9x", "COM\xB9x"}, {"LPT\xB4", "LPT\xB4"}};
  for (const auto& [name, normalized] : good) {
    std::string out, error;
    EXPECT_TRUE(NormalizeTargetName(name, out, error)) << name << ": " << error;
    EXPECT_EQ(out, normalized);
  }
  const std::vector<std::string> bad = {"",         "\\abs.txt",  "/abs.txt", "\\\\server\\share\\a", "C:\\x.txt",
                                        "C:x.txt",  "a.txt:ads",  "..",       "sub\\..\\..\\x",      "./a",
                                        "a\\\\b",   "dir\\",      "CON",      "nul.txt",             "Com1.log",
                                        "lpt9",     "a*b",        "a?b",      "a|b",                 "a\"b",
                                        "tab\tname", "trail.",    "trail ",              "COM\xB9",
                                        "com\xB2.txt", "LpT\xB3", "lpt\xB9 .log",       "sub\\Com\xB3"};
  for (const std::string& name : bad) {
    std::string out, error;
    EXPECT_FALSE(NormalizeTargetName(name, out, error)) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

TEST(PackWriterLanguage, PlainFileBecomesTheLanguageBlock) {
  std::string block, error;
  ASSERT_TRUE(LanguageBlockFromText("; texts\r\n[English]\r\ns0=My Setup\r\n  s1=Unpacking...\r\n\t s2  =\t Wait \r\n"
                                    "s3=\r\n\r\n[Deutsch]\nBtnText=|&OK|&Abbrechen|\n[Empty]\n",
                                    block, error))
      << error;
  EXPECT_EQ(block, "\x02\x01" "English\x01s0=My Setup\x01s1=Unpacking...\x01s2=Wait \x01s3=\x01\x02"
                   "\x01" "Deutsch\x01" "BtnText=|&OK|&Abbrechen|\x01\x02"
                   "\x01" "Empty\x01\x02");
  EXPECT_EQ(SUB::FieldCount(block), 3);
  const std::string german = SUB::GetField(block, 1);
  EXPECT_EQ(SUB::GetField(german, 0), "Deutsch");
  EXPECT_EQ(SUB::GetValue(german, "BtnText", "", ""), "|&OK|&Abbrechen|");

  ASSERT_TRUE(LanguageBlockFromText("", block, error));
  EXPECT_EQ(block, "");

  for (const std::string& bad : {std::string("s0=x\n"), std::string("[English]\nno equals\n"),
                                 std::string("[]\n"), std::string("[English]\ns0=a\x01" "b\n"),
                                 std::string("[English]\n  = x\n")}) {
    EXPECT_FALSE(LanguageBlockFromText(bad, block, error)) << bad;
    EXPECT_NE(error.find("line"), std::string::npos);
  }
}

TEST(PackWriterInform, PageCarriesTheTokenBetweenTheFirstTwoBars) {
  const std::string token = EncodeToken("BUILD-7");
  const std::string page = MakeInformPage(token, "New|Version", false);
  EXPECT_EQ(SUB::GetField(page, 0), token);
  EXPECT_EQ(page.substr(page.find("|||") + 3), "New|Version");

  const std::string scrambled = MakeInformPage(token, "New|Version", true);
  EXPECT_TRUE(scrambled.starts_with(kScrambleMarker));
  EXPECT_EQ(ScrambleText(scrambled, false, false), page);
}

#ifdef HAVREK_PACK_EXE
class PackToolTest : public PackWriterTest {
 protected:
  // env: "NAME=value ..." set for the tool alone.
  int Tool(const std::string& args, std::string* out = nullptr, const std::string& env = "") {
    // Bounded, so that a tool stuck on a FIFO fails the test instead of hanging it.
    const std::string cmd = env + " timeout 20 '" + HAVREK_PACK_EXE + "' " + args + " >'" + Path("out.txt") + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    if (out) *out = Slurp(Path("out.txt"));
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
};

TEST_F(PackToolTest, BuildsAPackageFromItsCommandLine) {
  Put("lang.txt", "[English]\ns0=Tool Setup\n");
  std::string out;
  const std::string setup = Path("tool.exe");
  ASSERT_EQ(Tool("build --stub '" + stub_ + "' --out '" + setup + "' --language '" + Path("lang.txt") +
                     "' --file '" + text_ + "' --run '" + noise_ + "=Engine.exe' --run-args '/go fast'" +
                     " --file='" + empty_ + "=data/empty.dat' --always-confirm --log --has-agent" +
                     " --agent Ag.exe --update-token T-9 --silent --inet-base http://h/ --inet-size 2K" +
                     " --level 6 --split-size 10K --date 2001-02-03T04:05:06",
                 &out),
            0)
      << out;
  const TGFileInfo info(setup);
  EXPECT_EQ(info.Header().blockCount, 3);
  EXPECT_TRUE(info.AlwaysConfirm() && info.LogFile() && info.HasAgent() && info.Silent());
  EXPECT_FALSE(info.Span() || info.ActivityBar() || info.InternetSetup());
  EXPECT_EQ(info.AgentFileName(), "Ag.exe");
  EXPECT_EQ(info.UpdateToken(), "T-9");
  EXPECT_EQ(info.InternetRecord(), "|http://h/||0||2048|");
  EXPECT_EQ(SUB::GetValue(SUB::GetField(info.LanguageBlock(), 0), "s0", "", ""), "Tool Setup");
  const Walk w = WalkPackage(setup);
  EXPECT_TRUE(w.checksumsPass);
  ExpectFilesBack(w);
  EXPECT_EQ(w.files.at("readme.txt").date, static_cast<std::int32_t>((21u << 25 | 2u << 21 | 3u << 16) | (4u << 11 | 5u << 5 | 3u)));

  ASSERT_EQ(Tool("encode-token T-9", &out), 0);
  ASSERT_EQ(Tool("decode-token " + out.substr(0, out.find('\n')), &out), 0);
  EXPECT_EQ(out, "T-9\n");
  ASSERT_EQ(Tool("info-page --out '" + Path("page.inf") + "' --token T-9 --text 'Hello|World' --scramble", &out), 0)
      << out;
  const std::string page = ScrambleText(Slurp(Path("page.inf")), false, false);
  EXPECT_TRUE(SameToken(SUB::GetField(page, 0), info.UpdateTokenRaw()));
}

TEST_F(PackToolTest, RefusesBadInputWithoutLeavingAPackage) {
  const std::string setup = Path("bad.exe");
  const std::string base = "build --stub '" + stub_ + "' --out '" + setup + "' ";
  struct Case {
    std::string args;
    int rc;
    const char* message;
    std::string env = {};
  };
  const std::vector<Case> cases = {
      {"", 2, "no command"},
      {"frobnicate", 2, "unknown command"},
      {base + "--file '" + text_ + "=C:\\win.ini'", 1, "drive letter"},
      {base + "--file '" + Path("missing.txt") + "'", 1, "cannot open"},
      {base + "--level 12", 2, "--level"},
      {base + "--split-size 12Q", 2, "not a size"},
      {base + "--run-args x", 2, "--run-args needs --run"},
      {base + "--bogus", 2, "unknown build option"},
      {base + "--span=1", 2, "takes no value"},
      {base + "--agent '..\\x.exe'", 2, "--agent"},
      {base + "--agent sub/x.exe", 2, "--agent"},
      {base + "--agent COM1.exe", 2, "--agent"},
      {base + "--inet-file 'C:x.exe'", 2, "--inet-file"},
      {base + "--inet-file 'a\\b'", 2, "--inet-file"},
      {base + "--info-name ''", 2, "--info-name"},
      {base + "--info-name /etc/x.info", 2, "--info-name"},
      {"build --stub '" + text_ + "' --out '" + setup + "'", 1, "not a stub image"},
      {"build --stub '" + stub_ + "' --out '" + stub_ + "'", 1, "is an input of the build"},
      {"decode-token bbbb", 1, "not a valid"},
      {base + "--jobs 0", 2, "--jobs must be 1 to 256"},
      {base + "--jobs 257", 2, "--jobs must be 1 to 256"},
      {base + "--jobs=two", 2, "--jobs must be 1 to 256"},
      {base, 2, "SOURCE_DATE_EPOCH: \"1.7e9\" is not a number", "SOURCE_DATE_EPOCH=1.7e9"},
      // Empty counts as unset; blanks are no number.
      {base, 2, "SOURCE_DATE_EPOCH: \" \" is not a number", "SOURCE_DATE_EPOCH=' '"},
      {base, 2, "SOURCE_DATE_EPOCH: \"1700000000000\" is after 2107", "SOURCE_DATE_EPOCH=1700000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env + " " + c.args);
    std::string out;
    EXPECT_EQ(Tool(c.args, &out, c.env), c.rc) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(setup));
  }
  EXPECT_EQ(Slurp(stub_).substr(0, 2), "MZ");
  std::string help;
  EXPECT_EQ(Tool("--help", &help), 0);
  for (const char* option : {"--stub", "--file", "--run-args", "--disk-size", "--split-size", "--inet-token",
                             "--update-token", "--no-build-length", "--scramble", "--always-confirm", "--dir",
                             "--exclude", "@FILE", "list SETUP", "--json", "test SETUP", "extract SETUP DIR",
                             "--list-only", "--jobs", "SOURCE_DATE_EPOCH"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST_F(PackToolTest, TheSameInputGivesTheSameBytes) {
  const std::string build = "build --stub '" + stub_ + "' --out '" + Path("r.exe") + "' --file '" + text_ +
                            "' --run '" + noise_ + "=Engine.exe' --run-args '/go fast' --file '" + empty_ +
                            "=data/empty.dat' --update-token T-9 --inet-token N-1 --level 6 --split-size 10K";
  const std::string epoch = "SOURCE_DATE_EPOCH=1700000000";
  const std::int32_t epochDate = (43 << 25) | (11 << 21) | (14 << 16) | (22 << 11) | (13 << 5) | 10;
  struct Row {
    const char* name;
    std::string env;       // of the first build; the second adds TZ=Asia/Kolkata when an epoch is given
    const char* layout;    // further options
    const char* jobs;
  };
  const std::vector<Row> rows = {
      {"own dates", "TZ=UTC", "", "1"},
      {"own dates", "TZ=UTC", "", "2"},
      {"epoch", epoch, "", "1"},
      {"epoch", epoch, "", "2"},
      {"own dates, disk set", "TZ=UTC", " --disk-size 12K", "1"},
      {"own dates, disk set", "TZ=UTC", " --disk-size 12K", "2"},
      {"epoch, disk set", epoch, " --disk-size 12K", "1"},
      {"epoch, disk set", epoch, " --disk-size 12K", "2"},
  };
  auto outputs = [this] {
    std::vector<std::string> bytes = {Slurp(Path("r.exe"))};
    for (int n = 1; fs::exists(Path("r.exe.00" + std::to_string(n))); ++n)
      bytes.push_back(Slurp(Path("r.exe.00" + std::to_string(n))));
    return bytes;
  };
  std::map<std::string, std::vector<std::string>> byName;
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.name) + ", --jobs " + row.jobs);
    const bool withEpoch = row.env == epoch;
    const std::string args = build + row.layout + " --jobs " + row.jobs;
    std::string out;
    ASSERT_EQ(Tool(args, &out, row.env), 0) << out;
    const std::vector<std::string> first = outputs();
    // A file's own date no longer counts once the epoch is given.
    if (withEpoch) fs::last_write_time(text_, fs::last_write_time(text_) - std::chrono::hours(50));
    ASSERT_EQ(Tool(args, &out, withEpoch ? row.env + " TZ=Asia/Kolkata" : row.env), 0) << out;
    EXPECT_TRUE(outputs() == first) << "the second build differs";
    EXPECT_EQ(first.size() > 1, !std::string(row.layout).empty());
    const auto [it, fresh] = byName.emplace(row.name, first);
    if (!fresh) {
      EXPECT_TRUE(it->second == first) << "differs from the first row of its kind";
    }

    const Walk w = WalkPackage(Path(first.size() > 1 ? "r.exe.001" : "r.exe"));
    EXPECT_TRUE(w.checksumsPass);
    ExpectFilesBack(w);
    if (withEpoch) {
      for (const auto& [name, file] : w.files) EXPECT_EQ(file.date, epochDate) << name;
    }
  }
  EXPECT_FALSE(byName.at("own dates") == byName.at("epoch"));
}

TEST_F(PackToolTest, ShowsProgressOnATerminalOnly) {
  if (std::system("script -qec true /dev/null >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  const std::string build = "build --stub '" + stub_ + "' --out '" + Path("p.exe") + "' --file '" + text_ +
                            "' --file '" + noise_ + "' --file '" + empty_ + "' --split-size 1K --jobs 2";
  struct Row {
    const char* name;
    bool terminal;
  };
  for (const Row& row : {Row{"terminal", true}, Row{"file", false}}) {
    SCOPED_TRACE(row.name);
    std::string out;
    if (row.terminal) {
      // script(1) runs the tool on a terminal of its own and copies what it shows.
      const std::string cmd = "timeout 20 script -qec \"'" + std::string(HAVREK_PACK_EXE) + "' " + build +
                              "\" /dev/null >'" + Path("out.txt") + "' 2>&1";
      ASSERT_EQ(std::system(cmd.c_str()), 0);
      out = Slurp(Path("out.txt"));
    } else {
      ASSERT_EQ(Tool(build, &out), 0) << out;
    }
    EXPECT_NE(out.find("wrote"), std::string::npos) << out;
    const auto last = out.rfind("\r3/3 files, 0.1/0.1 MB in, ");
    if (row.terminal) {
      ASSERT_NE(last, std::string::npos) << out;
      // The line ends before the summary starts.
      EXPECT_LT(out.find('\n', last), out.find("wrote"));
    } else {
      EXPECT_EQ(out.find("files,"), std::string::npos) << out;
      EXPECT_EQ(out.find('\r'), std::string::npos) << out;
    }
  }
}

TEST_F(PackToolTest, ShowTellsWhetherTheIntegrityRecordsHold) {
  PackOptions o = Options();
  o.level = 0;
  ASSERT_TRUE(WritePackage(o).ok);
  std::string bytes = Slurp(o.outPath);
  // The checksum passing anything, as above its size limit.
  const std::uint32_t passes = ChecksumAlwaysPasses;
  std::memcpy(bytes.data() + bytes.size() - 74 + offsetof(TPackageHeader, checksum), &passes, 4);
  std::string flipped = bytes;
  flipped[4096 + 300] ^= 0x08;
  std::string old = bytes;
  old.erase(old.size() - 74 - IntegrityBlockSize, IntegrityBlockSize);
  std::memset(old.data() + old.size() - 74 + offsetof(TPackageHeader, integrity), 0, 8);
  const std::uint32_t size = static_cast<std::uint32_t>(old.size());
  std::memcpy(old.data() + 252, &size, 4);
  struct Case {
    const char* name;
    std::string bytes;
    int rc;
    const char* says;
  };
  for (const Case& c : {Case{"sound", bytes, 0, "integrity=records ok\n"},
                        Case{"flipped", flipped, 1, "integrity=BAD\nintegrity_error="},
                        Case{"old", old, 0, "integrity=no records\n"}}) {
    SCOPED_TRACE(c.name);
    std::string out;
    EXPECT_EQ(Tool("show '" + Put("shown.exe", c.bytes) + "'", &out), c.rc) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
  }
}

// Every path in a folder with its type and, for regular files, its bytes.
std::map<std::string, std::pair<fs::file_type, std::string>> Snapshot(const fs::path& folder) {
  std::map<std::string, std::pair<fs::file_type, std::string>> paths;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
    const fs::file_type type = e.symlink_status().type();
    paths[fs::relative(e.path(), folder).string()] = {
        type, type == fs::file_type::regular ? Slurp(e.path().string()) : std::string()};
  }
  return paths;
}

TEST_F(PackToolTest, NeverRemovesOrTruncatesWhatItDidNotWrite) {
  const fs::path w = dir_ / "w";
  auto q = [&w](const std::string& name) { return "'" + (w / name).string() + "'"; };
  auto fifo = [&w](const std::string& name) { return mkfifo((w / name).c_str(), 0600) == 0; };
  auto device = [&w](const std::string& name) {
    return mknod((w / name).c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
  };
  const std::string build = "build --stub '" + stub_ + "' ";
  // An earlier build of set.exe over three disk files.
  auto earlierSet = [&] {
    std::string out;
    const int rc = Tool(build + "--out " + q("set.exe") + " --file '" + noise_ + "' --disk-size 30000", &out);
    return rc == 0 && fs::exists(w / "set.exe.003") && !fs::exists(w / "set.exe.004");
  };
  struct Row {
    const char* name;
    std::function<std::string()> arrange;  // the arguments; empty when the row cannot be set up here
    int rc;
    const char* message;
    std::vector<std::string> replaced = {};  // paths the run writes anew
    std::vector<std::string> removed = {};   // paths the run removes
  };
  const std::vector<Row> rows = {
      {"out is a device node",
       [&] { return device("null") ? build + "--out " + q("null") + " --file '" + text_ + "'" : ""; }, 1,
       "is a device"},
      {"out is a FIFO", [&] { return fifo("pipe") ? build + "--out " + q("pipe") + " --file '" + text_ + "'" : ""; },
       1, "is a FIFO"},
      {"out is a folder",
       [&] { return fs::create_directory(w / "dir") ? build + "--out " + q("dir") + " --file '" + text_ + "'" : ""; },
       1, "is a folder"},
      {"a good package, then a failing build",
       [&] {
         // The long name fits no disk of 6000 bytes, which is found once
         // the first disk files are written.
         return earlierSet() ? build + "--out " + q("set.exe") + " --disk-size 6000 --file '" + text_ + "=" +
                                   std::string(6000, 'n') + "'"
                             : "";
       },
       1, "cannot hold an entry"},
      {"a disk file is an input",
       [&] {
         fs::copy_file(text_, w / "set.exe.001");
         return build + "--out " + q("set.exe") + " --disk-size 30000 --file " + q("set.exe.001");
       },
       1, "is an input of the build"},
      {"out is the language file",
       [&] {
         std::ofstream(w / "lang.txt") << "[English]\ns0=Setup\n";
         return build + "--out " + q("lang.txt") + " --language " + q("lang.txt") + " --file '" + text_ + "'";
       },
       1, "is an input of the build"},
      {"out is another name of the stub",
       [&] {
         fs::copy_file(stub_, w / "stub.exe");
         fs::create_hard_link(w / "stub.exe", w / "setup.exe");
         return "build --stub " + q("stub.exe") + " --out " + q("setup.exe") + " --file '" + text_ + "'";
       },
       1, "is an input of the build"},
      {"language file is a FIFO",
       [&] { return fifo("lang") ? build + "--out " + q("s.exe") + " --language " + q("lang") : ""; }, 1,
       "is a FIFO, not a regular file"},
      {"file is a FIFO", [&] { return fifo("data") ? build + "--out " + q("s.exe") + " --file " + q("data") : ""; },
       1, "is a FIFO, not a regular file"},
      {"stub is a device",
       [&] { return device("stub") ? "build --stub " + q("stub") + " --out " + q("s.exe") : ""; }, 1,
       "is a device, not a regular file"},
      {"size source is a FIFO",
       [&] { return fifo("big") ? build + "--out " + q("s.exe") + " --inet-size-of " + q("big") : ""; }, 1,
       "is a FIFO, not a regular file"},
      {"info page over its text file",
       [&] {
         std::ofstream(w / "page.txt") << "New version";
         return "info-page --token T --out " + q("page.txt") + " --text-file " + q("page.txt");
       },
       1, "is an input"},
      {"info page to a FIFO",
       [&] { return fifo("page") ? "info-page --token T --out " + q("page") + " --text x" : ""; }, 1, "is a FIFO"},
      {"disk files of an earlier, bigger build",
       [&] {
         if (!earlierSet()) return std::string();
         std::ofstream(w / "set.exe.004") << "not a disk file";
         return build + "--out " + q("set.exe") + " --disk-size 30000 --file '" + text_ + "'";
       },
       0, "removed", {"set.exe", "set.exe.001"}, {"set.exe.002", "set.exe.003"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    fs::remove_all(w);
    fs::create_directories(w);
    const std::string args = row.arrange();
    if (args.empty()) {
      std::cout << "row \"" << row.name << "\" skipped: cannot make the special file here (" << std::strerror(errno)
                << ")\n";
      continue;
    }
    const auto before = Snapshot(w);
    std::string out;
    EXPECT_EQ(Tool(args, &out), row.rc) << out;
    EXPECT_NE(out.find(row.message), std::string::npos) << out;
    const auto after = Snapshot(w);
    auto listed = [](const std::vector<std::string>& names, const std::string& name) {
      return std::find(names.begin(), names.end(), name) != names.end();
    };
    for (const auto& [name, was] : before) {
      SCOPED_TRACE(name);
      const auto now = after.find(name);
      if (listed(row.removed, name)) {
        EXPECT_TRUE(now == after.end()) << "left";
      } else if (now == after.end()) {
        ADD_FAILURE() << "removed";
      } else if (listed(row.replaced, name)) {
        EXPECT_EQ(now->second.first, fs::file_type::regular);
      } else {
        EXPECT_EQ(now->second.first, was.first);
        EXPECT_TRUE(now->second.second == was.second) << "changed";
      }
    }
    for (const auto& [name, is] : after) EXPECT_TRUE(before.count(name)) << "left behind: " << name;
    if (row.rc == 0 && fs::exists(w / "set.exe.001")) {
      const Walk set = WalkPackage((w / "set.exe.001").string());
      EXPECT_TRUE(set.checksumsPass);
      EXPECT_EQ(set.disks, 1);
      EXPECT_EQ(set.files.at("readme.txt").data, Slurp(text_));
    }
  }
}
#endif

}  // namespace
}  // namespace havrek
