// Loading system libraries by name, only ever from the system folder.
#pragma once

#include <windows.h>

#include <string>

namespace havrek {

// Loads a library of the system folder (a bare file name; names with a folder
// are refused) and looks the function up. The library stays loaded for the
// life of the process.
FARPROC LoadDllProc(const std::string& library, const std::string& proc, HMODULE* module);
FARPROC LoadDllProc(const std::string& library, const std::string& proc);

}  // namespace havrek
