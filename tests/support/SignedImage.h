// Code signatures laid out as signing tools leave them, for the tests of the
// readers that must keep working once a setup is signed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "package/PackX.h"

namespace havrek::test {

inline constexpr std::uint16_t kPe32 = 0x10B;
inline constexpr std::uint16_t kPe32Plus = 0x20B;

inline void PutU16(std::string& bytes, std::int64_t at, std::uint16_t value) {
  std::memcpy(bytes.data() + at, &value, 2);
}
inline void PutU32(std::string& bytes, std::int64_t at, std::uint32_t value) {
  std::memcpy(bytes.data() + at, &value, 4);
}

// Gives the image (at least 512 bytes, "PE\0\0" at 256) a PE32 or PE32+
// optional header with all sixteen data directories, every one empty.
inline void SetOptionalHeader(std::string& image, std::uint16_t magic) {
  const bool plus = magic == kPe32Plus;
  PutU16(image, StubPeOffset + 20, plus ? 0xF0 : 0xE0);
  PutU16(image, PeOptionalHeaderOffset, magic);
  PutU32(image, PeOptionalHeaderOffset + (plus ? 108 : 92), 16);
}

// What a signing tool does to a file whose image has an optional header:
// zero padding to a multiple of 8 bytes, a certificate table of one
// WIN_CERTIFICATE (revision 2.0, PKCS#7) of tableSize bytes at the end, the
// table's directory entry and a new PE checksum.
inline std::string SignFile(std::string file, std::uint32_t tableSize = 1536) {
  file.resize((file.size() + 7) / 8 * 8, '\0');
  const auto offset = static_cast<std::uint32_t>(file.size());
  std::string table(tableSize, '\x30');
  PutU32(table, 0, tableSize);
  PutU16(table, 4, 0x0200);
  PutU16(table, 6, 2);
  file += table;
  const std::int64_t entry = CertificateEntryOffset(file);
  PutU32(file, entry, offset);
  PutU32(file, entry + 4, tableSize);
  PutU32(file, PeChecksumOffset, 0x000CA3B0);
  return file;
}

}  // namespace havrek::test
