#include "setup/SetupSpace.h"

#include "package/PackX.h"
#include "util/Utils.h"

namespace havrek {

std::uint32_t SetupFolderNumber(std::uint32_t dosDateTime) {
  return dosDateTime == 0 ? 65535u : (dosDateTime & 0xFFFFu);
}

std::string SetupFolderName(std::uint32_t dosDateTime) {
  return "SETUP_" + IntText(SetupFolderNumber(dosDateTime));
}

std::string SetupFolderCandidate(std::uint32_t dosDateTime, int k) {
  const std::string first = SetupFolderName(dosDateTime);
  return k <= 0 ? first : first + "_" + IntText(k + 1);
}

namespace {

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:\TEMP_<digits>" or "X:\TEMP\TEMP_<digits>", the forms AltSetupFolder
// gives.
bool IsAltSetupFolder(const std::string& folder) {
  if (folder.size() < 4 || !IsDriveLetter(folder[0]) || folder[1] != ':' || folder[2] != '\\') return false;
  std::string rest = folder.substr(3);
  if (StartsWith("TEMP\\", rest, true)) rest = rest.substr(5);
  return StartsWith("TEMP_", rest, true) && AllDigits(rest.substr(5));
}

}  // namespace

bool InSetupFolder(const std::string& exePath, const std::string& tempDir) {
  const std::string folder = RemoveTrailingBackslash(FileDirPart(exePath));
  if (folder.empty() || FileNamePart(exePath).empty()) return false;
  if (IsAltSetupFolder(folder)) return true;
  const std::string temp = RemoveTrailingBackslash(tempDir);
  return !temp.empty() && StartsWith("SETUP_", FileNamePart(folder), true) &&
         SameText(RemoveTrailingBackslash(FileDirPart(folder)), temp);
}

bool SpanCopyRoleHolds(std::int64_t spanLevel, bool spanFlag, const std::string& exePath,
                       const std::string& tempDir) {
  return spanLevel == 2 && spanFlag && StartsWith("Y_", FileNamePart(exePath), true) &&
         InSetupFolder(exePath, tempDir);
}

std::string SpaceMBText(double bytes) {
  double mb = bytes > 0 ? bytes / 1048576.0 : 0.0;
  const int decimals = mb > 10 ? 1 : (mb < 1 ? 3 : 2);
  return FixedText(mb, decimals);
}

char ChooseAltDrive(const DriveFree* drives, int count, char tempDrive) {
  char best = tempDrive;
  double most = 0;
  for (int i = 0; i < count; ++i) {
    if (drives[i].free > most) {
      most = drives[i].free;
      best = drives[i].letter;
    }
  }
  return best == tempDrive ? 0 : best;
}

std::string AltTempBaseFor(char drive, bool tempFolderExists) {
  std::string base = std::string(1, drive) + ":\\TEMP";
  if (tempFolderExists) base += "\\TEMP";
  return base;
}

bool SpaceFits(double needed, double freeBytes) { return needed < freeBytes; }

SpaceTexts SpaceTextsOf(const TGFileInfo& package) {
  return {package.GetText("s2"), package.GetText("s3"), package.GetText("s4"), package.GetText("s5"),
          package.GetText("s6")};
}

std::string TempSpaceQuestion(const SpaceTexts& texts, const std::string& folder, bool alwaysConfirm,
                              double needed, double freeBytes) {
  std::string text;
  if (alwaysConfirm) text = texts.extractTo;
  if (!SpaceFits(needed, freeBytes)) text = texts.limited;
  if (text.empty()) return text;

  text += texts.required + texts.available + texts.question;
  const std::string drive = folder.empty() ? std::string() : UpperCase(folder.substr(0, 1)) + ":";
  text = ReplaceAll(text, "<DRIVE>", drive);
  text = ReplaceAll(text, "<SPACE_REQ>", SpaceMBText(needed));
  return ReplaceAll(text, "<SPACE_AVAIL>", SpaceMBText(freeBytes));
}

}  // namespace havrek
