#include <windows.h>
#include <winioctl.h>

#include "files/Files.h"
#include "util/Utils.h"
#include "util/UtilsDllWin.h"
#include "util/UtilsWin.h"
#include "util/WinHandle.h"
#include "diag/HDebug.h"

namespace havrek {

namespace {

// The walk composes child paths itself, so a caller's trailing backslash
// must not double up; a root like "C:\" keeps its own, as "C:" would name
// the drive's current folder instead.
std::string WithoutTrailingBackslash(const std::string& folder) {
  return folder.size() > 3 ? SetTrailingBackslash(folder, false) : folder;
}

void RemoveFolder(const std::string& path, bool clearAttributes) {
  // A read-only folder refuses removal on NTFS.
  if (clearAttributes) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::RemoveDirectoryA(path.c_str());
}

// Removes a junction or directory link, never what it points to. Its
// attributes stay untouched: changing them might reach the target.
void UnlinkFolder(const std::string& path) { ::RemoveDirectoryA(path.c_str()); }

}  // namespace

std::int64_t SeekFile(void* handle, int origin, std::int64_t distance) {
  DWORD method = 0;
  switch (origin) {
    case 0: method = FILE_BEGIN; break;
    case 1: method = FILE_CURRENT; break;
    case 2: method = FILE_END; break;
    default: return -1;
  }
  LARGE_INTEGER move, now;
  move.QuadPart = distance;
  if (!::SetFilePointerEx(static_cast<HANDLE>(handle), move, &now, method)) return -1;
  return now.QuadPart;
}

std::int64_t FileSizeOf(void* handle) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(static_cast<HANDLE>(handle), &size)) return -1;
  return size.QuadPart;
}

std::int64_t FileSizeByName(const std::string& path) {
  WIN32_FIND_DATAA fd;
  const FindHandle find(::FindFirstFileA(path.c_str(), &fd));
  if (!find) return 0;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow);
}

bool DeleteFiles(const std::string& mask, bool clearAttributes) {
  const std::string dir = FileDirPart(mask);
  WIN32_FIND_DATAA fd;
  const FindHandle find(::FindFirstFileA(mask.c_str(), &fd));
  if (!find) return false;
  bool matched = false;
  do {
    // Read-only, hidden, system and archive files, never folders.
    if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    matched = true;
    const std::string path = dir + fd.cFileName;
    if (clearAttributes) ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
  } while (::FindNextFileA(find.get(), &fd));
  return matched;
}

bool DeleteTree(const std::string& folder, bool clearAttributes) {
  if (folder.empty()) return false;
  TreeOps ops;
  ops.attributes = [](const std::string& path) {
    return static_cast<std::uint32_t>(::GetFileAttributesA(path.c_str()));
  };
  ops.list = [](const std::string& dir, const std::function<void(const std::string&, std::uint32_t)>& each) {
    WIN32_FIND_DATAA fd;
    const FindHandle find(::FindFirstFileA((dir + "\\*.*").c_str(), &fd));
    if (!find) return;
    do {
      each(fd.cFileName, fd.dwFileAttributes);
    } while (::FindNextFileA(find.get(), &fd));
  };
  ops.deleteFiles = [clearAttributes](const std::string& dir) { DeleteFiles(dir + "\\*.*", clearAttributes); };
  ops.unlink = UnlinkFolder;
  ops.removeFolder = [clearAttributes](const std::string& dir) { RemoveFolder(dir, clearAttributes); };
  return DeleteTreeWith(WithoutTrailingBackslash(folder), ops);
}

std::string WriteSelfDeleteBatch(bool removeFolder) {
  const std::string bat = TempDir(true) + SelfDeleteBatchName(::GetCurrentProcessId());
  const std::string text = SelfDeleteBatchText(ExePath(false), ExeDir(false), bat, removeFolder, SystemDir(false));
  return WriteFileText(bat, text) ? bat : std::string();
}

bool StartSelfDeleteBatch(const std::string& bat) {
  // The system's own cmd.exe by full path: a search along the path or a
  // split at the first blank could run a planted program instead.
  const std::string cmdExe = SystemDir(true) + "cmd.exe";
  std::string commandLine = SelfDeleteCommandLine(cmdExe, bat);
  const std::string workDir = TempDir(false);

  STARTUPINFOA si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessA(cmdExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        workDir.c_str(), &si, &pi))
    return false;
  const KernelHandle process(pi.hProcess);
  const KernelHandle thread(pi.hThread);
  return true;
}

void DeleteMySelf(bool removeFolder) {
  // The batch must not keep the executable's folder busy as its current one.
  ::SetCurrentDirectoryA(TempDir(false).c_str());
  const std::string bat = WriteSelfDeleteBatch(removeFolder);
  if (!bat.empty()) StartSelfDeleteBatch(bat);
}

bool EjectCD(const std::string& path) {
  if (path.empty()) return false;
  char letter = path[0];
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  if (letter < 'A' || letter > 'Z') return false;
  const std::string root = std::string(1, letter) + ":\\";
  if (::GetDriveTypeA(root.c_str()) != DRIVE_CDROM) return false;

  const std::string device = "\\\\.\\" + std::string(1, letter) + ":";
  KernelHandle drive(::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
  DebugLine("EjectCD-2: " + device + " " + std::to_string(reinterpret_cast<std::intptr_t>(drive.get())));
  if (!drive) {
    drive.reset(::CreateFileA(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
    DebugLine("EjectCD-3: " + device + " " + std::to_string(reinterpret_cast<std::intptr_t>(drive.get())));
  }
  if (!drive) return false;
  DWORD returned = 0;
  return ::DeviceIoControl(drive.get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0, nullptr, 0, &returned, nullptr) !=
         FALSE;
}

double DiskFreeBytes(const std::string& path) {
  using FreeSpaceEx = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  static const auto freeSpaceEx =
      reinterpret_cast<FreeSpaceEx>(reinterpret_cast<void*>(LoadDllProc("kernel32.dll", "GetDiskFreeSpaceExA")));

  // An empty path would ask about the current folder's drive.
  const std::string query = FreeSpaceQueryPath(path);
  if (query.empty()) return -1;
  const std::string root = DriveRootOf(query);

  if (freeSpaceEx) {
    ULARGE_INTEGER available{}, total{}, totalFree{};
    if (freeSpaceEx(query.c_str(), &available, &total, &totalFree) ||
        freeSpaceEx(root.c_str(), &available, &total, &totalFree))
      return static_cast<double>(available.QuadPart);
    return -1;
  }
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  if (!::GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters)) return -1;
  return static_cast<double>(sectorsPerCluster) * bytesPerSector * freeClusters;
}

}  // namespace havrek
