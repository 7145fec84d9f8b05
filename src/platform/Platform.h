// The one seam between the portable core and the operating system.
// One POSIX and one Win32 implementation; nothing else in the core includes
// system headers for files, time, messages or digests.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace havrek::plat {

using FileId = std::intptr_t;
inline constexpr FileId kNoFile = -1;

enum class OpenMode {
  Read,    // existing file, others may read, write and delete meanwhile
  Write,   // existing file or a new one, not truncated, shared like Read
  Create,  // new or truncated file
  // Existing file or a new one; every write lands at the end of the file as
  // it is then, even while other processes append to it too (one log file
  // is shared by the plain agent and its copy).
  Append,
};

FileId Open(const std::string& path, OpenMode mode);
void Close(FileId file);
// Bytes read (0 at the end of the file), or -1 on error.
std::int64_t Read(FileId file, void* buffer, std::int64_t count);
// Bytes written, or -1 on error.
std::int64_t Write(FileId file, const void* data, std::int64_t count);
// origin: 0 start, 1 current, 2 end. New position, or -1 on error.
std::int64_t Seek(FileId file, int origin, std::int64_t distance);
std::int64_t Size(FileId file);  // -1 on error
bool Exists(const std::string& path);  // a file, not a folder
// Creates the folder and every missing folder above it; true when it is a
// folder afterwards.
bool MakeDirs(const std::string& folder);
// Last-write time as a packed DOS date-time (date high, time low).
bool SetDosDate(FileId file, std::uint32_t dosDateTime);
std::uint32_t DosDate(FileId file);  // 0 when unknown

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalTime Now();
std::uint64_t TickMs();  // monotonic milliseconds
void Sleep(std::uint32_t ms);
// Serves the calling thread's pending window messages; nothing to do natively.
void ServeMessages();
std::uint32_t ProcessId();
std::uint32_t ThreadId();
// The user's locale separators for dates ("/") and times (":").
char DateSeparator();
char TimeSeparator();
// True when the byte leads a double-byte character of the system code page.
// Natively always false; the Win32 shell installs its own test at start-up.
bool IsLeadByte(unsigned char c);
using LeadByteTest = bool (*)(unsigned char);
void SetLeadByteTest(LeadByteTest test);

// Incremental SHA-256: OpenSSL's libcrypto natively; on Windows the stub's
// own (platform/Sha256Blocks.h), since the system's provider hashes at a
// fraction of the speed of the CPU's SHA instructions and the integrity
// check hashes every byte of a package. Both are held to the published
// vectors and to each other by the tests.
inline constexpr int kSha256Size = 32;
class Sha256 {
 public:
  Sha256();
  Sha256(Sha256&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
  Sha256& operator=(Sha256&& other) noexcept {
    if (this != &other) {
      reset();
      state_ = std::exchange(other.state_, nullptr);
    }
    return *this;
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  ~Sha256() { reset(); }

  // False when the system offers no SHA-256 or a call of it failed; the
  // digest then never comes.
  explicit operator bool() const { return state_ != nullptr; }
  void update(const void* data, std::int64_t count);
  // The digest of everything given; the object is spent afterwards (reads
  // false). False, digest untouched, when no digest could be made.
  bool final(unsigned char (&digest)[kSha256Size]);

 private:
  void reset();
  void* state_ = nullptr;
};

// ECDSA over the curve P-256 with SHA-256, from the system's library: CNG
// (bcrypt.dll, loaded from the system folder) on Windows, libcrypto natively.
// point: the public key as an uncompressed point (04, X, Y); rs: the
// signature as the two 32-byte big-endian numbers r and s, the form CNG
// takes (DER is converted in the portable core, see package/Signature.h).
inline constexpr int kP256PointSize = 65;
inline constexpr int kP256SignatureSize = 64;
enum class SignatureCheck {
  Good,
  Bad,          // the signature does not belong to these bytes and this key
  BadKey,       // point is no point of the curve
  Unavailable,  // the system offers no ECDSA P-256
};
SignatureCheck VerifyP256Sha256(const unsigned char (&point)[kP256PointSize], const void* data, std::int64_t count,
                                const unsigned char (&rs)[kP256SignatureSize]);

// Held while it lives by one writer at a time among all processes that name
// the same file: for lines several processes append to one log. Windows
// appends atomically, Wine does not (a line written at the same instant by
// another process can vanish); POSIX appends with O_APPEND are atomic, so
// there it holds nothing. A holder that hangs is waited for a few seconds at
// most; the write then goes ahead without the lock.
class PathLock {
 public:
  explicit PathLock(const std::string& path);
  PathLock(const PathLock&) = delete;
  PathLock& operator=(const PathLock&) = delete;
  ~PathLock();
  bool held() const { return held_; }

 private:
  void* handle_ = nullptr;
  bool held_ = false;
};

// Owns an open file of the seam.
class File {
 public:
  File() = default;
  explicit File(FileId id) : id_(id) {}
  File(const std::string& path, OpenMode mode) : id_(Open(path, mode)) {}
  File(File&& other) noexcept : id_(std::exchange(other.id_, kNoFile)) {}
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      reset();
      id_ = std::exchange(other.id_, kNoFile);
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() { reset(); }

  explicit operator bool() const { return id_ != kNoFile; }
  FileId get() const { return id_; }
  void reset() {
    if (id_ != kNoFile) Close(std::exchange(id_, kNoFile));
  }

  std::int64_t size() const { return Size(id_); }
  std::int64_t seek(std::int64_t offset, int origin = 0) const { return Seek(id_, origin, offset); }
  std::int64_t read(void* buffer, std::int64_t count) const;
  // Reads exactly count bytes; a short read is a failure.
  bool readExact(void* buffer, std::int64_t count) const { return read(buffer, count) == count; }
  // Reads exactly count bytes at offset.
  bool readAt(std::int64_t offset, void* buffer, std::int64_t count) const {
    return seek(offset) == offset && readExact(buffer, count);
  }
  bool writeAll(const void* data, std::int64_t count) const;

 private:
  FileId id_ = kNoFile;
};

}  // namespace havrek::plat
