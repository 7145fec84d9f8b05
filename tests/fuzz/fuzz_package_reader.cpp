// Arbitrary bytes as a package file: the reader, the header and the checksum
// stay inside the file, allocate no more than the file holds, and never hang.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "package/PackX.h"

using namespace havrek;

namespace {

// One file per process, removed at exit.
struct TempFile {
  std::string path = "/tmp/havrek_fuzz_package_" + std::to_string(getpid()) + ".bin";
  ~TempFile() { unlink(path.c_str()); }
};

const std::string& TempPath() {
  static const TempFile file;
  return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  // Odd first bytes end the file with a header whose magic matches, so the
  // header blocks behind the fuzzed payload start get read too; bit 1 also
  // makes the file an image whose build length is fuzzed.
  if (data[0] & 1) {
    TPackageHeader h{};
    std::memcpy(&h, bytes.data(), std::min(bytes.size(), sizeof h));
    h.magic = PackageMagic;
    h.trailerLength = PackageHeaderSize;
    if (bytes.size() >= 8) h.payloadStart %= static_cast<std::uint32_t>(bytes.size());
    bytes.append(reinterpret_cast<const char*>(&h), sizeof h);
  }
  if ((data[0] & 2) && bytes.size() >= 258) {
    bytes.replace(0, 2, "MZ");
    bytes.replace(256, 2, "PE");
  }
  {
    std::ofstream out(TempPath(), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  (void)IsExecutableImage(bytes);
  (void)ReadBuildLength(bytes);
  TPackageHeader header{};
  ReadPackageHeader(TempPath(), header);
  if (header.trailerLength > PackageHeaderSize) std::abort();
  (void)PackageChecksum(TempPath(), header.trailerLength);

  const TGFileInfo info(TempPath());
  const std::size_t texts = info.LanguageBlock().size() + info.UpdateRecord().size() + info.InternetRecord().size();
  if (texts > bytes.size()) std::abort();
  (void)info.OriginalFileName();
  (void)info.UpdateToken();
  (void)info.InternetToken();
  (void)info.SpaceNeededFor(4096);
  (void)info.SameInternetToken(info);
  std::vector<UpdateKey> keys;
  std::string error;
  if (!info.UpdateKeys(keys, error) && (!keys.empty() || error.empty())) std::abort();
  if (keys.size() > kMaxUpdateKeys) std::abort();
  (void)info.InternetSha256Text();
  return 0;
}
