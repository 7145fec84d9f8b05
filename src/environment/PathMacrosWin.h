// The path macros over the running machine's values.
#pragma once

#include <string>

#include "environment/PathMacros.h"

namespace havrek {

const MacroSources& SystemMacroSources();

// The agent passes "\" as separator.
std::string ExpandMacros(const std::string& text, const std::string& separator);
std::string NormalizeDots(const std::string& s);

// GetFullPathNameA of any length; empty when it fails.
std::string FullPathName(const std::string& path);

}  // namespace havrek
