// The rule for the names of stored files, shared by the writer, which refuses
// a bad name, and the extraction, which never writes one.
#pragma once

#include <string>

namespace havrek {

// A name that lands inside the target folder: relative, no drive, no "..",
// no device name, no stream, no character Windows refuses in file names.
// "/" is accepted and becomes "\". False with a reason otherwise.
bool NormalizeTargetName(const std::string& name, std::string& normalized, std::string& error);

// A name under the same rule without any folder part ("\" or "/").
bool CheckPlainFileName(const std::string& name, std::string& error);

}  // namespace havrek
