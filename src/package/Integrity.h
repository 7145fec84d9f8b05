// Integrity records (format in PackX.h): the record block the writer ends
// each file with, the check the extraction walk runs over the blocks it
// reads, and a check of a whole package without extracting it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/PackX.h"
#include "platform/Platform.h"

namespace havrek {

inline constexpr std::string_view IntegrityMark{"HVIR", 4};
inline constexpr std::uint8_t IntegrityVersion = 1;
inline constexpr std::string_view IntegrityTag{"havrek-integrity/1", 18};
inline constexpr std::int64_t IntegrityContentSize = 1 + 18 + plat::kSha256Size;
inline constexpr std::int64_t IntegrityBlockSize = 4 + IntegrityContentSize;

// The header promises records of a version this code checks.
bool HasIntegrityMark(const TPackageHeader& header);
void SetIntegrityMark(TPackageHeader& header);

// The whole record block: length word and content.
std::string IntegrityRecordBlock(const unsigned char (&digest)[plat::kSha256Size]);

// A block as the walk read it (length word, content) is a record of ours.
bool IsIntegrityRecord(std::int32_t length, const char* content, std::int64_t n);

// The check over the blocks of one file, fed in the order the walk reads
// them, from the payload start on.
class IntegrityCheck {
 public:
  IntegrityCheck() = default;
  // marked: the file's header promises a record. check false: records are
  // recognised (and skipped) but nothing is hashed or compared.
  IntegrityCheck(bool marked, bool check) : marked_(marked), check_(check) {}

  // Every block in turn; true when it is the record (no entry then). A
  // record that does not match sets Error().
  bool Block(std::int32_t length, const char* content, std::int64_t n);
  // For a reader that streams a block instead: hashes its bytes.
  void Take(const void* bytes, std::int64_t n);
  void Record(const char* content);

  // Once the file's walk is done: empty when the file is sound, else why not.
  std::string Finish();
  const std::string& Error() const { return error_; }
  bool Checking() const { return check_; }
  bool Seen() const { return seen_; }

 private:
  bool marked_ = false;
  bool check_ = true;
  bool seen_ = false;     // a record came
  bool matched_ = false;  // the last block was a record that matched
  std::string error_;
  plat::Sha256 hash_;
};

// What a package's records say, file by file, following a disk set to its
// last disk file (the first file may end in ".001").
struct DiskIntegrity {
  std::string path;
  bool marked = false;    // the header promises a record
  bool recorded = false;  // a record is there
  std::string error;      // empty: sound
};
struct IntegrityReport {
  std::vector<DiskIntegrity> files;
  // Every file carries a record, and all of them match.
  bool Verified() const;
  // Nothing found wrong (files without mark or record pass, as in the stub).
  bool Sound() const;
};

// Reads each file once without writing or expanding anything and checks it
// as the stub does. Files missing, without package header or cut short are
// reported as errors too.
IntegrityReport CheckPackageIntegrity(const std::string& packageFile);

}  // namespace havrek
