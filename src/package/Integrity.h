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
// Version 1 hashes a file from its payload start up to its record; version 2
// (written now) the whole file, see PackX.h.
inline constexpr std::uint8_t IntegrityVersion = 2;
inline constexpr std::string_view IntegrityTagStem{"havrek-integrity/", 17};
inline constexpr std::int64_t IntegrityTagSize = 18;  // the stem and one version digit
inline constexpr std::int64_t IntegrityContentSize = 1 + IntegrityTagSize + plat::kSha256Size;
inline constexpr std::int64_t IntegrityBlockSize = 4 + IntegrityContentSize;
// Where the digest lies in a file whose record ends at packageEnd - 74.
inline constexpr std::int64_t IntegrityDigestBack = PackageHeaderSize + plat::kSha256Size;

// The identity of a disk set, the same in the header of every file of one
// build (40 bits: integrity[5..7] and reserved1, which readers from before
// leave alone), covered by each file's version 2 record; 0: none (a single
// file, or a set written before).
std::uint64_t DiskSetIdentity(const TPackageHeader& header);
void SetDiskSetIdentity(TPackageHeader& header, std::uint64_t identity);
// The file at path belongs to the set of a first disk with this header: it
// has the same identity, or the first disk has none to compare.
bool SameDiskSet(const TPackageHeader& first, const TPackageHeader& other);

// The record version the header promises (1 or 2), 0 without a mark or for
// a version this code cannot check.
int IntegrityMarkVersion(const TPackageHeader& header);
bool HasIntegrityMark(const TPackageHeader& header);
void SetIntegrityMark(TPackageHeader& header, std::uint8_t version = IntegrityVersion);

// The whole record block: length word and content.
std::string IntegrityRecordBlock(const unsigned char (&digest)[plat::kSha256Size],
                                 std::uint8_t version = IntegrityVersion);

// A block as the walk read it (length word, content) is a record of ours:
// its version digit (1 and 2 are checked; a later one is skipped), 0 when it
// is no record.
int IntegrityRecordVersion(std::int32_t length, const char* content, std::int64_t n);
bool IsIntegrityRecord(std::int32_t length, const char* content, std::int64_t n);

// Version 2 leaves out the bytes that signing a setup changes (the PE
// checksum and the certificate-table entry, both in the first 512 bytes):
// zeroes them in head, the file's bytes from offset 0.
void ZeroSignedFields(std::string& head);
// The package header as hashed: its checksum, which sums the record, zero.
void ZeroHeaderChecksum(std::string& header);

// The check over the blocks of one file, fed in the order the walk reads
// them, from the payload start on (from offset 0 for version 2).
class IntegrityCheck {
 public:
  IntegrityCheck() = default;
  // markVersion: the record version the file's header promises, 0 for none.
  // check false: records are recognised (and skipped) but nothing is hashed
  // or compared.
  IntegrityCheck(int markVersion, bool check) : mark_(markVersion), check_(check) {}

  // Version 2 hashes the bytes ahead of the payload start too: the walk
  // gives them here (all of them, from offset 0) before its first block.
  bool WholeFile() const { return mark_ == 2; }
  void Prefix(std::string head);

  // Every block in turn; true when it is the record (no entry then). A
  // record that does not match sets Error(). trailer: the bytes from the
  // block's end to the package end (the package header), for version 2.
  bool Block(std::int32_t length, const char* content, std::int64_t n, std::string_view trailer = {});
  // For a reader that streams a block instead: hashes its bytes.
  void Take(const void* bytes, std::int64_t n);
  void Record(const char* content, std::string_view trailer = {});

  // Once the file's walk is done: empty when the file is sound, else why not.
  std::string Finish();
  const std::string& Error() const { return error_; }
  bool Checking() const { return check_; }
  bool Seen() const { return seen_; }

 private:
  int mark_ = 0;
  bool check_ = true;
  bool seen_ = false;     // a record came
  bool matched_ = false;  // the last block was a record that matched
  std::string error_;
  plat::Sha256 hash_;
};

// The version 2 digest of a whole file whose package ends at end: offset 0
// to end with the signed fields, the record's digest and the header's
// checksum taken as zero. False when the file cannot be read or is too short.
bool WholeFileDigest(const plat::File& file, std::int64_t end, unsigned char (&digest)[plat::kSha256Size]);

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
// followDisks false: packageFile alone.
IntegrityReport CheckPackageIntegrity(const std::string& packageFile, bool followDisks = true);

}  // namespace havrek
