// The agent's settings files held in memory, so that the logic over them is
// tested without a disk or the system's INI functions.
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "agent/Settings.h"

namespace havrek::test {

// (file, section, key) -> value, over every settings file.
using IniKey = std::tuple<std::string, std::string, std::string>;
inline std::map<IniKey, std::string>& MemoryIniFiles() {
  static std::map<IniKey, std::string> files;
  return files;
}

// Field 1 of the update record, as the package would give it.
inline std::string& MemoryInfoField() {
  static std::string field;
  return field;
}

// Empties the files and binds the settings to them.
inline void BindMemoryIni(const std::string& infoField) {
  MemoryIniFiles().clear();
  MemoryInfoField() = infoField;
  SettingsIni ini;
  ini.read = [](const std::string& file, const std::string& section, const std::string& key,
                const std::string& def) {
    const auto it = MemoryIniFiles().find({file, section, key});
    return it == MemoryIniFiles().end() ? def : it->second;
  };
  ini.write = [](const std::string& file, const std::string& section, const std::string& key,
                 const std::string& value) {
    MemoryIniFiles()[{file, section, key}] = value;
    return true;
  };
  ini.infoName = [] { return MemoryInfoField(); };
  SetSettingsIni(ini);
}

}  // namespace havrek::test
