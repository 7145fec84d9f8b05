// Arbitrary bytes as a DER signature and as the update keys field: both
// parsers stay inside their input, and what they accept is exactly the one
// encoding of what they return (strict DER, the keys as the writer lists
// them), so no two inputs pass for the same signature or keys.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "package/Signature.h"

using namespace havrek;

namespace {

// r or s as a minimal positive DER INTEGER.
std::string Integer(const unsigned char* half) {
  std::size_t skip = 0;
  while (skip < 31 && half[skip] == 0) ++skip;
  std::string out(reinterpret_cast<const char*>(half + skip), 32 - skip);
  if (static_cast<unsigned char>(out[0]) & 0x80) out.insert(out.begin(), '\0');
  return std::string{'\x02', static_cast<char>(out.size())} + out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  unsigned char rs[plat::kP256SignatureSize];
  std::string error;
  if (DerSignatureToRaw(bytes, rs, error)) {
    const std::string body = Integer(rs) + Integer(rs + 32);
    const std::string der = std::string{'\x30', static_cast<char>(body.size())} + body;
    if (der != bytes) std::abort();
  } else if (error.empty()) {
    std::abort();
  }

  std::vector<P256Point> keys;
  if (ParseUpdateKeys(bytes, keys, error)) {
    std::string lower(bytes);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (keys.size() > kMaxUpdateKeys || UpdateKeysText(keys) != lower) std::abort();
  } else if (!keys.empty() || error.empty()) {
    std::abort();
  }
  return 0;
}
