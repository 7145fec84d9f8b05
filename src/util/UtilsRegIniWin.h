// Registry values and INI files, each turning every failure into the
// caller's default.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "util/UtilsSystem.h"

namespace havrek {

HKEY RegRootKey(RegRoot root);
HKEY RegRootKey(const std::string& rootName);

// A double word as unsigned decimal text, a multi-string joined with "<0>",
// anything else up to its first zero byte.
std::string ReadRegString(const std::string& path, const std::string& name, const std::string& def);

// A present but empty value reads as def; so does any key of an empty section.
std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def);
std::int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key,
                        std::int64_t def);
bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value);
bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, std::int64_t value);

}  // namespace havrek
