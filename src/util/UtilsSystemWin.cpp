#include "util/UtilsSystemWin.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "diag/HDebug.h"
#include "util/Utils.h"
#include "util/UtilsWaitWin.h"
#include "util/UtilsWin.h"
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

// version.dll is not one of the libraries the loader always takes from the
// system folder; importing it would let a copy beside the downloaded stub be
// loaded instead, so it is reached through LoadDllProc.
struct VersionApi {
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;
};

const VersionApi& Version() {
  static const VersionApi api = [] {
    VersionApi a;
    a.size = reinterpret_cast<VersionApi::SizeFn>(
        reinterpret_cast<void*>(LoadDllProc("version.dll", "GetFileVersionInfoSizeA")));
    a.info = reinterpret_cast<VersionApi::InfoFn>(
        reinterpret_cast<void*>(LoadDllProc("version.dll", "GetFileVersionInfoA")));
    a.query =
        reinterpret_cast<VersionApi::QueryFn>(reinterpret_cast<void*>(LoadDllProc("version.dll", "VerQueryValueA")));
    return a;
  }();
  return api;
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

std::string CurrentUserName() {
  char buffer[257] = {};
  DWORD size = sizeof buffer;
  if (!::GetUserNameA(buffer, &size)) return std::string();
  return Trim(buffer);
}

std::string ComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 2] = {};
  DWORD size = sizeof buffer;
  if (!::GetComputerNameA(buffer, &size)) return std::string();
  return Trim(buffer);
}

bool IsWinNT() {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&info)) return true;
#pragma GCC diagnostic pop
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::string WindowsVersionKey() {
  return IsWinNT() ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"
                   : "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
}

std::string OwnerName() { return Trim(ReadRegString(WindowsVersionKey(), "RegisteredOwner", CurrentUserName())); }

std::string OrganizationName() { return Trim(ReadRegString(WindowsVersionKey(), "RegisteredOrganization", "")); }

std::string AccountDomain(const std::string& account) {
  if (account.empty()) return std::string();
  DWORD sidSize = 0;
  DWORD domainSize = 0;
  SID_NAME_USE use;
  ::LookupAccountNameA(nullptr, account.c_str(), nullptr, &sidSize, nullptr, &domainSize, &use);
  if (sidSize == 0 || domainSize == 0) return std::string();
  std::vector<BYTE> sid(sidSize);
  std::vector<char> domain(domainSize + 1, '\0');
  if (!::LookupAccountNameA(nullptr, account.c_str(), sid.data(), &sidSize, domain.data(), &domainSize, &use))
    return std::string();
  return std::string(domain.data());
}

std::string CurrentUserDomain() { return AccountDomain(CurrentUserName()); }

std::string WindowText(HWND window) {
  if (!window || !::IsWindow(window)) return std::string();
  char buffer[1024] = {};
  const int n = ::GetWindowTextA(window, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

std::string SystemErrorText(DWORD code) {
  char buffer[1024] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                             sizeof buffer, nullptr);
  while (n > 0 && (static_cast<unsigned char>(buffer[n - 1]) <= ' ' || buffer[n - 1] == '.')) --n;
  return std::string(buffer, n);
}

std::string LastErrorText() { return SystemErrorText(::GetLastError()); }

std::string FileVersionText(const std::string& file) {
  const std::string path = file.empty() ? ModulePath() : file;
  const VersionApi& api = Version();
  if (path.empty() || !api.size || !api.info || !api.query) return std::string();
  DWORD ignored = 0;
  const DWORD size = api.size(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<BYTE> block(size);
  if (!api.info(path.c_str(), 0, size, block.data())) return std::string();
  void* root = nullptr;
  UINT rootSize = 0;
  if (!api.query(block.data(), "\\", &root, &rootSize) || !root || rootSize < sizeof(VS_FIXEDFILEINFO))
    return std::string();
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, root, sizeof info);
  if (info.dwSignature != 0xFEEF04BD) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(HIWORD(info.dwFileVersionMS)),
                static_cast<unsigned>(LOWORD(info.dwFileVersionMS)), static_cast<unsigned>(HIWORD(info.dwFileVersionLS)),
                static_cast<unsigned>(LOWORD(info.dwFileVersionLS)));
  return text;
}

}  // namespace havrek
