#include "setup/StubSetupFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "files/Files.h"
#include "package/PackX.h"
#include "setup/InternetSetup.h"
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

// The k-th name this test program would take.
std::string Candidate(int k) { return TempDir(true) + SetupFolderCandidate(ExeDosDate(), k); }

bool IsFile(const std::string& path) {
  const DWORD attr = GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveAll(const std::string& folder) {
  DeleteTree(folder, true);
  EXPECT_FALSE(IsFolder(folder)) << folder;
}

TEST_F(StubSetupFolderTest, SetupFolderIsFixedPerExecutableUnderTemp) {
  DropSetupFolder();
  const std::string folder = SetupFolder();
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_EQ(folder, Candidate(0));
  EXPECT_TRUE(StartsWith(TempDir(true) + "SETUP_", folder, true)) << folder;
  const std::string number = folder.substr(TempDir(true).size() + 6);
  std::int64_t n = -1;
  EXPECT_TRUE(TryTextToInt64(number, n)) << folder;
  EXPECT_GE(n, 0);
  EXPECT_LE(n, 65535);

  // Later calls keep the path and what was unpacked into it; a flow that
  // empties the folder cannot remove it while the run holds it.
  ASSERT_TRUE(WriteFileText(folder + "\\kept.txt", "x"));
  EXPECT_EQ(SetupFolder(), folder);
  EXPECT_TRUE(plat::Exists(folder + "\\kept.txt"));
  DeleteTree(folder, false);
  EXPECT_FALSE(plat::Exists(folder + "\\kept.txt"));
  EXPECT_EQ(SetupFolder(), folder);
  EXPECT_TRUE(IsFolder(folder));

  // Dropped, it is gone with its contents and free for the next run.
  ASSERT_TRUE(CreateDirectoryA((folder + "\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteFileText(folder + "\\sub\\part.bin", "x"));
  DropSetupFolder();
  EXPECT_FALSE(IsFolder(folder));
  EXPECT_EQ(SetupFolder(), folder);
  DropSetupFolder();
}

TEST_F(StubSetupFolderTest, AHeldFolderIsOnlyEverHeldOnce) {
  const std::string folder = TempDir(true) + "havrek held folder";
  RemoveAll(folder);
  KernelHandle first = ClaimFolder(folder);
  ASSERT_TRUE(first) << "the claim makes the folder";
  EXPECT_FALSE(ClaimFolder(folder)) << "a second hold";
  // Everybody may still work inside it; nobody can remove it.
  ASSERT_TRUE(WriteFileText(folder + "\\inside.txt", "x"));
  WIN32_FIND_DATAA fd;
  const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &fd);
  ASSERT_NE(find, INVALID_HANDLE_VALUE) << "listing a held folder";
  FindClose(find);
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  ASSERT_TRUE(SetCurrentDirectoryA(TempDir(false).c_str()));
  EXPECT_TRUE(DeleteFileA((folder + "\\inside.txt").c_str()));
  EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
  EXPECT_TRUE(IsFolder(folder));

  first.reset();
  KernelHandle again = ClaimFolder(folder);
  EXPECT_TRUE(again) << "free once the holder let go";
  again.reset();
  RemoveAll(folder);

  // A file of that name is no folder to hold.
  ASSERT_TRUE(WriteFileText(folder, "x"));
  EXPECT_FALSE(ClaimFolder(folder));
  EXPECT_TRUE(IsFile(folder));
  DeleteFileA(folder.c_str());
}

// What other runs hold is passed over and left as it is; what a run that has
// ended left is emptied and reused.
TEST_F(StubSetupFolderTest, HeldNamesArePassedOverAndLeftoversReused) {
  struct Case {
    const char* what;
    bool held[3];   // the first three names held by "other runs"
    bool left[3];   // a leftover file in them
    int want;       // the name this run takes
  } cases[] = {
      {"nothing there", {false, false, false}, {false, false, false}, 0},
      {"a dead run's leftover", {false, false, false}, {true, true, false}, 0},
      {"the first name held", {true, false, false}, {true, false, false}, 1},
      {"the first two held, a leftover in the third", {true, true, false}, {true, true, true}, 2},
      {"a gap: the second is free", {true, false, true}, {true, true, true}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DropSetupFolder();
    KernelHandle holds[3];
    for (int k = 0; k < 3; ++k) {
      RemoveAll(Candidate(k));
      if (c.left[k]) {
        ASSERT_TRUE(CreateDirectoryA(Candidate(k).c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((Candidate(k) + "\\sub").c_str(), nullptr));
        ASSERT_TRUE(WriteFileText(Candidate(k) + "\\sub\\theirs.txt", "theirs"));
        ASSERT_TRUE(SetFileAttributesA((Candidate(k) + "\\sub\\theirs.txt").c_str(), FILE_ATTRIBUTE_READONLY));
      }
      if (c.held[k]) {
        holds[k] = ClaimFolder(Candidate(k));
        ASSERT_TRUE(holds[k]);
      }
    }
    EXPECT_EQ(SetupFolder(), Candidate(c.want));
    EXPECT_FALSE(plat::Exists(Candidate(c.want) + "\\sub")) << "the leftover is emptied";
    for (int k = 0; k < 3; ++k) {
      if (c.held[k] && c.left[k]) {
        EXPECT_EQ(ReadFileText(Candidate(k) + "\\sub\\theirs.txt"), "theirs") << "held name " << k << " untouched";
      }
    }
    DropSetupFolder();
    EXPECT_FALSE(IsFolder(Candidate(c.want)));
    for (KernelHandle& hold : holds) hold.reset();
    for (int k = 0; k < 3; ++k) RemoveAll(Candidate(k));
  }
}

// The span copy keeps the folder it lies in, contents and all, and the hold
// it inherited keeps everybody else out.
TEST_F(StubSetupFolderTest, TheSpanCopyAdoptsItsFolderAsItIs) {
  DropSetupFolder();
  const std::string folder = Candidate(0);
  RemoveAll(folder);
  KernelHandle inherited = ClaimFolder(folder);
  ASSERT_TRUE(inherited);
  ASSERT_TRUE(WriteFileText(folder + "\\Y_setup.exe", "MZ"));
  AdoptSetupFolder(folder + "\\");
  EXPECT_EQ(SetupFolder(), folder);
  EXPECT_TRUE(IsFile(folder + "\\Y_setup.exe"));
  EXPECT_EQ(SetupFolderHold(), nullptr) << "held through the inherited handle only";
  DropSetupFolder();
  EXPECT_FALSE(IsFile(folder + "\\Y_setup.exe"));
  inherited.reset();
  RemoveAll(folder);

  // Started some other way, it holds the folder itself.
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  AdoptSetupFolder(folder);
  EXPECT_NE(SetupFolderHold(), nullptr);
  EXPECT_FALSE(ClaimFolder(folder));
  DropSetupFolder();
  EXPECT_FALSE(IsFolder(folder));
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
  DropSetupFolder();
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

// The pid of a process that has ended.
DWORD EndedPid() {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string cmd = "\"" + SystemDir(true) + "cmd.exe\" /c exit 0";
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi))
    return 0;
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
}

// A run killed during its download leaves its folder beside the setup
// folder; the next run removes it once its owner is gone, and only then.
TEST_F(StubSetupFolderTest, DownloadFoldersOfEndedRunsAreRemoved) {
  const std::string self = FileNamePart(ExePath(false));
  const DWORD ended = EndedPid();
  ASSERT_NE(ended, 0u);
  EXPECT_TRUE(DownloadOwnerGone(ended, self));
  EXPECT_FALSE(DownloadOwnerGone(GetCurrentProcessId(), self));
  // The pid was given again, to another program.
  EXPECT_TRUE(DownloadOwnerGone(GetCurrentProcessId(), "setup.exe"));

  const std::string setup = TempDir(true) + "SETUP_dltest" + std::to_string(GetCurrentProcessId());
  const std::string endedRun = setup + ".dl" + std::to_string(ended);
  const std::string endedRun2 = endedRun + "_1";
  const std::string liveRun = setup + ".dl" + std::to_string(GetCurrentProcessId()) + "_3";
  const std::string heldRun = setup + ".dl" + std::to_string(EndedPid()) + "_2";
  const std::string notOne = setup + ".dlx";
  for (const std::string& f : {endedRun, endedRun2, liveRun, heldRun, notOne}) {
    plat::MakeDirs(f);
    ASSERT_TRUE(WriteFileText(f + "\\package.exe", "MZ")) << f;
  }
  {
    // A live run of this build holds its folder, whatever its pid says.
    const KernelHandle hold = ClaimFolder(heldRun);
    ASSERT_TRUE(hold);
    RemoveLeftDownloadFolders(setup);
  }
  EXPECT_FALSE(plat::Exists(endedRun));
  EXPECT_FALSE(plat::Exists(endedRun2));
  EXPECT_TRUE(IsFile(liveRun + "\\package.exe"));
  EXPECT_TRUE(IsFile(heldRun + "\\package.exe"));
  EXPECT_TRUE(IsFile(notOne + "\\package.exe"));
  for (const std::string& f : {liveRun, heldRun, notOne}) RemoveAll(f);
}

}  // namespace
}  // namespace havrek
