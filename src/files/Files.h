// File utilities: whole-file reads and writes, appending, deleting files and
// folder trees, a drive's free space, ejecting a CD and the self-deleting
// batch file.
// The byte-level operations run over the platform seam and are portable; the
// ones that walk folders, drives or processes are Windows only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace havrek {

// Opens the file for writing (shared) or creates it, writes at its end and
// sets the date when it is not 0 and every byte went out.
bool AppendText(const std::string& path, const std::string& bytes, std::uint32_t dosDate = 0);

// The bytes from the start of the file, at most `most` of them (0: all).
// Empty on any failure, including a short read.
std::string ReadFileText(const std::string& path, std::int64_t most = 0);

// Creates (or empties) the file, or with append adds at its end; writes more
// than 1 MB in chunks (WriteChunkSize). The date is set when it is not 0 and
// every byte was written. True only if every byte was written.
bool WriteFileText(const std::string& path, const std::string& bytes, std::uint32_t dosDate = 0,
                   bool append = false);
// The same over a buffer that is not held in a string.
bool WriteFileBytes(const std::string& path, const void* data, std::int64_t count, std::uint32_t dosDate = 0,
                    bool append = false);

// Bytes per write call for a file of `total` bytes: about a tenth of it,
// at least 1024 (or the whole, if smaller) and at most 1 MB.
std::int64_t WriteChunkSize(std::int64_t total);

// What a folder-tree walk does with one entry of a folder it removes.
enum class TreeEntry {
  Skip,     // "." / "..", or a file (the file pass removes those)
  Descend,  // a real subfolder: empty it, then remove it
  Unlink,   // a junction or directory link: remove the link, never enter it
};
TreeEntry ClassifyTreeEntry(const std::string& name, std::uint32_t attributes);

// What removing a folder tree asks of the file system. Attributes are the
// Win32 bits (0x10 folder, 0x400 link), kNoAttributes for a missing path.
// The same walk runs over Win32 and, in the native tests, over real links.
inline constexpr std::uint32_t kNoAttributes = 0xFFFFFFFF;
struct TreeOps {
  std::function<std::uint32_t(const std::string& path)> attributes;
  // Every entry of the folder with its attributes.
  std::function<void(const std::string& folder,
                     const std::function<void(const std::string& name, std::uint32_t attributes)>& each)>
      list;
  std::function<void(const std::string& folder)> deleteFiles;  // the files right in it
  std::function<void(const std::string& link)> unlink;         // the link, never its target
  std::function<void(const std::string& folder)> removeFolder; // once empty
  char separator = '\\';
};
// Removes the folder (no trailing separator) with everything below it; a
// link inside, or the folder itself when it is one, is removed, not
// followed. True if the folder existed before and is gone now.
bool DeleteTreeWith(const std::string& folder, const TreeOps& ops);

// The lines of the self-deleting batch: clear the read-only attribute of exe
// and delete it, up to `tries` times about a second apart, then remove dir
// (when asked) and the batch itself. Every line ends CR LF; a "%" in a path
// is doubled, so that the batch does not expand it. systemDir holds the
// attrib and ping programs the batch calls.
inline constexpr int kSelfDeleteTries = 60;
std::string SelfDeleteBatchText(const std::string& exe, const std::string& dir, const std::string& bat,
                                bool removeFolder, const std::string& systemDir, int tries = kSelfDeleteTries);
// "_DEL_ME_<pid>.BAT": one batch per process, so that two copies ending at
// the same moment never write, run or remove each other's.
std::string SelfDeleteBatchName(std::uint32_t processId);
// Command line that runs the batch through cmd; every path is quoted, and the
// extra pair keeps cmd's /c quote stripping away from the batch path's own.
std::string SelfDeleteCommandLine(const std::string& cmdExe, const std::string& bat);

// The path the free-space query asks about: "/" read as "\", cut at its first
// level (C:\Users\x\Temp asks about C:\Users). Empty for an empty path.
std::string FreeSpaceQueryPath(const std::string& path);
// "X:\" for the path's first letter, upper-cased; empty for an empty path.
std::string DriveRootOf(const std::string& path);

#ifdef _WIN32
// Over Win32 file handles (HANDLE). Origin 0 start, 1 current, 2 end.
// -1 on failure.
std::int64_t SeekFile(void* handle, int origin, std::int64_t distance);
std::int64_t FileSizeOf(void* handle);
// Size of the first entry matching path (wildcards allowed), 0 if none.
std::int64_t FileSizeByName(const std::string& path);

// Deletes every file (not folder) matching mask, hidden and system ones too;
// with clearAttributes read-only ones as well. True if anything matched.
bool DeleteFiles(const std::string& mask, bool clearAttributes);
// Removes the folder with everything below it; links inside are removed, not
// followed. True if the folder existed before and is gone now.
bool DeleteTree(const std::string& folder, bool clearAttributes);

// TempDir + SelfDeleteBatchName of this process, for the running
// executable; its path, or empty.
std::string WriteSelfDeleteBatch(bool removeFolder);
// Starts the batch hidden through the system's cmd.exe; does not wait.
bool StartSelfDeleteBatch(const std::string& bat);
// Leaves a batch behind that deletes the running executable (and its folder,
// when asked) once this process has ended. The caller ends right afterwards.
void DeleteMySelf(bool removeFolder);

// Free bytes available to this user on the path's drive, -1 when the system
// gives no figure.
double DiskFreeBytes(const std::string& path);

// Ejects the medium of the CD drive that holds path; false for other drives.
bool EjectCD(const std::string& path);
#endif

}  // namespace havrek
