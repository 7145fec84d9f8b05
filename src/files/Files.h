// File utilities: whole-file reads and writes, appending, deleting files and
// folder trees, ejecting a CD and the self-deleting batch file.
// The byte-level operations run over the platform seam and are portable; the
// ones that walk folders, drives or processes are Windows only.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// Opens the file for writing (shared) or creates it, writes at its end and
// sets the date when it is not 0 and every byte went out.
bool AppendText(const std::string& path, const std::string& bytes, std::uint32_t dosDate = 0);

}  // namespace havrek
