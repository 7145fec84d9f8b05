#include "util/UtilsSystemWin.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsRegIniWin.h"
#include "util/UtilsWin.h"

namespace havrek {
namespace {

std::atomic<UINT> g_autoPlayMessage{0};

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

void RegisterAutoPlayMessage(bool on) {
  g_autoPlayMessage.store(on ? ::RegisterWindowMessageA("QueryCancelAutoPlay") : 0);
}

UINT AutoPlayMessage() { return g_autoPlayMessage.load(); }

bool DeveloperMode() {
  static const bool on = [] {
    char value[8] = {};
    const DWORD n = ::GetEnvironmentVariableA("DVX", value, sizeof value);
    return n == 3 && std::strcmp(value, "952") == 0;
  }();
  return on;
}

}  // namespace havrek
