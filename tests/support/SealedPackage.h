// Packages laid out byte by byte, for the tests and benchmarks that need what
// havrek-pack never writes (damaged entries, hostile headers).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "package/PackX.h"

namespace havrek::test {

// Ends bytes (stub image, header blocks, entries) with a package header whose
// checksum always passes, and sets the build length (low half at 252) to the
// whole package's size.
inline std::string SealPackage(std::string bytes, std::uint32_t payloadStart, std::uint32_t fileCount,
                               std::uint8_t headerFlags = 0) {
  TPackageHeader h{};
  h.format = 1;
  h.blockCount = 2;
  h.payloadStart = payloadStart;
  h.fileCount = fileCount;
  h.magic = PackageMagic;
  h.checksum = ChecksumAlwaysPasses;
  h.headerFlags = headerFlags;
  h.trailerLength = PackageHeaderSize;
  bytes.append(reinterpret_cast<const char*>(&h), PackageHeaderSize);
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
  std::memcpy(bytes.data() + 252, &size, 4);
  return bytes;
}

}  // namespace havrek::test
