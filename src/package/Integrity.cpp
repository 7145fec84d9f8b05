#include "package/Integrity.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "util/Utils.h"

namespace havrek {

namespace {

constexpr std::int64_t kReadPiece = std::int64_t{1} << 20;
constexpr std::int64_t kTrailerRoom = 74;  // as the extraction walk stops

}  // namespace

std::uint64_t DiskSetIdentity(const TPackageHeader& header) {
  if (IntegrityMarkVersion(header) != 2) return 0;
  std::uint64_t identity = 0;
  for (int i = 5; i < 8; ++i) identity = identity << 8 | header.integrity[i];
  return identity << 16 | header.reserved1;
}

void SetDiskSetIdentity(TPackageHeader& header, std::uint64_t identity) {
  header.reserved1 = static_cast<std::uint16_t>(identity);
  for (int i = 7; i >= 5; --i) header.integrity[i] = static_cast<std::uint8_t>(identity >> (16 + 8 * (7 - i)));
}

bool SameDiskSet(const TPackageHeader& first, const TPackageHeader& other) {
  const std::uint64_t identity = DiskSetIdentity(first);
  return identity == 0 || DiskSetIdentity(other) == identity;
}

int IntegrityMarkVersion(const TPackageHeader& header) {
  if (std::memcmp(header.integrity, IntegrityMark.data(), IntegrityMark.size()) != 0) return 0;
  const int version = header.integrity[4];
  return version == 1 || version == 2 ? version : 0;
}

bool HasIntegrityMark(const TPackageHeader& header) { return IntegrityMarkVersion(header) != 0; }

void SetIntegrityMark(TPackageHeader& header, std::uint8_t version) {
  std::memset(header.integrity, 0, sizeof header.integrity);
  std::memcpy(header.integrity, IntegrityMark.data(), IntegrityMark.size());
  header.integrity[4] = version;
}

std::string IntegrityRecordBlock(const unsigned char (&digest)[plat::kSha256Size], std::uint8_t version) {
  const std::int32_t length = -static_cast<std::int32_t>(IntegrityContentSize);
  std::string block(reinterpret_cast<const char*>(&length), 4);
  block.push_back('\0');
  block.append(IntegrityTagStem);
  block.push_back(static_cast<char>('0' + version));
  block.append(reinterpret_cast<const char*>(digest), plat::kSha256Size);
  return block;
}

int IntegrityRecordVersion(std::int32_t length, const char* content, std::int64_t n) {
  if (length != -IntegrityContentSize || n != IntegrityContentSize || content[0] != '\0' ||
      std::memcmp(content + 1, IntegrityTagStem.data(), IntegrityTagStem.size()) != 0)
    return 0;
  const char digit = content[IntegrityTagSize];
  return digit >= '1' && digit <= '9' ? digit - '0' : 0;
}

bool IsIntegrityRecord(std::int32_t length, const char* content, std::int64_t n) {
  return IntegrityRecordVersion(length, content, n) != 0;
}

void ZeroSignedFields(std::string& head) {
  if (!IsExecutableImage(head)) return;
  auto zero = [&head](std::int64_t at, std::int64_t n) {
    if (at >= 0 && at + n <= static_cast<std::int64_t>(head.size()))
      std::memset(head.data() + at, 0, static_cast<std::size_t>(n));
  };
  zero(PeChecksumOffset, 4);
  zero(CertificateEntryOffset(head), 8);
}

void ZeroHeaderChecksum(std::string& header) {
  constexpr std::size_t at = offsetof(TPackageHeader, checksum);
  if (header.size() == PackageHeaderSize) std::memset(header.data() + at, 0, 4);
}

void IntegrityCheck::Prefix(std::string head) {
  ZeroSignedFields(head);
  Take(head.data(), static_cast<std::int64_t>(head.size()));
}

bool IntegrityCheck::Block(std::int32_t length, const char* content, std::int64_t n, std::string_view trailer) {
  if (IsIntegrityRecord(length, content, n)) {
    Record(content, trailer);
    return true;
  }
  Take(&length, 4);
  Take(content, n);
  return false;
}

void IntegrityCheck::Take(const void* bytes, std::int64_t n) {
  matched_ = false;
  if (check_) hash_.update(bytes, n);
}

void IntegrityCheck::Record(const char* content, std::string_view trailer) {
  const bool again = std::exchange(seen_, true);
  if (!check_) return;
  // The record is a file's last block; what follows it is covered by nothing.
  if (again) {
    if (error_.empty()) error_ = "blocks follow its integrity record";
    return;
  }
  const int version = content[IntegrityTagSize] - '0';
  // A record of a later version is left to the readers that know it, as
  // long as the header promises nothing this code checks.
  if (version > 2 && mark_ == 0) {
    matched_ = error_.empty();
    return;
  }
  // The mark and the record agree, or one of them was changed: a version 1
  // record without a mark is as old packages had it.
  if ((version == 2 || mark_ != 0) && version != mark_) {
    if (error_.empty()) error_ = "its integrity record is not of the version its header promises";
    return;
  }
  if (version == 2) {
    if (static_cast<std::int64_t>(trailer.size()) != PackageHeaderSize) {
      if (error_.empty()) error_ = "blocks follow its integrity record";
      return;
    }
    const std::int32_t length = -static_cast<std::int32_t>(IntegrityContentSize);
    std::string record(content, IntegrityContentSize - plat::kSha256Size);
    record.append(plat::kSha256Size, '\0');
    std::string header(trailer);
    ZeroHeaderChecksum(header);
    Take(&length, 4);
    Take(record.data(), static_cast<std::int64_t>(record.size()));
    Take(header.data(), static_cast<std::int64_t>(header.size()));
  }
  unsigned char digest[plat::kSha256Size];
  if (!hash_.final(digest)) {
    if (error_.empty()) error_ = "its integrity record cannot be checked: the system gives no SHA-256";
    return;
  }
  if (std::memcmp(digest, content + 1 + IntegrityTagSize, plat::kSha256Size) != 0) {
    if (error_.empty()) error_ = "its bytes do not match its integrity record (SHA-256)";
    return;
  }
  matched_ = error_.empty();
}

std::string IntegrityCheck::Finish() {
  if (!check_ || !error_.empty()) return error_;
  if (matched_) return {};
  if (seen_) return error_ = "blocks follow its integrity record";
  if (mark_ != 0) return error_ = "no integrity record, although its header promises one";
  return {};
}

bool WholeFileDigest(const plat::File& file, std::int64_t end, unsigned char (&digest)[plat::kSha256Size]) {
  if (!file || end < IntegrityDigestBack + 4 || file.seek(0) != 0) return false;
  const std::int64_t digestAt = end - IntegrityDigestBack;
  const std::int64_t sumAt = end - PackageHeaderSize + static_cast<std::int64_t>(offsetof(TPackageHeader, checksum));
  // The signed fields are looked for where the readers look: in the bytes
  // ahead of the payload (at most the first 512).
  std::uint32_t payloadStart = 0;
  if (!file.readAt(end - PackageHeaderSize + static_cast<std::int64_t>(offsetof(TPackageHeader, payloadStart)),
                   &payloadStart, 4) ||
      file.seek(0) != 0)
    return false;
  const std::size_t headSize = std::min<std::size_t>(payloadStart, ChecksumSkippedHead);
  plat::Sha256 hash;
  std::string piece;
  for (std::int64_t at = 0; at < end;) {
    const std::int64_t n = std::min(end - at, kReadPiece);
    piece.resize(static_cast<std::size_t>(n));
    if (!file.readExact(piece.data(), n)) return false;
    if (at == 0) {
      std::string head = piece.substr(0, headSize);
      ZeroSignedFields(head);
      piece.replace(0, head.size(), head);
    }
    for (const auto [from, size] : {std::pair{digestAt, std::int64_t{plat::kSha256Size}}, std::pair{sumAt, std::int64_t{4}}})
      for (std::int64_t i = std::max(from, at); i < std::min(from + size, at + n); ++i) piece[static_cast<std::size_t>(i - at)] = '\0';
    hash.update(piece.data(), n);
    at += n;
  }
  return hash.final(digest);
}

bool IntegrityReport::Verified() const {
  return !files.empty() && std::all_of(files.begin(), files.end(),
                                       [](const DiskIntegrity& f) { return f.recorded && f.error.empty(); });
}

bool IntegrityReport::Sound() const {
  return !files.empty() &&
         std::all_of(files.begin(), files.end(), [](const DiskIntegrity& f) { return f.error.empty(); });
}

namespace {

// One file of a package read into its integrity check, block by block, as
// the extraction walk reads it.
class DiskReader {
 public:
  // blocks counts over all files: only the first holds header blocks.
  DiskReader(const plat::File& file, const TPackageHeader& h, std::int64_t& blocks, std::string& piece)
      : file_(file), h_(h), check_(IntegrityMarkVersion(h), true), end_(PackageEnd(file, file.size())),
        pos_(h.payloadStart), blocks_(blocks), piece_(piece) {}

  // Reads the file; the reason when it is unsound or not all there.
  std::string Check(bool& recorded) {
    if (pos_ > end_ || file_.seek(0) != 0) return "its payload starts past its end";
    if (check_.WholeFile() && !TakeHead()) return "cut short ahead of its payload";
    if (file_.seek(pos_) != pos_) return "its payload starts past its end";
    bool whole = true;
    do {
      whole = ReadBlock();
    } while (whole && end_ - pos_ > kTrailerRoom);
    if (!whole) return "cut short at offset " + IntText(pos_);
    recorded = check_.Seen();
    return check_.Finish();
  }

 private:
  // The bytes ahead of the payload (stub image, header blocks), for a record
  // that covers the whole file; false when they are not all there.
  bool TakeHead() {
    std::string head(static_cast<std::size_t>(std::min<std::int64_t>(pos_, ChecksumSkippedHead)), '\0');
    bool read = file_.readExact(head.data(), static_cast<std::int64_t>(head.size()));
    check_.Prefix(std::move(head));
    for (std::int64_t at = std::min<std::int64_t>(pos_, ChecksumSkippedHead); read && at < pos_;) {
      const std::int64_t want = std::min(pos_ - at, kReadPiece);
      read = file_.readExact(piece_.data(), want);
      check_.Take(piece_.data(), want);
      at += want;
    }
    return read;
  }

  // One block: false when it is not all there.
  bool ReadBlock() {
    std::int32_t length = 0;
    if (end_ - pos_ < 4 || !file_.readExact(&length, 4)) return false;
    const std::int64_t n = length > 0 ? length : -static_cast<std::int64_t>(length);
    if (n > end_ - pos_ - 4) return false;
    if (++blocks_ > h_.blockCount && n == IntegrityContentSize) {
      if (!ReadRecordCandidate(length, n)) return false;
    } else {
      check_.Take(&length, 4);
      for (std::int64_t left = n; left > 0; left -= std::min(left, kReadPiece)) {
        const std::int64_t want = std::min(left, kReadPiece);
        if (!file_.readExact(piece_.data(), want)) return false;
        check_.Take(piece_.data(), want);
      }
    }
    pos_ += 4 + n;
    return true;
  }

  // A block of a record's size past the header blocks, with the package
  // header when it is the file's last block.
  bool ReadRecordCandidate(std::int32_t length, std::int64_t n) {
    char content[IntegrityContentSize];
    if (!file_.readExact(content, n)) return false;
    std::string trailer;
    if (end_ - (pos_ + 4 + n) == PackageHeaderSize) {
      trailer.resize(PackageHeaderSize);
      if (!file_.readAt(pos_ + 4 + n, trailer.data(), PackageHeaderSize)) trailer.clear();
      if (file_.seek(pos_ + 4 + n) != pos_ + 4 + n) return false;
    }
    check_.Block(length, content, n, trailer);
    return true;
  }

  const plat::File& file_;
  const TPackageHeader& h_;
  IntegrityCheck check_;
  const std::int64_t end_;
  std::int64_t pos_;
  std::int64_t& blocks_;
  std::string& piece_;
};

}  // namespace

IntegrityReport CheckPackageIntegrity(const std::string& packageFile, bool followDisks) {
  IntegrityReport report;
  std::string base = packageFile;
  if (EndsWith(".001", base, false)) base.resize(base.size() - 4);
  std::string path = packageFile;
  std::int64_t blocks = 0;  // over all files: only the first holds header blocks
  TPackageHeader first{};
  std::string piece(static_cast<std::size_t>(kReadPiece), '\0');
  for (int disk = 1;; ++disk) {
    DiskIntegrity& d = report.files.emplace_back();
    d.path = path;
    const plat::File file(path, plat::OpenMode::Read);
    TPackageHeader h{};
    if (!file) {
      d.error = "missing";
      break;
    }
    if (!ReadPackageHeader(file, h) || h.magic != PackageMagic) {
      d.error = "no package header at its end";
      break;
    }
    if (disk == 1) first = h;
    if (!SameDiskSet(first, h)) {
      d.error = "a disk of another set (another build): it is not disk " + IntText(disk) + " of " + packageFile;
      break;
    }
    d.marked = HasIntegrityMark(h);
    d.error = DiskReader(file, h, blocks, piece).Check(d.recorded);
    if (!d.error.empty() || !(h.headerFlags & hfMoreDisks) || !followDisks) break;
    path = base + "." + ZeroPad(disk + 1, 3);
  }
  return report;
}

}  // namespace havrek
