#include "package/PackX.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <vector>

#include "package/TokenCodec.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {

namespace {

std::uint32_t WordAt(const unsigned char* p) {
  std::uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}

bool ReadWordAt(const plat::File& file, std::int64_t offset, std::uint32_t& word) {
  unsigned char buf[4];
  if (offset < 0 || !file.readAt(offset, buf, 4)) return false;
  word = WordAt(buf);
  return true;
}

// A length-prefixed header block at pos; false when its length word or its
// bytes are not all before limit.
bool ReadHeaderBlock(const plat::File& file, std::int64_t& pos, std::int64_t limit, std::string& text) {
  std::uint32_t length = 0;
  if (pos + 4 > limit || !ReadWordAt(file, pos, length)) return false;
  if (static_cast<std::int64_t>(length) > limit - pos - 4) return false;
  // A block of gigabytes can be really there (a downloaded package is the
  // server's choice) and still be more than a 32-bit process can hold.
  try {
    text.assign(length, '\0');
  } catch (const std::exception&) {
    return false;
  }
  if (length > 0 && !file.readExact(text.data(), length)) return false;
  pos += 4 + static_cast<std::int64_t>(length);
  return true;
}

}  // namespace

bool IsExecutableImage(const plat::File& file) {
  char mz[2], pe[2];
  return file.readAt(0, mz, 2) && file.readAt(StubPeOffset, pe, 2) && mz[0] == 'M' && mz[1] == 'Z' &&
         pe[0] == 'P' && pe[1] == 'E';
}

bool IsExecutableImage(std::string_view bytes) {
  return bytes.size() >= static_cast<std::size_t>(StubPeOffset + 2) && bytes.substr(0, 2) == "MZ" &&
         bytes.substr(StubPeOffset, 2) == "PE";
}

std::int64_t ReadBuildLength(const plat::File& file) {
  unsigned char buf[8];
  if (!file.readAt(BuildLengthOffset, buf, 8)) return 0;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(WordAt(buf)) << 32) | WordAt(buf + 4));
}

std::int64_t ReadBuildLength(std::string_view bytes) {
  if (bytes.size() < static_cast<std::size_t>(BuildLengthOffset + 8)) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + BuildLengthOffset;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(WordAt(p)) << 32) | WordAt(p + 4));
}

std::int64_t PackageEnd(const plat::File& file, std::int64_t fileSize) {
  if (IsExecutableImage(file)) {
    const std::int64_t built = ReadBuildLength(file);
    if (built > 0 && built <= fileSize) return built;
  }
  return fileSize;
}

std::int64_t CertificateEntryOffset(std::string_view head) {
  if (!IsExecutableImage(head) || head.size() < static_cast<std::size_t>(Pe32PlusCertificateEntry + 8) ||
      head.substr(StubPeOffset, 4) != std::string_view("PE\0\0", 4))
    return -1;
  const auto* p = reinterpret_cast<const unsigned char*>(head.data());
  const std::uint16_t optionalSize = static_cast<std::uint16_t>(p[StubPeOffset + 20] | p[StubPeOffset + 21] << 8);
  const std::uint16_t magic =
      static_cast<std::uint16_t>(p[PeOptionalHeaderOffset] | p[PeOptionalHeaderOffset + 1] << 8);
  std::int64_t entry = 0, countAt = 0;
  if (magic == 0x10B) entry = Pe32CertificateEntry, countAt = PeOptionalHeaderOffset + 92;
  else if (magic == 0x20B) entry = Pe32PlusCertificateEntry, countAt = PeOptionalHeaderOffset + 108;
  else return -1;
  if (WordAt(p + countAt) <= 4 || entry + 8 > PeOptionalHeaderOffset + optionalSize) return -1;
  return entry;
}

bool ClearSignatureFields(std::string& head) {
  const std::int64_t entry = CertificateEntryOffset(head);
  if (entry < 0) return false;
  static constexpr char kZeros[8] = {};
  if (head.compare(static_cast<std::size_t>(entry), 8, kZeros, 8) != 0) {
    head.replace(static_cast<std::size_t>(entry), 8, kZeros, 8);
    head.replace(static_cast<std::size_t>(PeChecksumOffset), 4, kZeros, 4);
  }
  return true;
}

namespace {

// Tells tail.kind for a file of size bytes whose package ends at
// tail.packageEnd; read fetches bytes of the file.
void ClassifyTail(TForeignTail& tail, std::int64_t size,
                  const std::function<bool(std::int64_t at, void* to, std::int64_t n)>& read) {
  tail.size = size - tail.packageEnd;
  if (tail.size <= 0) return;
  tail.kind = TailKind::Unknown;

  std::string head(static_cast<std::size_t>(std::min(size, ChecksumSkippedHead)), '\0');
  if (!read(0, head.data(), static_cast<std::int64_t>(head.size()))) return;
  const std::int64_t entry = CertificateEntryOffset(head);
  if (entry < 0) return;
  const auto* p = reinterpret_cast<const unsigned char*>(head.data()) + entry;
  const std::int64_t offset = WordAt(p), length = WordAt(p + 4);
  // Signing tools pad the file to a multiple of 8 bytes and put the table
  // at its end; a table anywhere else leaves bytes nobody accounts for.
  const std::int64_t padding = offset - tail.packageEnd;
  if (padding < 0 || padding >= 8 || length < 8 || offset + length != size) return;
  unsigned char bytes[16] = {};
  if (!read(tail.packageEnd, bytes, padding + 8)) return;
  for (std::int64_t i = 0; i < padding; ++i)
    if (bytes[i] != 0) return;
  // The table's first WIN_CERTIFICATE: its length, then revision 1.0 or 2.0.
  const std::int64_t first = WordAt(bytes + padding);
  const unsigned revision = bytes[padding + 4] | bytes[padding + 5] << 8;
  if (first < 8 || first > length || (revision != 0x0100 && revision != 0x0200)) return;
  tail.kind = TailKind::Signature;
  tail.signatureOffset = offset;
  tail.signatureSize = length;
}

}  // namespace

TForeignTail ReadForeignTail(const plat::File& file) {
  TForeignTail tail;
  const std::int64_t size = file ? file.size() : -1;
  if (size <= 0) return tail;
  tail.packageEnd = PackageEnd(file, size);
  ClassifyTail(tail, size, [&file](std::int64_t at, void* to, std::int64_t n) { return file.readAt(at, to, n); });
  return tail;
}

TForeignTail ForeignTailOf(std::string_view bytes, std::int64_t packageEnd) {
  TForeignTail tail;
  const auto size = static_cast<std::int64_t>(bytes.size());
  if (packageEnd <= 0 || packageEnd > size) return tail;
  tail.packageEnd = packageEnd;
  ClassifyTail(tail, size, [bytes, size](std::int64_t at, void* to, std::int64_t n) {
    if (at < 0 || n < 0 || at + n > size) return false;
    std::memcpy(to, bytes.data() + at, static_cast<std::size_t>(n));
    return true;
  });
  return tail;
}

TForeignTail ReadForeignTail(const std::string& path) {
  const plat::File file(path, plat::OpenMode::Read);
  return ReadForeignTail(file);
}

bool ReadPackageHeader(const plat::File& file, TPackageHeader& header) {
  bool read = false;
  const std::int64_t size = file ? file.size() : -1;
  std::uint32_t word = 0;
  if (size >= 4 && ReadWordAt(file, size - 4, word)) {
    std::int64_t trailer = static_cast<std::int32_t>(word);
    std::int64_t pos = size - trailer;
    const std::int64_t end = PackageEnd(file, size);
    if (end != size) {
      trailer = ReadWordAt(file, end - 4, word) ? static_cast<std::int32_t>(word) : 0;
      pos = end - trailer;
    }
    const std::int64_t n = trailer < PackageHeaderSize ? trailer : PackageHeaderSize;
    unsigned char buf[PackageHeaderSize];
    if (n >= 4 && pos >= 0 && file.readAt(pos, buf, n - 4)) {
      std::memcpy(&header, buf, static_cast<std::size_t>(n - 4));
      header.trailerLength = static_cast<std::int32_t>(n);
      read = true;
    }
  }
  if (header.blockCount == 0) header.blockCount = 2;
  return read;
}

bool ReadPackageHeader(const std::string& path, TPackageHeader& header) {
  plat::File file(path, plat::OpenMode::Read);
  return ReadPackageHeader(file, header);
}

std::uint32_t PackageChecksum(const std::string& path, std::int64_t trailerLength) {
  plat::File file(path, plat::OpenMode::Read);
  if (!file) return 0;
  std::int64_t size = file.size();
  if (size > ChecksumSizeLimit) return ChecksumAlwaysPasses;

  // Only the low half of the build length counts here, as in every stub
  // already shipped; one past the end of the file is ignored like in PackageEnd.
  std::int64_t end = 0;
  if (IsExecutableImage(file)) {
    std::uint32_t low = 0;
    if (ReadWordAt(file, BuildLengthOffset + 4, low)) end = low;
    if (end > size) end = 0;
  }
  if (end > 0) size = end;

  std::int64_t remaining = size - trailerLength;
  std::int64_t start = 0;
  if (end > 0) {
    remaining -= ChecksumSkippedHead;
    start = ChecksumSkippedHead;
  }
  if (file.seek(start) != start) return 0;

  std::uint32_t sum = 0;
  std::vector<unsigned char> piece(4096);
  // Once remaining is down to 4 nothing more is added, so reading stops there.
  while (remaining > 4) {
    const std::int64_t got = file.read(piece.data(), 4096);
    if (got < 0) break;
    for (std::int64_t i = 0; i + 4 <= got; i += 4) {
      remaining -= 4;
      if (remaining > 4) sum += WordAt(piece.data() + i);
    }
    if (remaining > 4) sum += ChecksumAlwaysPasses;
    if (got < 4096) break;
  }
  return sum;
}

bool ChecksumPasses(std::uint32_t stored, std::uint32_t computed) {
  return stored == computed || stored == ChecksumAlwaysPasses || computed == ChecksumAlwaysPasses;
}

TGFileInfo::TGFileInfo() : header_{} {}

TGFileInfo::TGFileInfo(const std::string& path) : header_{} {
  if (!plat::Exists(path)) return;
  plat::File file(path, plat::OpenMode::Read);
  if (!file) return;
  ReadPackageHeader(file, header_);
  if (header_.magic != PackageMagic) {
    // Bytes that only sit where a header would (a setup cut short, a bare
    // stub) are no header: acting on their flags would relaunch, log or
    // download at random.
    *this = TGFileInfo();
    return;
  }

  // A block running past the package end means a damaged package: rather
  // than trust (or allocate) its length, the reader reads as no package.
  const std::int64_t limit = PackageEnd(file, file.size());
  std::int64_t pos = header_.payloadStart;
  bool ok = ReadHeaderBlock(file, pos, limit, language_) && ReadHeaderBlock(file, pos, limit, update_);
  if (ok && header_.blockCount >= 3) ok = ReadHeaderBlock(file, pos, limit, internet_);
  if (!ok) {
    *this = TGFileInfo();
    return;
  }
  header_.payloadStart = static_cast<std::uint32_t>(pos);
}

std::string TGFileInfo::InfoBase() const { return SUB::GetField(update_, 0); }
std::string TGFileInfo::InfoFileName() const { return FileNamePart(SUB::GetField(update_, 1)); }
std::string TGFileInfo::OriginalFileName() const { return FileNameNoExt(InfoFileName(), true) + ".original"; }
std::string TGFileInfo::AgentFileName() const { return SUB::GetField(update_, 2); }
std::string TGFileInfo::UpdateTokenRaw() const { return SUB::GetField(update_, 3); }
std::string TGFileInfo::UpdateToken() const { return DecodeToken(UpdateTokenRaw()); }
bool TGFileInfo::Silent() const { return SUB::GetField(update_, 4) == "1"; }
std::string TGFileInfo::UpdateKeysText() const { return SUB::GetField(update_, 5); }

bool TGFileInfo::UpdateKeys(std::vector<UpdateKey>& keys, std::string& error) const {
  keys.clear();
  std::vector<P256Point> points;
  if (!ParseUpdateKeys(UpdateKeysText(), points, error)) return false;
  for (const P256Point& point : points) keys.push_back({point, KeyId(point)});
  return true;
}

std::string TGFileInfo::InternetBaseUrl() const { return SUB::GetField(internet_, 0); }
std::string TGFileInfo::InternetFileName() const { return SUB::GetField(internet_, 1); }
bool TGFileInfo::AlwaysDownload() const { return SUB::GetField(internet_, 2) == "1"; }
std::string TGFileInfo::InternetTokenRaw() const { return SUB::GetField(internet_, 3); }
std::string TGFileInfo::InternetToken() const { return DecodeToken(InternetTokenRaw()); }
std::string TGFileInfo::InternetSizeText() const { return SUB::GetField(internet_, 4); }
std::string TGFileInfo::InternetSha256Text() const { return SUB::GetField(internet_, 5); }

double SpaceNeededFor(const TPackageHeader& header, std::uint32_t clusterSize) {
  double need = header.space[0];
  for (int i = 1; i < SpaceTableSize; ++i)
    if ((std::uint64_t{512} << (i - 1)) <= clusterSize) need = header.space[i];
  return need;
}

bool TGFileInfo::SameInternetToken(const TGFileInfo& other) const {
  return SameToken(InternetTokenRaw(), other.InternetTokenRaw());
}

bool TGFileInfo::SameUpdateToken(const std::string& path) const {
  return SameToken(UpdateTokenRaw(), TGFileInfo(path).UpdateTokenRaw());
}

}  // namespace havrek
