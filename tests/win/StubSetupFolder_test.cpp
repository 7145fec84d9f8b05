#include "setup/StubSetupFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "files/Files.h"
#include "package/PackX.h"
#include "setup/SetupSpace.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

bool IsFolder(const std::string& path) {
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

class StubSetupFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { InitProcessCommandLine(); }
};

TEST_F(StubSetupFolderTest, SetupFolderIsFixedPerExecutableUnderTemp) {
  const std::string folder = SetupFolder();
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_TRUE(StartsWith(TempDir(true) + "SETUP_", folder, true)) << folder;
  const std::string number = folder.substr(TempDir(true).size() + 6);
  std::int64_t n = -1;
  EXPECT_TRUE(TryTextToInt64(number, n)) << folder;
  EXPECT_GE(n, 0);
  EXPECT_LE(n, 65535);

  // Later calls keep the path and what was unpacked into it, and bring the
  // folder back after a flow removed it.
  ASSERT_TRUE(WriteFileText(folder + "\\kept.txt", "x"));
  EXPECT_EQ(SetupFolder(), folder);
  EXPECT_TRUE(plat::Exists(folder + "\\kept.txt"));
  ASSERT_TRUE(DeleteTree(folder, false));
  EXPECT_EQ(SetupFolder(), folder);
  EXPECT_TRUE(IsFolder(folder));
  DeleteTree(folder, false);
}

TEST_F(StubSetupFolderTest, FreeBytesOfTheDriveOrMinusOne) {
  const double onC = DiskFreeBytes("C:\\");
  EXPECT_GT(onC, 0);
  EXPECT_GT(DiskFreeBytes(TempDir(false)), 0);
  EXPECT_GT(DiskFreeBytes("c:/windows/system32"), 0);
  // A missing first level falls back to the drive's root.
  EXPECT_GT(DiskFreeBytes("C:\\no such folder here\\x"), 0);
  EXPECT_EQ(DiskFreeBytes(""), -1);
  EXPECT_EQ(DiskFreeBytes("Q:\\"), -1);
}

// A package whose unrounded space need is the given number of bytes.
std::string PackageNeeding(const std::string& name, std::uint32_t bytes, std::uint8_t flags) {
  TPackageHeader header{};
  header.space[0] = bytes;
  header.headerFlags = flags;
  const std::string path = TempDir(true) + name;
  // The header alone is a package the reader accepts: it ends the file and
  // names its own length.
  header.magic = PackageMagic;
  header.trailerLength = PackageHeaderSize;
  EXPECT_TRUE(WriteFileBytes(path, &header, sizeof header));
  return path;
}

TEST_F(StubSetupFolderTest, RoomOnTempNeedsSpaceAndTheFolder) {
  const std::string folder = SetupFolder();
  const std::string small = PackageNeeding("havrek_small.bin", 1024, 0);
  const std::string huge = PackageNeeding("havrek_huge.bin", 0xFFFFFFFFu, 0);
  ASSERT_EQ(TGFileInfo(small).Header().space[0], 1024u) << "the reader did not take the hand-laid header";

  EXPECT_TRUE(HasRoomOnTemp(folder, small));
  EXPECT_FALSE(HasRoomOnTemp(folder + "\\missing", small));
  EXPECT_FALSE(HasRoomOnTemp("", small));
  if (DiskFreeBytes(folder) < 4294967295.0) {
    EXPECT_FALSE(HasRoomOnTemp(folder, huge));
  }
  // Nothing to ask when the package fits and does not ask always.
  EXPECT_TRUE(ConfirmTempSpace(folder, TGFileInfo(small)));
  DeleteFileA(small.c_str());
  DeleteFileA(huge.c_str());
  DeleteTree(folder, false);
}

TEST_F(StubSetupFolderTest, AlternativeFolderOnlyOnAnotherFixedDrive) {
  const bool cExisted = IsFolder("C:\\TEMP");
  bool otherFixed = false;
  for (const char* root : {"D:\\", "E:\\"}) otherFixed |= GetDriveTypeA(root) == DRIVE_FIXED;
  const bool found = FindAltTempBase();
  // The probe leaves the drives as it found them.
  EXPECT_EQ(IsFolder("C:\\TEMP"), cExisted);

  // With the temporary folder on C: and no other fixed drive among C to E
  // there is nowhere else to go.
  if (!otherFixed && UpperCase(TempDir(false).substr(0, 1)) == "C") {
    EXPECT_FALSE(found);
  }
  if (!found) {
    EXPECT_EQ(AltSetupFolder(), "");
    DropAltSetupFolder();
    return;
  }
  const std::string alt = AltSetupFolder();
  ASSERT_FALSE(alt.empty());
  EXPECT_TRUE(IsFolder(alt));
  EXPECT_EQ(AltSetupFolder(), alt);
  DropAltSetupFolder();
  EXPECT_FALSE(IsFolder(alt));
}

}  // namespace
}  // namespace havrek
