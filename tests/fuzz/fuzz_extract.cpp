// Arbitrary bytes as the entries of a package (or of a two-disk set): the
// walk ends, allocates no more than the entries allow, raises nothing but
// EZLibError, and writes nothing outside the target folder.
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/Integrity.h"
#include "package/PackX.h"
#include "package/UnPack.h"
#include "package/ZLibOpen.h"

using namespace havrek;
namespace fs = std::filesystem;

namespace {

// One folder per process, removed at exit:
//   pkg.exe, pkg.exe.002   the package files
//   out/t                  the target folder; out/ must stay otherwise empty
struct TempDir {
  fs::path path = fs::temp_directory_path() / ("havrek_fuzz_extract_" + std::to_string(getpid()));
  TempDir() { fs::create_directories(path / "out"); }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const fs::path& Dir() {
  static const TempDir dir;
  return dir.path;
}

// The payload, then a header whose magic matches and whose checksum always
// passes, so the fuzzer spends its time on the entries.
void WritePackage(const fs::path& path, const std::string& payload, std::uint8_t blockCount, bool moreDisks,
                  bool asIs, bool marked) {
  std::string bytes = payload;
  if (!asIs) {
    TPackageHeader h{};
    h.blockCount = blockCount;
    h.magic = PackageMagic;
    h.checksum = ChecksumAlwaysPasses;
    h.headerFlags = moreDisks ? hfMoreDisks : 0;
    h.trailerLength = PackageHeaderSize;
    if (marked) SetIntegrityMark(h);
    bytes.append(reinterpret_cast<const char*>(&h), sizeof h);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One compressed entry whose content is bytes repeated to 1 MB: a small
// input reaches what only a large expansion shows, a header without its
// NUL among them.
std::string LargeEntry(const std::string& bytes) {
  std::string content;
  if (bytes.empty()) return content;
  while (content.size() < (std::size_t{1} << 20)) content += bytes;
  uLongf n = compressBound(static_cast<uLong>(content.size()));
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(content.data()),
            static_cast<uLong>(content.size()), 1);
  const std::uint32_t length = static_cast<std::uint32_t>(n);
  return std::string(reinterpret_cast<const char*>(&length), 4) + z.substr(0, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
  const fs::path first = Dir() / "pkg.exe";
  const fs::path second = Dir() / "pkg.exe.002";
  const fs::path target = Dir() / "out" / "t";

  // Bits: 0-1 block count, 2 a second disk, 3 the agent copy, 4 the bytes
  // as they are (header included), 5 force prompt, 6 the bytes are the
  // content of one large entry after empty header blocks, 7 the headers
  // promise integrity records.
  if (mode & 64) {
    const std::size_t blocks = (mode & 3) ? (mode & 3) : 2;
    payload = std::string(4 * blocks, '\0') + LargeEntry(payload);
  }
  const bool twoDisks = mode & 4;
  const std::size_t cut = twoDisks ? payload.size() / 2 : payload.size();
  WritePackage(first, payload.substr(0, cut), mode & 3, twoDisks, mode & 16, mode & 128);
  std::error_code ec;
  fs::remove(second, ec);
  if (twoDisks) WritePackage(second, payload.substr(cut), 0, false, false, mode & 128);

  ExtractRequest request;
  request.packageFile = first.string();
  request.targetFolder = target.string();
  request.agentFileName = (mode & 8) ? "agent.exe" : "";
  request.diskPrompt = "Disk <DISK_NUM>";
  request.forcePrompt = mode & 32;
  int asked = 0;
  ExtractHooks hooks;
  // OK once (the second disk is there), Cancel after that.
  hooks.askForDisk = [&](const std::string&, const std::string&, int, const std::string&) { return ++asked == 1; };
  try {
    Extract(request, hooks);
  } catch (const EZLibError&) {
  }

  for (const auto& e : fs::recursive_directory_iterator(Dir() / "out")) {
    const fs::path rel = fs::relative(e.path(), target);
    if (rel.empty() || *rel.begin() == "..") std::abort();
  }
  fs::remove_all(target, ec);
  return 0;
}
