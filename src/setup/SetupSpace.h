// The arithmetic of the setup folders and the free-space rules, apart from
// the drives and folders they are applied to.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// The number in "SETUP_<n>": the time-of-day half of the executable's packed
// last-write time, so every start of the same file lands in the same folder.
// 0 (the time could not be read) gives 65535.
std::uint32_t SetupFolderNumber(std::uint32_t dosDateTime);
std::string SetupFolderName(std::uint32_t dosDateTime);

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

// The path the free-space query asks about: "/" read as "\", cut at its first
// level (C:\Users\x\Temp asks about C:\Users). Empty for an empty path.
std::string FreeSpaceQueryPath(const std::string& path);
// "X:\" for the path's first letter, upper-cased; empty for an empty path.
std::string DriveRootOf(const std::string& path);

// The package fits: needed is below the free bytes (an unknown -1 never fits).
bool SpaceFits(double needed, double freeBytes);

// The confirmation texts, with their built-in defaults, as the language gives
// them.
struct SpaceTexts {
  std::string extractTo = "Havrek will extract files to your Temp Drive (<DRIVE>)<P>";      // s2
  std::string limited = "Limited Free Space on your Temp Drive! (<DRIVE>)<P>";              // s3
  std::string required = "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>";  // s4
  std::string available = "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>";      // s5
  std::string question = "<P>Continue with Setup?<P>";                                      // s6
};

// The mark-up question ConfirmTempSpace asks about folder, or empty when
// nothing needs asking (the package does not ask always and it fits).
std::string TempSpaceQuestion(const SpaceTexts& texts, const std::string& folder, bool alwaysConfirm,
                              double needed, double freeBytes);

}  // namespace havrek
