// The Win32 half of the utilities: the process's own command line and the
// system folders.
#pragma once

#include <string>

namespace havrek {

// Fills the command-line context of the core from the process (the command
// line as handed over, the executable's full path) and installs the system
// code page's double-byte lead-byte test. Called once at start-up.
void InitProcessCommandLine();
void InstallLeadByteTest();

// The running executable's full path, however long; empty on failure.
std::string ModulePath();

// The path with every short (8.3) name part in its long form; the path as
// given when the system cannot tell (a path that does not exist).
std::string LongPathOf(const std::string& path);

std::string WindowsDir(bool add);
std::string SystemDir(bool add);
std::string TempDir(bool add);

}  // namespace havrek
