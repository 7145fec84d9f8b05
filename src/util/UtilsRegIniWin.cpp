#include "util/UtilsRegIniWin.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "diag/HDebug.h"
#include "util/Utils.h"
#include "util/UtilsSystemWin.h"
#include "util/WinHandle.h"

namespace havrek {
namespace {

constexpr DWORD kRegBufferSize = 10241;
constexpr DWORD kIniBufferSize = 10241;

std::string RegValueText(DWORD type, const std::string& data) {
  if (type == REG_DWORD && data.size() == 4) {
    DWORD value = 0;
    std::memcpy(&value, data.data(), 4);
    return std::to_string(value);
  }
  if (type == REG_MULTI_SZ && data.size() > 2) {
    const std::size_t end = data.find_last_not_of('\0');
    if (end == std::string::npos) return std::string();
    return ReplaceAll(data.substr(0, end + 1), std::string(1, '\0'), "<0>");
  }
  return data.substr(0, data.find('\0'));
}

}  // namespace

HKEY RegRootKey(RegRoot root) {
  switch (root) {
    case RegRoot::ClassesRoot: return HKEY_CLASSES_ROOT;
    case RegRoot::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RegRoot::Users: return HKEY_USERS;
    case RegRoot::CurrentConfig: return HKEY_CURRENT_CONFIG;
    case RegRoot::DynData: return HKEY_DYN_DATA;
    case RegRoot::CurrentUser: break;
  }
  return HKEY_CURRENT_USER;
}

HKEY RegRootKey(const std::string& rootName) { return RegRootKey(RegRootFromName(rootName)); }

std::string ReadRegString(const std::string& path, const std::string& name, const std::string& def) {
  const RegPath where = SplitRegPath(path);
  RegKey key;
  if (::RegOpenKeyExA(RegRootKey(where.root), where.subKey.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return def;
  // A string may be stored without its terminating zero: only the bytes the
  // value really has are taken, never what lies after them in the buffer.
  std::vector<char> buffer(kRegBufferSize + 1, '\0');
  DWORD type = 0;
  DWORD size = kRegBufferSize;
  if (::RegQueryValueExA(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS)
    return def;
  return RegValueText(type, std::string(buffer.data(), std::min(size, kRegBufferSize)));
}

std::string ReadIniString(const std::string& file, const std::string& section, const std::string& key,
                          const std::string& def) {
  if (section.empty() || file.empty()) return def;
  try {
    std::vector<char> buffer(kIniBufferSize, '\0');
    // The reader's own default would lose trailing blanks; an empty one is
    // told apart by the count.
    const DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(), kIniBufferSize,
                                               file.c_str());
    return n > 0 ? std::string(buffer.data(), n) : def;
  } catch (...) {
    DebugLine("EXCEPTION --- Utils.ReadIniString()  " + LastErrorText());
    return def;
  }
}

std::int64_t ReadIniInt(const std::string& file, const std::string& section, const std::string& key,
                        std::int64_t def) {
  return TextToInt64(ReadIniString(file, section, key, IntText(def)), def);
}

bool WriteIniString(const std::string& file, const std::string& section, const std::string& key,
                    const std::string& value) {
  // An empty name would address the wrong place: the Windows folder's
  // WIN.INI for the file, the whole section for the key.
  if (file.empty() || section.empty() || key.empty()) return false;
  return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != FALSE;
}

bool WriteIniInt(const std::string& file, const std::string& section, const std::string& key, std::int64_t value) {
  return WriteIniString(file, section, key, IntText(value));
}

}  // namespace havrek
