#include "setup/StubSetupFolder.h"

#include <windows.h>

#include "diag/HDebug.h"
#include "files/Files.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "setup/SetupSpace.h"
#include "ui/HMsgBox.h"
#include "util/Utils.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

// A folder this run works in, and the handle through which it holds it.
struct HeldFolder {
  std::string path;
  KernelHandle hold;
};

HeldFolder setupFolder;
std::string altTempBase;
HeldFolder altSetupFolder;

// Random names tried before a drive or an alternative folder is given up;
// a name already taken belongs to somebody else and is never emptied.
constexpr int kNameTries = 20;

bool IsFolder(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathTaken(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string RandomName(const std::string& prefix) { return prefix + RandomTextInRange(10000, 100000); }

bool IsFolderLink(const std::string& path) {
  const DWORD attr = ::GetFileAttributesA(path.c_str());
  return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) &&
         (attr & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Everything inside goes while the hold keeps the folder itself; then the
// hold goes and the folder after it. A run that takes the name in between
// finds it empty, and its own hold makes the removal here fail harmlessly.
void RemoveHeldFolder(HeldFolder& folder) {
  if (folder.path.empty()) return;
  DeleteTree(folder.path, false);
  folder.hold.reset();
  ::RemoveDirectoryA(folder.path.c_str());
}

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

KernelHandle ClaimFolder(const std::string& folder) {
  if (folder.empty() || (PathTaken(folder) && !IsFolder(folder))) return {};
  plat::MakeDirs(folder);
  // Write access with only read sharing: a second hold (it asks for write as
  // well) and a removal (it asks for delete) both fail while this is open,
  // while listing the folder (read, shared for write) still works.
  return KernelHandle(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_ADD_FILE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

std::string SetupFolder() {
  if (setupFolder.path.empty()) {
    const std::string temp = TempDir(true);
    const std::uint32_t dos = ExeDosDate();
    for (int k = 0; k < kSetupFolderCandidates; ++k) {
      const std::string candidate = temp + SetupFolderCandidate(dos, k);
      // A link in its place goes as a link, never followed (DeleteTree).
      if (IsFolderLink(candidate)) DeleteTree(candidate, true);
      KernelHandle hold = ClaimFolder(candidate);
      if (!hold) continue;
      // Held now, so whatever is inside was left by a run that has ended.
      DeleteTree(candidate, true);
      setupFolder.path = candidate;
      setupFolder.hold = std::move(hold);
      break;
    }
    if (setupFolder.path.empty()) DebugLine(PidText() + " ==== no setup folder can be held in " + temp);
  }
  return setupFolder.path;
}

void DropSetupFolder() {
  RemoveHeldFolder(setupFolder);
  setupFolder.path.clear();
}

void AdoptSetupFolder(const std::string& folder) {
  RemoveHeldFolder(setupFolder);
  setupFolder.path = RemoveTrailingBackslash(folder);
  // Fails, as it should, while the inherited handle holds the folder.
  setupFolder.hold = ClaimFolder(setupFolder.path);
}

HANDLE SetupFolderHold() { return setupFolder.hold ? setupFolder.hold.get() : nullptr; }

void LetGoOfSetupFolder() {
  setupFolder.hold.reset();
  setupFolder.path.clear();
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
  if (altSetupFolder.path.empty()) {
    for (int i = 0; i < kNameTries && altSetupFolder.path.empty(); ++i) {
      const std::string candidate = RandomName(altTempBase + "_");
      if (PathTaken(candidate)) continue;
      // Another run may make the same name at the same moment: the hold
      // decides whose it is.
      KernelHandle hold = ClaimFolder(candidate);
      if (!hold) continue;
      altSetupFolder.path = candidate;
      altSetupFolder.hold = std::move(hold);
    }
  }
  return altSetupFolder.path;
}

void DropAltSetupFolder() {
  RemoveHeldFolder(altSetupFolder);
  altSetupFolder.path.clear();
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
