// The arithmetic of the setup folders and the free-space rules, apart from
// the drives and folders they are applied to.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

class TGFileInfo;

// The number in "SETUP_<n>": the time-of-day half of the executable's packed
// last-write time, so every start of the same file lands in the same folder.
// 0 (the time could not be read) gives 65535.
std::uint32_t SetupFolderNumber(std::uint32_t dosDateTime);
std::string SetupFolderName(std::uint32_t dosDateTime);

// The k-th folder name a run tries, from k = 0: SetupFolderName first, then
// "SETUP_<n>_2", "SETUP_<n>_3" and so on. A folder that another live run
// holds is passed over for the next name, so two setups whose executables
// share n never share a folder; the "_" suffix keeps every later name apart
// from the first name of any other executable.
std::string SetupFolderCandidate(std::uint32_t dosDateTime, int k);
inline constexpr int kSetupFolderCandidates = 100;

// The folder that holds exePath is a setup folder: a "SETUP_" folder
// directly in tempDir, or an alternative one ("X:\TEMP_<digits>" or
// "X:\TEMP\TEMP_<digits>"). Compared without case; a trailing backslash on
// tempDir does not matter.
bool InSetupFolder(const std::string& exePath, const std::string& tempDir);

// The span copy role: disk level 2, a package with the span flag, and an
// executable that is itself a "Y_" copy directly in a setup folder. Anything
// else runs as an ordinary setup and so never deletes itself.
bool SpanCopyRoleHolds(std::int64_t spanLevel, bool spanFlag, const std::string& exePath,
                       const std::string& tempDir);

// Megabytes with 1 decimal above 10 MB, 3 below 1 MB and 2 otherwise; a
// negative (unknown) count shows as 0.000.
std::string SpaceMBText(double bytes);

// The free bytes measured on the candidate drives C, D and E (0 for a drive
// that is not fixed or not writable, -1 when the system gave no figure).
struct DriveFree {
  char letter = 0;
  double free = 0;
};
inline constexpr char kAltDriveLetters[] = {'C', 'D', 'E'};

// The drive with most free space, the temporary folder's own drive
// (tempDrive) unless a candidate has more than 0; ties keep the earlier
// letter. 0 when that is the temporary drive: no alternative then.
char ChooseAltDrive(const DriveFree* drives, int count, char tempDrive);

// The alternative temp base on drive: "X:\TEMP", or "X:\TEMP\TEMP" when
// X:\TEMP is already there.
std::string AltTempBaseFor(char drive, bool tempFolderExists);

// The package fits: needed is below the free bytes (an unknown -1 never fits).
bool SpaceFits(double needed, double freeBytes);

// The confirmation texts of the language (keys "s2" to "s6").
struct SpaceTexts {
  std::string extractTo;  // always-confirm opening, with <DRIVE>
  std::string limited;    // not-enough-space opening, with <DRIVE>
  std::string required;   // with <SPACE_REQ>
  std::string available;  // with <SPACE_AVAIL>
  std::string question;
};
SpaceTexts SpaceTextsOf(const TGFileInfo& package);

// The mark-up question ConfirmTempSpace asks about folder, or empty when
// nothing needs asking (the package does not ask always and it fits).
std::string TempSpaceQuestion(const SpaceTexts& texts, const std::string& folder, bool alwaysConfirm,
                              double needed, double freeBytes);

}  // namespace havrek
