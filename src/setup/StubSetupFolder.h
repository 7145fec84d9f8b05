// The folders the setup flow unpacks into and the free-space checks on them.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

class TGFileInfo;

// TempDir + "SETUP_<n>" (see SetupFolderNumber), the same for every start of
// the same executable file. The first call empties a leftover of an earlier
// run; every call makes sure the folder exists.
std::string SetupFolder();

// The running executable's last-write time, packed as a DOS date-time; 0 when
// it cannot be read.
std::uint32_t ExeDosDate();

// Looks for a fixed drive among C, D and E with more free space than the
// temporary folder's drive, by writing a test file on each. True when one
// was found; the answer is kept once it is yes.
bool FindAltTempBase();
// The alternative base + "_" + a random number, created; a name already in
// use is never reused. Empty without a base.
std::string AltSetupFolder();
// Removes the alternative folder if one was made.
void DropAltSetupFolder();

// Free bytes available to this user on the path's drive, -1 when the system
// gives no figure.
double DiskFreeBytes(const std::string& path);

// The package fits on folder's drive and folder exists.
bool HasRoomOnTemp(const std::string& folder, const std::string& packageFile);

// Asks the user to confirm the space when the package asks always or does not
// fit; true to go on (Yes, or nothing to ask).
bool ConfirmTempSpace(const std::string& folder, const TGFileInfo& package);

}  // namespace havrek
