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

bool HasIntegrityMark(const TPackageHeader& header) {
  return std::memcmp(header.integrity, IntegrityMark.data(), IntegrityMark.size()) == 0 &&
         header.integrity[4] == IntegrityVersion;
}

void SetIntegrityMark(TPackageHeader& header) {
  std::memset(header.integrity, 0, sizeof header.integrity);
  std::memcpy(header.integrity, IntegrityMark.data(), IntegrityMark.size());
  header.integrity[4] = IntegrityVersion;
}

std::string IntegrityRecordBlock(const unsigned char (&digest)[plat::kSha256Size]) {
  const std::int32_t length = -static_cast<std::int32_t>(IntegrityContentSize);
  std::string block(reinterpret_cast<const char*>(&length), 4);
  block.push_back('\0');
  block.append(IntegrityTag);
  block.append(reinterpret_cast<const char*>(digest), plat::kSha256Size);
  return block;
}

bool IsIntegrityRecord(std::int32_t length, const char* content, std::int64_t n) {
  return length == -IntegrityContentSize && n == IntegrityContentSize && content[0] == '\0' &&
         std::memcmp(content + 1, IntegrityTag.data(), IntegrityTag.size()) == 0;
}

bool IntegrityCheck::Block(std::int32_t length, const char* content, std::int64_t n) {
  if (IsIntegrityRecord(length, content, n)) {
    Record(content);
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

void IntegrityCheck::Record(const char* content) {
  const bool again = std::exchange(seen_, true);
  if (!check_) return;
  // The record is a file's last block; what follows it is covered by nothing.
  if (again) {
    if (error_.empty()) error_ = "blocks follow its integrity record";
    return;
  }
  unsigned char digest[plat::kSha256Size];
  if (!hash_.final(digest)) {
    if (error_.empty()) error_ = "its integrity record cannot be checked: the system gives no SHA-256";
    return;
  }
  if (std::memcmp(digest, content + 1 + IntegrityTag.size(), plat::kSha256Size) != 0) {
    if (error_.empty()) error_ = "its bytes do not match its integrity record (SHA-256)";
    return;
  }
  matched_ = error_.empty();
}

std::string IntegrityCheck::Finish() {
  if (!check_ || !error_.empty()) return error_;
  if (matched_) return {};
  if (seen_) return error_ = "blocks follow its integrity record";
  if (marked_) return error_ = "no integrity record, although its header promises one";
  return {};
}

bool IntegrityReport::Verified() const {
  return !files.empty() && std::all_of(files.begin(), files.end(),
                                       [](const DiskIntegrity& f) { return f.recorded && f.error.empty(); });
}

bool IntegrityReport::Sound() const {
  return !files.empty() &&
         std::all_of(files.begin(), files.end(), [](const DiskIntegrity& f) { return f.error.empty(); });
}

IntegrityReport CheckPackageIntegrity(const std::string& packageFile) {
  IntegrityReport report;
  std::string base = packageFile;
  if (EndsWith(".001", base, false)) base.resize(base.size() - 4);
  std::string path = packageFile;
  std::int64_t blocks = 0;  // over all files: only the first holds header blocks
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
    d.marked = HasIntegrityMark(h);
    IntegrityCheck check(d.marked, true);
    const std::int64_t end = PackageEnd(file, file.size());
    std::int64_t pos = h.payloadStart;
    if (pos > end || file.seek(pos) != pos) {
      d.error = "its payload starts past its end";
      break;
    }
    // One block: false when it is not all there.
    auto readBlock = [&]() {
      std::int32_t length = 0;
      if (end - pos < 4 || !file.readExact(&length, 4)) return false;
      const std::int64_t n = length > 0 ? length : -static_cast<std::int64_t>(length);
      if (n > end - pos - 4) return false;
      if (++blocks > h.blockCount && n == IntegrityContentSize) {
        char content[IntegrityContentSize];
        if (!file.readExact(content, n)) return false;
        check.Block(length, content, n);
      } else {
        check.Take(&length, 4);
        for (std::int64_t left = n; left > 0; left -= std::min(left, kReadPiece)) {
          const std::int64_t want = std::min(left, kReadPiece);
          if (!file.readExact(piece.data(), want)) return false;
          check.Take(piece.data(), want);
        }
      }
      pos += 4 + n;
      return true;
    };
    bool whole = true;
    do {
      whole = readBlock();
    } while (whole && end - pos > kTrailerRoom);
    if (!whole) {
      d.error = "cut short at offset " + IntText(pos);
      break;
    }
    d.recorded = check.Seen();
    d.error = check.Finish();
    if (!d.error.empty() || !(h.headerFlags & hfMoreDisks)) break;
    path = base + "." + ZeroPad(disk + 1, 3);
  }
  return report;
}

}  // namespace havrek
