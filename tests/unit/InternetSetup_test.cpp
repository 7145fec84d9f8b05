#include "setup/InternetSetup.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/PackX.h"
#include "package/Signature.h"
#include "SignedImage.h"
#include "TestFolder.h"

namespace havrek {
namespace {

TEST(InternetSetup, PackageBesideTheStubWinsUnlessTheRecordSaysDownload) {
  struct Case {
    bool always, beside;
    const char* base;
  } cases[] = {
      {false, true, "C:\\Setups"},
      {false, false, "http://host/dl"},
      {true, true, "http://host/dl"},
      {true, false, "http://host/dl"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(InternetSetupBase("http://host/dl", c.always, "C:\\Setups", c.beside), c.base)
        << c.always << c.beside;
}

TEST(InternetSetup, PackagePlaces) {
  EXPECT_EQ(LocalPackagePath("C:\\Setups", "Full.exe"), "C:\\Setups\\Full.exe");
  EXPECT_EQ(LocalPackagePath("C:\\Setups\\", "Full.exe"), "C:\\Setups\\Full.exe");
  EXPECT_EQ(InternetPackageUrl("http://host/dl", "Full.exe"), "http://host/dl/Full.exe");
}

TEST(InternetSetup, DownloadedCopyStaysInTheTemporaryFolder) {
  struct Case {
    const char* name;
    const char* copy;
  } cases[] = {
      {"Full.exe", "Full.exe"},
      {"..\\..\\Windows\\Full.exe", "Full.exe"},
      {"dl/Full.exe", "Full.exe"},
      {"C:Full.exe", "Full.exe"},
      {"", ""},
      {"..", ""},
      {"dir\\", ""},
      {"...", ""},
      {". .", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DownloadCopyName(c.name), c.copy) << c.name;
}

TEST(InternetSetup, ConfirmationShowsTheSizeInMegabytes) {
  struct Case {
    const char* size;
    const char* shown;
  } cases[] = {
      {"5242880", "Size: 5.00 MB"},
      {"", "Size: 0.000 MB"},
      {"12abc", "Size: 0.000 MB"},
      {"524288", "Size: 0.500 MB"},
      {"31457280", "Size: 30.0 MB"},
      {" 1048576 ", "Size: 1.00 MB"},
  };
  const std::string question = LanguageDefault("s11");
  ASSERT_NE(question.find("<SIZE>"), std::string::npos);
  for (const Case& c : cases) {
    const std::string text = DownloadConfirmText(question, c.size);
    EXPECT_NE(text.find(c.shown), std::string::npos) << c.size << ": " << text;
    EXPECT_EQ(text.find("<SIZE>"), std::string::npos);
  }
}

TEST(InternetSetup, NoConnectionTextCarriesTheSystemsReason) {
  EXPECT_EQ(NoConnectionText("offline", ""), "offline");
  EXPECT_EQ(NoConnectionText("offline", "no network"), "offline<P><P>no network");
}

// An image of size bytes: "MZ", "PE" at 256, the build length at 248..255.
std::string Image(std::int64_t size, std::uint32_t lowLength, std::uint32_t highLength = 0) {
  std::string bytes(static_cast<std::size_t>(size), '\x7F');
  bytes.replace(0, 2, "MZ");
  bytes.replace(StubPeOffset, 2, "PE");
  for (int i = 0; i < 4; ++i) {
    bytes[BuildLengthOffset + i] = static_cast<char>(highLength >> (8 * i));
    bytes[BuildLengthOffset + 4 + i] = static_cast<char>(lowLength >> (8 * i));
  }
  return bytes;
}

TEST(InternetSetup, AgentCopyIsCutToItsBuildAndMarkedAsAgent) {
  struct Case {
    const char* what;
    std::int64_t size;
    std::uint32_t low, high;
    std::int64_t kept;
  } cases[] = {
      {"nothing after the build", 20000, 20000, 0, 20000},
      {"a short tail is cut", 24000, 20000, 0, 20000},
      {"just under the limit", 20000 + kAgentTailLimit - 1, 20000, 0, 20000},
      {"a tail of the limit is kept", 20000 + kAgentTailLimit, 20000, 0, 20000 + kAgentTailLimit},
      {"a build length past the end", 20000, 30000, 0, 20000},
      {"only the low half counts", 24000, 20000, 1, 20000},
      {"no build length recorded", 4000, 0, 0, 4000},
  };
  for (const Case& c : cases) {
    const std::string copy = AgentCopyBytes(Image(c.size, c.low, c.high));
    ASSERT_EQ(static_cast<std::int64_t>(copy.size()), c.kept) << c.what;
    EXPECT_EQ(copy[copy.size() - 5], 1) << c.what;
    EXPECT_EQ(copy[copy.size() - 4], '\x7F') << c.what;
    EXPECT_EQ(copy[copy.size() - 6], '\x7F') << c.what;
    EXPECT_EQ(copy.substr(0, 2), "MZ") << c.what;
  }
}

TEST(InternetSetup, AgentCopyOfASignedSetupIsAnUnsignedProgram) {
  std::string image = Image(20000, 20000);
  image.replace(StubPeOffset, 4, std::string("PE\0\0", 4));
  test::SetOptionalHeader(image, test::kPe32);
  const std::int64_t entry = CertificateEntryOffset(image);
  image.replace(static_cast<std::size_t>(entry), 8, 8, '\0');
  image.replace(static_cast<std::size_t>(PeChecksumOffset), 4, 4, '\0');
  std::string expected = image;
  expected[expected.size() - 5] = 1;
  // A signature with a timestamp and a chain passes the 10000 bytes up to
  // which any tail is cut; it is cut all the same.
  for (std::uint32_t table : {1536u, 12000u, 40000u}) {
    SCOPED_TRACE(table);
    EXPECT_EQ(AgentCopyBytes(test::SignFile(image, table)), expected);
  }
}

TEST(InternetSetup, AgentCopyOfTinyFilesIsSafe) {
  EXPECT_EQ(AgentCopyBytes(""), "");
  EXPECT_EQ(AgentCopyBytes("abcde"), "abcde");
  EXPECT_EQ(AgentCopyBytes("abcdef"), std::string("a\x01" "cdef"));
}

TEST(InternetSetup, AgentCopyOfARealPackageReadsAsAnAgent) {
  // The flag byte is the auto-update byte of the header that ends the file.
  std::string image = Image(300, 0);
  TPackageHeader header{};
  header.magic = PackageMagic;
  header.hasAgent = 1;
  header.trailerLength = PackageHeaderSize;
  image.append(reinterpret_cast<const char*>(&header), sizeof header);
  const std::string copy = AgentCopyBytes(image);
  TPackageHeader read{};
  std::memcpy(&read, copy.data() + copy.size() - PackageHeaderSize, sizeof read);
  EXPECT_EQ(read.autoUpdate, 1);
  EXPECT_EQ(read.hasAgent, 1);
  EXPECT_EQ(read.trailerLength, PackageHeaderSize);
}

// A killed run's download folder is found by the pid in its name; nothing
// else beside the setup folder may be taken for one.
TEST(InternetSetup, DownloadFolderNamesTheirOwner) {
  const struct {
    const char* name;
    std::uint32_t owner;
  } cases[] = {
      {"SETUP_123.dl4711", 4711},
      {"setup_123.DL4711", 4711},  // the system's names have no case
      {"SETUP_123.dl4711_2", 4711},
      {"SETUP_123.dl4294967295", 4294967295u},
      {"SETUP_123.dl4294967296", 0},  // no pid is that large
      {"SETUP_123.dl", 0},
      {"SETUP_123.dl47x", 0},
      {"SETUP_123.dl4711_", 0},
      {"SETUP_123.dl4711_x", 0},
      {"SETUP_123.dl-5", 0},
      {"SETUP_1234.dl4711", 0},  // another setup's
      {"SETUP_123_2.dl4711", 0},
      {"SETUP_123", 0},
      {"SETUP_12.dl4711", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(DownloadFolderOwner(c.name, "SETUP_123"), c.owner) << c.name;
  EXPECT_EQ(DownloadFolderOwner("SETUP_123_2.dl8", "SETUP_123_2"), 8u);
  EXPECT_EQ(DownloadFolderOwner(".dl8", ""), 0u);
}

TEST(InternetSetup, OnlyThePackageOfTheRecordedDigestMayRun) {
  const std::filesystem::path dir = test::FreshTestFolder("inet_digest");
  const std::string package = (dir / "Full.exe").string(), swapped = (dir / "Swapped.exe").string();
  std::ofstream(package, std::ios::binary) << std::string(5000, 'p');
  std::ofstream(swapped, std::ios::binary) << std::string(4999, 'p') << 'q';
  Sha256Digest digest{};
  ASSERT_TRUE(FileSha256(package, digest));
  const std::string hex = HexText(digest);
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const struct {
    const char* what;
    std::string recorded;
    std::string path;
    const char* problem;
  } cases[] = {
      {"the recorded package", hex, package, ""},
      {"recorded in capitals", upper, package, ""},
      {"nothing recorded: as before", "", swapped, ""},
      {"another package", hex, swapped, "its SHA-256 is not the one this setup was built for"},
      {"a record cut short", hex.substr(0, 63), package, "this setup's recorded SHA-256 is damaged"},
      {"a record of no hex", std::string(64, 'z'), package, "this setup's recorded SHA-256 is damaged"},
      {"no file", hex, (dir / "gone.exe").string(), "cannot read it to check its SHA-256"},
  };
  for (const auto& c : cases) EXPECT_EQ(PackageDigestProblem(c.recorded, c.path), c.problem) << c.what;
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace havrek
