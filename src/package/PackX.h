// The package appended to the stub: its 74-byte header, the header blocks
// and the reader over them, the package checksum.
//
// Layout of a package file: stub image (build length at 248..255), header
// blocks (32-bit length + bytes each), entries (signed 32-bit length + bytes
// each), then the package header whose last four bytes hold its own length.
//
// Integrity records. The checksum passes every file above ChecksumSizeLimit
// and stored entries carry no check of their own, so each file havrek-pack
// writes (a single setup, or every file of a disk set) ends its blocks, just
// before the package header, with one record block:
//   length  -51 (stored raw, 51 content bytes)
//   0       NUL: the entry header is empty, so every stub, those built
//           before records existed included, skips the block unwritten
//   1..18   "havrek-integrity/" and the record version digit
//   19..50  SHA-256 of what the version covers:
//           1: the file's bytes from its payload start up to this block
//           2 (written now): the whole file from offset 0 to the package
//             end (stub image with its build length, header blocks,
//             entries, this block, the package header), with the bytes
//             that signing changes afterwards (the PE checksum and the
//             certificate-table entry), this digest and the header's
//             checksum (which sums the digest) taken as zero
// The record is not counted in the header's file count. The header says that
// records are there: integrity[0..3] = "HVIR", integrity[4] = the record
// version, integrity[5..7] zero; readers from before left these bytes alone,
// and readers of version 1 only take version 1 for a mark. A reader refuses
// a marked file whose walk meets no matching record of the marked version as
// its last block, and any file whose record does not match; a file without
// mark and record reads as it always did.
//
// Fields after the five of each record, which stubs built before them never
// read (they take fields by number), so that packages carrying them still
// run there. The header blocks lie under the checksum and the integrity
// record, and every agent copy keeps them:
//   update record field 5: the publisher's public keys the agent trusts, for
//     a key rotation up to kMaxUpdateKeys, each the uncompressed P-256 point
//     in hex (130 digits), joined by ","; empty or absent: none
//   internet record field 5: SHA-256 of the real package in hex (64
//     digits), which a download must match; empty or absent: not recorded
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/Signature.h"
#include "platform/Platform.h"

namespace havrek {

static_assert(std::endian::native == std::endian::little,
              "the package format is little-endian and read by copying bytes");

inline constexpr std::uint32_t PackageMagic = 0x4A3B2C1D;
inline constexpr std::int32_t PackageHeaderSize = 74;
inline constexpr std::int64_t BuildLengthOffset = 248;  // high half; low half at 252
inline constexpr std::int64_t StubPeOffset = 256;
// Larger files are not summed: their checksum is this value, which always passes.
inline constexpr std::int64_t ChecksumSizeLimit = 52428800;
inline constexpr std::uint32_t ChecksumAlwaysPasses = 1234;
inline constexpr int SpaceTableSize = 9;

// Bits of TPackageHeader::headerFlags.
enum HeaderFlag : std::uint8_t {
  hfAlwaysConfirm = 1,
  hfMoreDisks = 2,
  hfSpan = 4,
  hfActivityBar = 8,
  hfLogFile = 16,
};

#pragma pack(push, 1)
struct TPackageHeader {
  std::uint8_t format;           // 1 from the build tool; not interpreted
  std::uint8_t blockCount;       // header blocks at the payload start; 0 reads as 2
  std::uint16_t reserved1;
  std::uint32_t payloadStart;
  std::uint32_t fileCount;       // entries of the whole package
  std::uint32_t magic;
  std::uint32_t checksum;
  std::uint8_t integrity[8];    // the integrity mark, see above; zero without records
  // [0] unrounded; [i] rounded to clusters of 512 << (i - 1) bytes.
  std::uint32_t space[SpaceTableSize];
  std::uint8_t reserved3;
  std::uint8_t headerFlags;
  std::uint8_t internetSetup;
  std::uint8_t confirmDownload;
  std::uint8_t hasAgent;
  std::uint8_t autoUpdate;
  std::int32_t trailerLength;
};
#pragma pack(pop)

static_assert(sizeof(TPackageHeader) == PackageHeaderSize);
static_assert(offsetof(TPackageHeader, format) == 0);
static_assert(offsetof(TPackageHeader, blockCount) == 1);
static_assert(offsetof(TPackageHeader, reserved1) == 2);
static_assert(offsetof(TPackageHeader, payloadStart) == 4);
static_assert(offsetof(TPackageHeader, fileCount) == 8);
static_assert(offsetof(TPackageHeader, magic) == 12);
static_assert(offsetof(TPackageHeader, checksum) == 16);
static_assert(offsetof(TPackageHeader, integrity) == 20);
static_assert(offsetof(TPackageHeader, space) == 28);
static_assert(offsetof(TPackageHeader, reserved3) == 64);
static_assert(offsetof(TPackageHeader, headerFlags) == 65);
static_assert(offsetof(TPackageHeader, internetSetup) == 66);
static_assert(offsetof(TPackageHeader, confirmDownload) == 67);
static_assert(offsetof(TPackageHeader, hasAgent) == 68);
static_assert(offsetof(TPackageHeader, autoUpdate) == 69);
static_assert(offsetof(TPackageHeader, trailerLength) == 70);

// "MZ" at 0 and "PE" at 256; reads from the start of the file.
bool IsExecutableImage(const plat::File& file);
bool IsExecutableImage(std::string_view bytes);

// The 64-bit build length (high half at 248, low half at 252); 0 when the
// bytes are not there.
std::int64_t ReadBuildLength(const plat::File& file);
std::int64_t ReadBuildLength(std::string_view bytes);

// Where the package ends in a file of fileSize bytes: the build length of an
// executable image when it is set, else the file size. A build length past
// the end of the file cannot be the end of this package (a truncated copy,
// or bytes that only look like one), so it is ignored.
std::int64_t PackageEnd(const plat::File& file, std::int64_t fileSize);

// A code signature changes the stub image's own PE header (at StubPeOffset)
// and appends its certificate table after the package end. The checksum
// skips the head of the file whenever a build length is set, and every
// field a signature changes lies within that head, so a setup signed after
// its build still reads and passes as built.
inline constexpr std::int64_t ChecksumSkippedHead = 512;
inline constexpr std::int64_t PeOptionalHeaderOffset = StubPeOffset + 24;
inline constexpr std::int64_t PeChecksumOffset = PeOptionalHeaderOffset + 64;
// Data directory entry 4 (file offset and size of the certificate table);
// the data directories start later in a PE32+ optional header.
inline constexpr std::int64_t Pe32CertificateEntry = PeOptionalHeaderOffset + 96 + 4 * 8;
inline constexpr std::int64_t Pe32PlusCertificateEntry = PeOptionalHeaderOffset + 112 + 4 * 8;
static_assert(PeChecksumOffset + 4 <= ChecksumSkippedHead && Pe32CertificateEntry + 8 <= ChecksumSkippedHead &&
                  Pe32PlusCertificateEntry + 8 <= ChecksumSkippedHead,
              "signing must only change bytes that the checksum skips");
static_assert(BuildLengthOffset + 8 <= StubPeOffset);

// Offset of the certificate table's directory entry in the PE header at
// StubPeOffset, read from the file's first bytes (head); -1 when head is no
// PE32 or PE32+ image whose optional header holds that entry.
std::int64_t CertificateEntryOffset(std::string_view head);

// Makes a copy of the image's head that ends before the certificate table
// an unsigned executable: clears the table's directory entry and the PE
// checksum, which then no longer describe the file. Nothing changes when
// the entry is already clear. False when head has no such entry.
bool ClearSignatureFields(std::string& head);

// What follows the package end (PackageEnd) of a file: nothing, a code
// signature (the certificate table that the stub image's own PE header
// points to fills the tail, after at most 7 bytes of zero padding), or
// bytes of unknown origin, which the reader ignores just the same.
enum class TailKind { None, Signature, Unknown };
struct TForeignTail {
  TailKind kind = TailKind::None;
  std::int64_t packageEnd = 0;
  std::int64_t size = 0;  // bytes after the package end
  // The certificate table, when kind is Signature.
  std::int64_t signatureOffset = 0;
  std::int64_t signatureSize = 0;
};
TForeignTail ReadForeignTail(const plat::File& file);
TForeignTail ReadForeignTail(const std::string& path);
// The same for a file held in memory whose package ends at packageEnd.
TForeignTail ForeignTailOf(std::string_view bytes, std::int64_t packageEnd);

// Fills header (zero it first) from the end of the package. False when no
// header bytes could be read; the block count defaults to 2 either way.
bool ReadPackageHeader(const plat::File& file, TPackageHeader& header);
bool ReadPackageHeader(const std::string& path, TPackageHeader& header);

// Sum of the package's 32-bit words; see ChecksumSizeLimit.
std::uint32_t PackageChecksum(const std::string& path, std::int64_t trailerLength);
// A stored or computed ChecksumAlwaysPasses lets any content pass.
bool ChecksumPasses(std::uint32_t stored, std::uint32_t computed);

// Space table entry 0, replaced by every entry whose cluster size is not
// above clusterSize (0 when unknown).
double SpaceNeededFor(const TPackageHeader& header, std::uint32_t clusterSize);

#ifdef _WIN32
// Bytes per cluster of the drive named by the first three characters of
// path, 0 when the system cannot tell.
std::uint32_t ClusterSize(const std::string& path);
#endif

// ---- Language texts ----
// The built-in English text of a language key ("s0".."s12", "BtnText",
// "Error", "Confirm", "Attention", "Charset", "FontSize", "FontName"); empty
// for any other key.
std::string LanguageDefault(const std::string& key);
// The entry of block named name (ignoring case and surrounding blanks); a
// block of one language yields that one whatever its name; "*" otherwise.
std::string FindLanguageEntry(const std::string& block, const std::string& name);
// The entry chosen by the first lookup of the process: empty before it, "*"
// when no language could be chosen.
const std::string& ChosenLanguageEntry();
// Forgets the choice, so that the next lookup chooses again (tests only).
void ResetChosenLanguage();

// Read-only view of one package: header, language block and the two records.
// Holds no open file.
class TGFileInfo {
 public:
  TGFileInfo();
  explicit TGFileInfo(const std::string& path);
  static TGFileInfo Create(const std::string& path) { return TGFileInfo(path); }

  const TPackageHeader& Header() const { return header_; }
  const std::string& LanguageBlock() const { return language_; }
  const std::string& UpdateRecord() const { return update_; }
  const std::string& InternetRecord() const { return internet_; }

  bool AlwaysConfirm() const { return (header_.headerFlags & hfAlwaysConfirm) != 0; }
  bool MoreDisks() const { return (header_.headerFlags & hfMoreDisks) != 0; }
  bool Span() const { return (header_.headerFlags & hfSpan) != 0; }
  bool ActivityBar() const { return (header_.headerFlags & hfActivityBar) != 0; }
  bool LogFile() const { return (header_.headerFlags & hfLogFile) != 0; }
  bool InternetSetup() const { return header_.internetSetup != 0; }
  bool ConfirmDownload() const { return header_.confirmDownload != 0; }
  bool HasAgent() const { return header_.hasAgent != 0; }
  bool AutoUpdate() const { return header_.autoUpdate != 0; }

  // Update record.
  std::string InfoBase() const;
  std::string InfoFileName() const;      // file-name part of field 1
  std::string OriginalFileName() const;  // InfoFileName without extensions + ".original"
  std::string AgentFileName() const;
  std::string UpdateTokenRaw() const;
  std::string UpdateToken() const;       // decoded
  bool Silent() const;
  std::string UpdateKeysText() const;    // field 5
  // The keys of field 5 with their ids; false, keys empty, with the reason
  // when the field is no list of keys.
  bool UpdateKeys(std::vector<UpdateKey>& keys, std::string& error) const;

  // Internet record.
  std::string InternetBaseUrl() const;
  std::string InternetFileName() const;
  bool AlwaysDownload() const;
  std::string InternetTokenRaw() const;
  std::string InternetToken() const;     // decoded
  std::string InternetSizeText() const;
  std::string InternetSha256Text() const;  // field 5, hex

  double SpaceNeededFor(std::uint32_t clusterSize) const { return havrek::SpaceNeededFor(header_, clusterSize); }
#ifdef _WIN32
  double SpaceNeeded(const std::string& path) const;
#endif

  bool SameInternetToken(const TGFileInfo& other) const;
  bool SameUpdateToken(const std::string& path) const;

  // Language texts. The language is chosen once per process, from the block
  // of the reader that serves the first lookup; every reader then answers
  // from that entry. An absent key gives def, an empty value empty text.
  std::string GetText(const std::string& key, const std::string& def) const;
  // GetText with the built-in English text of the key (LanguageDefault).
  std::string GetText(const std::string& key) const;
  int Charset() const;           // "Charset", 0 when absent or not a number
  int FontSize() const;          // "FontSize" in points, 8 likewise
  std::string FontName() const;  // "FontName", "Tahoma"

 private:
  TPackageHeader header_;
  std::string language_;
  std::string update_;
  std::string internet_;
};

}  // namespace havrek
