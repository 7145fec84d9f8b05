#include "package/PackX.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "util/Utils.h"
#include "RepeatableRandom.h"
#include "SignedImage.h"
#include "TestFolder.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;
using test::Word;

std::string HeaderBytes(const TPackageHeader& h) { return std::string(reinterpret_cast<const char*>(&h), sizeof h); }

// A stub image of the given size: "MZ" at 0, "PE\0\0" at 256, the rest a
// pattern so that a misplaced read shows.
std::string Stub(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 512; i < size; ++i) s[i] = static_cast<char>(i * 13);
  s.replace(0, 2, "MZ");
  s.replace(256, 4, std::string("PE\0\0", 4));
  return s;
}

void SetBuildLength(std::string& image, std::int64_t length) {
  image.replace(248, 4, Word(static_cast<std::uint32_t>(static_cast<std::uint64_t>(length) >> 32)));
  image.replace(252, 4, Word(static_cast<std::uint32_t>(length)));
}

const std::string kLanguage = "\x02\x01" "English\x01s0=Hello\x01\x02";
const std::string kUpdate = "|http://example.test/up|sub\\App.v2.info|Agent.exe|tok|1|";

TPackageHeader BaseHeader(std::uint32_t payloadStart) {
  TPackageHeader h{};
  h.format = 1;
  h.blockCount = 2;
  h.payloadStart = payloadStart;
  h.fileCount = 3;
  h.magic = PackageMagic;
  for (int i = 0; i < SpaceTableSize; ++i) h.space[i] = 1000u * (i + 1);
  h.headerFlags = hfAlwaysConfirm | hfActivityBar;
  h.hasAgent = 1;
  h.trailerLength = PackageHeaderSize;
  return h;
}

// Stub, the two header blocks, one raw entry and the header; the build
// length is the package's size.
std::string ExamplePackage(std::size_t stubSize, TPackageHeader h, bool buildLength = true) {
  std::string bytes = Stub(stubSize);
  bytes += Word(static_cast<std::uint32_t>(kLanguage.size())) + kLanguage;
  bytes += Word(static_cast<std::uint32_t>(kUpdate.size())) + kUpdate;
  const std::string content = std::string("|a.txt|0|") + '\0' + "data";
  bytes += Word(static_cast<std::uint32_t>(-static_cast<std::int32_t>(content.size()))) + content;
  bytes += HeaderBytes(h);
  if (buildLength) SetBuildLength(bytes, static_cast<std::int64_t>(bytes.size()));
  return bytes;
}

class PackXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("packx");
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Put(const std::string& name, const std::string& bytes) const {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static TPackageHeader HeaderOf(const std::string& path) {
    TPackageHeader h{};
    ReadPackageHeader(path, h);
    return h;
  }

  fs::path dir_;
};

TEST_F(PackXTest, ReadsThePackageOfTheExampleLayout) {
  const std::string path = Put("setup.exe", ExamplePackage(200704, BaseHeader(200704)));

  const TPackageHeader h = HeaderOf(path);
  EXPECT_EQ(h.payloadStart, 200704u);
  EXPECT_EQ(h.blockCount, 2);
  EXPECT_EQ(h.magic, PackageMagic);
  EXPECT_EQ(h.trailerLength, 74);
  EXPECT_EQ(h.space[8], 9000u);

  const TGFileInfo info(path);
  EXPECT_EQ(info.LanguageBlock(), kLanguage);
  EXPECT_EQ(info.UpdateRecord(), kUpdate);
  EXPECT_EQ(info.InternetRecord(), "");
  EXPECT_EQ(info.Header().payloadStart, 200704 + 8 + kLanguage.size() + kUpdate.size());
  EXPECT_TRUE(info.AlwaysConfirm());
  EXPECT_TRUE(info.ActivityBar());
  EXPECT_FALSE(info.MoreDisks());
  EXPECT_FALSE(info.Span());
  EXPECT_FALSE(info.LogFile());
  EXPECT_TRUE(info.HasAgent());
  EXPECT_FALSE(info.AutoUpdate());
  EXPECT_EQ(info.InfoBase(), "http://example.test/up");
  EXPECT_EQ(info.InfoFileName(), "App.v2.info");
  EXPECT_EQ(info.OriginalFileName(), "App.original");
  EXPECT_EQ(info.AgentFileName(), "Agent.exe");
  EXPECT_EQ(info.UpdateTokenRaw(), "tok");
  EXPECT_TRUE(info.Silent());
}

TEST_F(PackXTest, InternetRecordIsTheThirdBlock) {
  TPackageHeader h = BaseHeader(4096);
  h.blockCount = 3;
  h.internetSetup = 1;
  std::string bytes = Stub(4096);
  const std::string inet = "|http://host/dl|Real.exe|1|enc|123456|";
  bytes += Word(0) + Word(static_cast<std::uint32_t>(kUpdate.size())) + kUpdate;
  bytes += Word(static_cast<std::uint32_t>(inet.size())) + inet + HeaderBytes(h);
  const TGFileInfo info(Put("inet.exe", bytes));
  EXPECT_TRUE(info.InternetSetup());
  EXPECT_EQ(info.InternetBaseUrl(), "http://host/dl");
  EXPECT_EQ(info.InternetFileName(), "Real.exe");
  EXPECT_TRUE(info.AlwaysDownload());
  EXPECT_EQ(info.InternetTokenRaw(), "enc");
  EXPECT_EQ(info.InternetSizeText(), "123456");
  EXPECT_EQ(info.Header().payloadStart, 4096 + 12 + kUpdate.size() + inet.size());
}

TEST_F(PackXTest, BytesAfterTheBuildLengthAreIgnored) {
  const std::string bytes = ExamplePackage(4096, BaseHeader(4096));
  const std::string plain = Put("plain.exe", bytes);
  const std::string tailed = Put("tailed.exe", bytes + std::string(3000, '\x5A') + Word(20));

  EXPECT_EQ(HeaderBytes(HeaderOf(plain)), HeaderBytes(HeaderOf(tailed)));
  EXPECT_EQ(TGFileInfo(tailed).UpdateRecord(), kUpdate);
  EXPECT_EQ(PackageChecksum(plain, 74), PackageChecksum(tailed, 74));
}

TEST_F(PackXTest, ASignedPackageReadsAndPassesAsBuilt) {
  for (const std::uint16_t magic : {test::kPe32, test::kPe32Plus}) {
    SCOPED_TRACE(magic);
    TPackageHeader h = BaseHeader(4096);
    std::string bytes = ExamplePackage(4096, h);
    test::SetOptionalHeader(bytes, magic);
    const std::string plain = Put("plain.exe", bytes);
    h.checksum = PackageChecksum(plain, 74);
    bytes.replace(bytes.size() - 74, 74, HeaderBytes(h));
    const std::string built = Put("built.exe", bytes);
    const std::string signed_ = Put("signed.exe", test::SignFile(bytes));

    EXPECT_EQ(HeaderBytes(HeaderOf(signed_)), HeaderBytes(HeaderOf(built)));
    EXPECT_EQ(TGFileInfo(signed_).UpdateRecord(), kUpdate);
    EXPECT_EQ(PackageChecksum(signed_, 74), h.checksum);
  }
}

TEST_F(PackXTest, ForeignTailTellsASignatureFromOtherBytes) {
  const std::string package = ExamplePackage(4099, BaseHeader(4099));
  const auto end = static_cast<std::int64_t>(package.size());
  // The signature cases need padding to show that it is allowed for.
  ASSERT_NE(end % 8, 0);
  const std::int64_t table = (end + 7) / 8 * 8;
  struct Case {
    const char* what;
    std::uint16_t magic;
    std::function<std::string(const std::string&)> make;  // from the package with its optional header
    TailKind kind;
    std::int64_t signatureSize;
  };
  const auto entryOf = [](const std::string& file) { return CertificateEntryOffset(file); };
  const Case cases[] = {
      {"no tail", test::kPe32Plus, [](const std::string& p) { return p; }, TailKind::None, 0},
      {"PE32 signature", test::kPe32, [](const std::string& p) { return test::SignFile(p); }, TailKind::Signature,
       1536},
      {"PE32+ signature", test::kPe32Plus, [](const std::string& p) { return test::SignFile(p, 9000); },
       TailKind::Signature, 9000},
      {"unknown tail", test::kPe32Plus, [](const std::string& p) { return p + std::string(3000, '\x5A'); },
       TailKind::Unknown, 0},
      {"entry pointing past the file end", test::kPe32Plus,
       [&](const std::string& p) {
         std::string f = test::SignFile(p);
         test::PutU32(f, entryOf(f) + 4, 1536 + 8);
         return f;
       },
       TailKind::Unknown, 0},
      {"entry pointing far outside the file", test::kPe32Plus,
       [&](const std::string& p) {
         std::string f = test::SignFile(p);
         test::PutU32(f, entryOf(f), 0xFFFFFFF0u);
         return f;
       },
       TailKind::Unknown, 0},
      {"entry pointing into the package", test::kPe32Plus,
       [&](const std::string& p) {
         std::string f = test::SignFile(p);
         test::PutU32(f, entryOf(f), static_cast<std::uint32_t>(table - 8));
         test::PutU32(f, entryOf(f) + 4, 1536 + 8);
         return f;
       },
       TailKind::Unknown, 0},
      {"bytes after the table", test::kPe32Plus, [](const std::string& p) { return test::SignFile(p) + "tail"; },
       TailKind::Unknown, 0},
      {"padding that is not zero", test::kPe32Plus,
       [&](const std::string& p) {
         std::string f = test::SignFile(p);
         f[static_cast<std::size_t>(end)] = 'x';
         return f;
       },
       TailKind::Unknown, 0},
      {"no WIN_CERTIFICATE revision", test::kPe32Plus,
       [&](const std::string& p) {
         std::string f = test::SignFile(p);
         test::PutU16(f, table + 4, 0x0300);
         return f;
       },
       TailKind::Unknown, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = package;
    test::SetOptionalHeader(bytes, c.magic);
    const std::string file = c.make(bytes);
    const TForeignTail tail = ReadForeignTail(Put("tail.exe", file));
    EXPECT_EQ(tail.kind, c.kind);
    EXPECT_EQ(tail.packageEnd, end);
    EXPECT_EQ(tail.size, static_cast<std::int64_t>(file.size()) - end);
    EXPECT_EQ(tail.signatureSize, c.signatureSize);
    EXPECT_EQ(tail.signatureOffset, c.kind == TailKind::Signature ? table : 0);
  }
  // Without a build length the whole file is the package: nothing follows it.
  std::string unbuilt = ExamplePackage(4096, BaseHeader(4096), false);
  test::SetOptionalHeader(unbuilt, test::kPe32Plus);
  const TForeignTail none = ReadForeignTail(Put("unbuilt.exe", unbuilt + "tail"));
  EXPECT_EQ(none.kind, TailKind::None);
  EXPECT_EQ(ReadForeignTail((dir_ / "missing.exe").string()).kind, TailKind::None);
}

TEST(PackXSignature, ClearingTheFieldsLeavesAnUnsignedImage) {
  std::string image = Stub(1024);
  test::SetOptionalHeader(image, test::kPe32);
  const std::string unsigned_ = image;
  EXPECT_TRUE(ClearSignatureFields(image));
  EXPECT_EQ(image, unsigned_) << "an unsigned image stays as it is";

  std::string signed_ = test::SignFile(image).substr(0, image.size());
  ASSERT_NE(signed_, unsigned_);
  EXPECT_TRUE(ClearSignatureFields(signed_));
  EXPECT_EQ(signed_, unsigned_);

  std::string foreign = Stub(1024);
  EXPECT_FALSE(ClearSignatureFields(foreign)) << "no optional header";
  EXPECT_EQ(foreign, Stub(1024));
  std::string tooShort = "MZ";
  EXPECT_FALSE(ClearSignatureFields(tooShort));
}

TEST_F(PackXTest, BuildLengthZeroLocatesTheHeaderFromTheFileEnd) {
  const std::string path = Put("zero.exe", ExamplePackage(4096, BaseHeader(4096), false));
  EXPECT_EQ(HeaderOf(path).magic, PackageMagic);
  EXPECT_EQ(TGFileInfo(path).UpdateRecord(), kUpdate);
}

TEST_F(PackXTest, BuildLengthPastTheFileEndIsIgnored) {
  std::string bytes = ExamplePackage(4096, BaseHeader(4096));
  std::string unset = bytes;
  SetBuildLength(unset, 0);
  const std::int64_t past = static_cast<std::int64_t>(bytes.size()) + 100000;
  SetBuildLength(bytes, past);
  const std::string path = Put("cut.exe", bytes);
  EXPECT_EQ(HeaderOf(path).magic, PackageMagic);
  EXPECT_EQ(TGFileInfo(path).UpdateRecord(), kUpdate);
  // Summed from the start over the whole file, as without a build length;
  // only the words of the length itself differ.
  EXPECT_EQ(PackageChecksum(path, 74),
            PackageChecksum(Put("unset.exe", unset), 74) + static_cast<std::uint32_t>(past));
}

TEST_F(PackXTest, BlockCountZeroReadsAsTwo) {
  TPackageHeader h = BaseHeader(4096);
  h.blockCount = 0;
  const std::string path = Put("zero.exe", ExamplePackage(4096, h));
  EXPECT_EQ(HeaderOf(path).blockCount, 2);
  EXPECT_EQ(TGFileInfo(path).UpdateRecord(), kUpdate);
}

TEST_F(PackXTest, TrailerLengthsThatCannotBeTrustedReadNothing) {
  for (const std::int32_t trailer : {0, 3, -8, 100000, INT32_MIN}) {
    SCOPED_TRACE(trailer);
    TPackageHeader h = BaseHeader(4096);
    h.trailerLength = trailer;
    const std::string path = Put("bad.bin", ExamplePackage(600, h, false));
    TPackageHeader read{};
    EXPECT_FALSE(ReadPackageHeader(path, read));
    TPackageHeader expected{};
    expected.blockCount = 2;
    EXPECT_EQ(HeaderBytes(read), HeaderBytes(expected));
    EXPECT_EQ(TGFileInfo(path).UpdateRecord(), "");
  }
}

TEST_F(PackXTest, ShortTrailerReadsOnlyItsOwnBytes) {
  // T = 10: the six bytes before the trailing length, nothing further back.
  std::string bytes = Stub(600) + std::string("\x01\x03\x00\x00\x07\x01", 6) + Word(10);
  const std::string path = Put("short.bin", bytes);
  TPackageHeader h{};
  EXPECT_TRUE(ReadPackageHeader(path, h));
  EXPECT_EQ(h.format, 1);
  EXPECT_EQ(h.blockCount, 3);
  EXPECT_EQ(h.payloadStart, 0x0107u);
  EXPECT_EQ(h.trailerLength, 10);
  EXPECT_EQ(h.magic, 0u);
}

TEST_F(PackXTest, HeaderBlockRunningPastTheEndGivesAnEmptyReader) {
  for (const std::uint32_t length : {0xFFFFFFF0u, 0x7FFFFFFFu, 5000u}) {
    // Bytes after the build length (a signature, say) are no part of the
    // package, however many there are.
    for (const std::size_t tail : {std::size_t{0}, std::size_t{20000}}) {
      SCOPED_TRACE(std::to_string(length) + " with " + std::to_string(tail) + " bytes after the package");
      // The update record, the last block, is the one that runs on.
      std::string bytes = Stub(1024) + Word(0) + Word(length) + "abc";
      TPackageHeader h = BaseHeader(1024);
      bytes += HeaderBytes(h);
      SetBuildLength(bytes, static_cast<std::int64_t>(bytes.size()));
      bytes += std::string(tail, '\x11');
      const TGFileInfo info(Put("damaged.exe", bytes));
      EXPECT_EQ(info.LanguageBlock(), "");
      EXPECT_EQ(info.UpdateRecord(), "");
      EXPECT_EQ(info.Header().magic, 0u);
      EXPECT_FALSE(info.AlwaysConfirm());
    }
  }
}

TEST_F(PackXTest, MissingOrForeignFilesGiveEmptyReaders) {
  const TGFileInfo missing((dir_ / "none.exe").string());
  EXPECT_EQ(HeaderBytes(missing.Header()), HeaderBytes(TPackageHeader{}));
  EXPECT_FALSE(missing.HasAgent());

  const TGFileInfo foreign(Put("text.txt", std::string(500, 'x')));
  EXPECT_NE(foreign.Header().magic, PackageMagic);
  EXPECT_EQ(foreign.LanguageBlock(), "");
  EXPECT_EQ(foreign.UpdateRecord(), "");

  // Bytes where a header would sit, every flag set, but no magic: a setup
  // cut short reads like this, and must not relaunch, log or download.
  TPackageHeader h = BaseHeader(1024);
  h.magic ^= 1;
  h.headerFlags = 0xFF;
  h.internetSetup = h.confirmDownload = h.hasAgent = h.autoUpdate = 1;
  const TGFileInfo cut(Put("cut.exe", Stub(1024) + Word(0) + Word(0) + HeaderBytes(h)));
  EXPECT_EQ(HeaderBytes(cut.Header()), HeaderBytes(TPackageHeader{}));
  EXPECT_FALSE(cut.Span() || cut.LogFile() || cut.InternetSetup() || cut.AutoUpdate() || cut.HasAgent());
}

TEST_F(PackXTest, ExecutableImageAndBuildLengthFromMemory) {
  std::string image = Stub(600);
  EXPECT_TRUE(IsExecutableImage(image));
  EXPECT_EQ(ReadBuildLength(image), 0);
  SetBuildLength(image, 0x100000002LL);
  EXPECT_EQ(ReadBuildLength(image), 0x100000002LL);
  EXPECT_FALSE(IsExecutableImage(image.substr(0, 257)));
  EXPECT_EQ(ReadBuildLength(image.substr(0, 255)), 0);
  image[257] = 'X';
  EXPECT_FALSE(IsExecutableImage(image));
}

TEST_F(PackXTest, ChecksumSumsWordsBeforeTheTrailer) {
  // 100 bytes, T = 74: remaining starts at 26, so words 1..5 count.
  std::string small;
  for (std::uint32_t i = 1; i <= 25; ++i) small += Word(i);
  EXPECT_EQ(PackageChecksum(Put("small.bin", small), 74), 1u + 2 + 3 + 4 + 5);

  // Each full 4096-byte piece after which words remain adds 1234.
  EXPECT_EQ(PackageChecksum(Put("zeros.bin", std::string(10000, '\0')), 74), 2u * 1234);

  // The sum wraps in 32 bits.
  EXPECT_EQ(PackageChecksum(Put("wrap.bin", Word(0xFFFFFFFF) + Word(2) + std::string(80, '\0')), 74), 1u);
}

TEST_F(PackXTest, ChecksumSkipsTheFirst512BytesOnlyWhenTheBuildLengthIsSet) {
  std::string image = Stub(1024);
  image.replace(300, 4, Word(7));  // inside the first 512 bytes
  image.replace(600, 4, Word(11));
  std::string withLength = image;
  SetBuildLength(withLength, 1024);
  const std::uint32_t fromStart = PackageChecksum(Put("zero.exe", image), 74);
  const std::uint32_t from512 = PackageChecksum(Put("set.exe", withLength), 74);

  std::uint32_t expectFromStart = 0, expectFrom512 = 0;
  for (std::size_t i = 0; i + 4 <= 1024 - 78; i += 4) {
    std::uint32_t w;
    std::memcpy(&w, image.data() + i, 4);
    expectFromStart += w;
    if (i >= 512) expectFrom512 += w;
  }
  EXPECT_EQ(fromStart, expectFromStart);
  EXPECT_EQ(from512, expectFrom512);
}

TEST_F(PackXTest, ChecksumOfAFileOverTheLimitIsTheAlwaysPassingValue) {
  const std::string path = (dir_ / "huge.bin").string();
  { std::ofstream(path, std::ios::binary) << 'x'; }
  fs::resize_file(path, ChecksumSizeLimit + 1);
  EXPECT_EQ(PackageChecksum(path, 74), ChecksumAlwaysPasses);
  fs::resize_file(path, ChecksumSizeLimit);
  EXPECT_NE(PackageChecksum(path, 74), ChecksumAlwaysPasses);
}

TEST(PackXChecksum, PassesOnEqualityOrTheAlwaysPassingValue) {
  EXPECT_TRUE(ChecksumPasses(5, 5));
  EXPECT_TRUE(ChecksumPasses(1234, 5));
  EXPECT_TRUE(ChecksumPasses(5, 1234));
  EXPECT_FALSE(ChecksumPasses(5, 6));
}

// "Hi" with p = 2, q = 2, first byte 0x10 and key 0x5A.
const std::string kEncodedHi = "cbgjgjhkcwcdeebxwgfs";

TEST_F(PackXTest, TokenComparisonsBetweenReaders) {
  auto withRecords = [this](const std::string& name, const std::string& update, const std::string& inet) {
    TPackageHeader h = BaseHeader(1024);
    h.blockCount = inet.empty() ? 2 : 3;
    std::string bytes = Stub(1024) + Word(0) + Word(static_cast<std::uint32_t>(update.size())) + update;
    if (!inet.empty()) bytes += Word(static_cast<std::uint32_t>(inet.size())) + inet;
    return Put(name, bytes + HeaderBytes(h));
  };
  const std::string a = withRecords("a.exe", "|x|y|z|" + kEncodedHi + "|", "|u|f|0|" + kEncodedHi + "|1|");
  const std::string b = withRecords("b.exe", "|x|y|z|" + kEncodedHi + "|", "|u|f|0|" + kEncodedHi + "|1|");
  const std::string none = withRecords("none.exe", "|x|y|z|0|", "");
  const test::RepeatableRandom repeatable;

  EXPECT_TRUE(TGFileInfo(a).SameInternetToken(TGFileInfo(b)));
  EXPECT_TRUE(TGFileInfo(a).SameUpdateToken(b));
  EXPECT_FALSE(TGFileInfo(none).SameInternetToken(TGFileInfo(none)));
  EXPECT_FALSE(TGFileInfo(none).SameUpdateToken(none));
  EXPECT_FALSE(TGFileInfo(a).SameUpdateToken(none));
  EXPECT_FALSE(TGFileInfo(a).SameUpdateToken((dir_ / "missing.exe").string()));
}

TEST(PackXSpace, EntryChosenByClusterSize) {
  struct Case {
    std::uint32_t cluster;
    int entry;
  };
  const Case cases[] = {{0, 0}, {256, 0}, {511, 0}, {512, 1}, {1024, 2}, {4096, 4},
                        {6000, 4}, {65536, 8}, {131072, 8}};
  TPackageHeader h{};
  for (int i = 0; i < SpaceTableSize; ++i) h.space[i] = 100u + i;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cluster);
    EXPECT_EQ(SpaceNeededFor(h, c.cluster), 100.0 + c.entry);
  }
}

}  // namespace
}  // namespace havrek
