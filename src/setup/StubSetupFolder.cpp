#include "setup/StubSetupFolder.h"

#include <windows.h>

#include "files/Files.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "setup/SetupSpace.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::string setupFolder;
std::string altTempBase;
std::string altSetupFolder;

// Random names tried before a drive or an alternative folder is given up;
// a name already taken belongs to somebody else and is never emptied.
constexpr int kNameTries = 20;

bool IsFolder(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathTaken(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string RandomName(const std::string& prefix) { return prefix + RandomTextInRange(10000, 100000); }

// Free bytes of the drive of root, or 0 when it is not a fixed drive or a
// test file cannot be written there. The test folder is removed again, and
// nothing that was there before is touched.
double WritableFixedDriveFree(char letter) {
  const std::string root = std::string(1, letter) + ":\\";
  if (::GetDriveTypeA(root.c_str()) != DRIVE_FIXED) return 0;

  std::string test = root + "TEMP";
  if (PathTaken(test)) {
    if (!IsFolder(test)) return 0;
    const std::string parent = test;
    test.clear();
    for (int i = 0; i < kNameTries && test.empty(); ++i) {
      std::string candidate = RandomName(parent + "\\TEMP");
      if (!PathTaken(candidate)) test = candidate;
    }
    if (test.empty()) return 0;
  }

  double freeBytes = 0;
  plat::MakeDirs(test);
  WriteFileText(test + "\\~aa.tmp", "aa");
  if (plat::Exists(test + "\\~aa.tmp")) freeBytes = DiskFreeBytes(test);
  DeleteTree(test, false);
  return freeBytes;
}

}  // namespace

std::uint32_t ExeDosDate() {
  const plat::File exe(ExePath(false), plat::OpenMode::Read);
  return exe ? plat::DosDate(exe.get()) : 0;
}

std::string SetupFolder() {
  if (setupFolder.empty()) {
    setupFolder = TempDir(true) + SetupFolderName(ExeDosDate());
    DeleteTree(setupFolder, true);
  }
  // Made again after a flow removed it, so a second install of the same run
  // still has somewhere to unpack.
  plat::MakeDirs(setupFolder);
  return setupFolder;
}

bool FindAltTempBase() {
  if (!altTempBase.empty()) return true;

  DriveFree drives[3];
  for (int i = 0; i < 3; ++i) {
    drives[i].letter = kAltDriveLetters[i];
    drives[i].free = WritableFixedDriveFree(kAltDriveLetters[i]);
  }
  const std::string temp = TempDir(false);
  const char tempDrive = temp.empty() ? 0 : UpperCase(temp.substr(0, 1))[0];
  const char best = ChooseAltDrive(drives, 3, tempDrive);
  if (best != 0) altTempBase = AltTempBaseFor(best, IsFolder(std::string(1, best) + ":\\TEMP"));
  return !altTempBase.empty();
}

std::string AltSetupFolder() {
  if (altTempBase.empty()) return std::string();
  if (altSetupFolder.empty()) {
    for (int i = 0; i < kNameTries && altSetupFolder.empty(); ++i) {
      std::string candidate = RandomName(altTempBase + "_");
      if (!PathTaken(candidate)) altSetupFolder = candidate;
    }
    if (altSetupFolder.empty()) return std::string();
  }
  plat::MakeDirs(altSetupFolder);
  return altSetupFolder;
}

void DropAltSetupFolder() {
  if (!altSetupFolder.empty()) DeleteTree(altSetupFolder, false);
}

double DiskFreeBytes(const std::string& path) {
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  static const auto freeSpaceEx =
      reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void*>(LoadDllProc("kernel32.dll", "GetDiskFreeSpaceExA")));

  // An empty path would ask about the current folder's drive.
  const std::string query = FreeSpaceQueryPath(path);
  if (query.empty()) return -1;
  const std::string root = DriveRootOf(query);

  if (freeSpaceEx) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (freeSpaceEx(query.c_str(), &available, &total, &totalFree) ||
        freeSpaceEx(root.c_str(), &available, &total, &totalFree))
      return static_cast<double>(available.QuadPart);
    return -1;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!::GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return -1;
  return static_cast<double>(sectorsPerCluster) * bytesPerSector * freeClusters;
}

bool HasRoomOnTemp(const std::string& folder, const std::string& packageFile) {
  const double needed = TGFileInfo(packageFile).SpaceNeeded(folder);
  return SpaceFits(needed, DiskFreeBytes(folder)) && IsFolder(folder);
}

bool ConfirmTempSpace(const std::string& folder, const TGFileInfo& package) {
  const std::string question = TempSpaceQuestion(SpaceTextsOf(package), folder, package.AlwaysConfirm(),
                                                 package.SpaceNeeded(folder), DiskFreeBytes(folder));
  if (question.empty()) return true;
  return ConfirmBox(kOwnerHeading, question, package.GetText("Confirm"), 0, package.Charset(),
                    package.GetText("BtnText"));
}

}  // namespace havrek
