// The folders the setup flow unpacks into and the free-space checks on them.
#pragma once

#include <cstdint>
#include <string>

#include "util/WinHandle.h"

namespace havrek {

class TGFileInfo;

// A setup folder belongs to one run: the run holds it through an open handle
// on the folder for as long as it works there, and no other run empties or
// reuses a folder that is held. The handle leaves listing, reading and
// writing inside the folder to everybody; it refuses only removing the
// folder and a second hold. A run that ends, however it ends, lets go.

// Makes the folder if it is missing and holds it for this process; an empty
// handle when another process (or another handle of this one) holds it.
KernelHandle ClaimFolder(const std::string& folder);

// The first folder TempDir + SetupFolderCandidate(ExeDosDate(), k) that this
// run can hold: SETUP_<n> normally, a later name while other live runs hold
// the earlier ones. What a run that has ended left in it is removed first.
// Later calls give the same folder until DropSetupFolder. Empty when no
// candidate can be held.
std::string SetupFolder();
// Removes the setup folder with its contents (no attribute clearing) and
// lets go of it; the next SetupFolder chooses again.
void DropSetupFolder();
// Makes folder, as it is, the setup folder of this run: the span copy runs
// from its folder, held through the handle it inherited from the process
// that made it (or claimed here when started some other way).
void AdoptSetupFolder(const std::string& folder);
// The handle that holds the setup folder, or null; a child process that
// inherits it holds the folder as well, until it ends.
HANDLE SetupFolderHold();
// Lets go of the setup folder without removing it, once a child process that
// inherited the hold owns it.
void LetGoOfSetupFolder();

// The running executable's last-write time, packed as a DOS date-time; 0 when
// it cannot be read.
std::uint32_t ExeDosDate();

// Looks for a fixed drive among C, D and E with more free space than the
// temporary folder's drive, by writing a test file on each. True when one
// was found; the answer is kept once it is yes.
bool FindAltTempBase();
// The alternative base + "_" + a random number, created and held like the
// setup folder; a name already in use is never reused. Empty without a base.
std::string AltSetupFolder();
// Removes the alternative folder if one was made and lets go of it; the next
// AltSetupFolder makes a new one.
void DropAltSetupFolder();

// The package fits on folder's drive and folder exists.
bool HasRoomOnTemp(const std::string& folder, const std::string& packageFile);

// Asks the user to confirm the space when the package asks always or does not
// fit; true to go on (Yes, or nothing to ask).
bool ConfirmTempSpace(const std::string& folder, const TGFileInfo& package);

}  // namespace havrek
