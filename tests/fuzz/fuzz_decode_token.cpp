// Arbitrary texts as encoded tokens: decoding stays inside its bytes, and
// whatever decodes is exactly what an encoding of it held.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "package/TokenCodec.h"

using namespace havrek;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string token;
  if (TryDecodeToken(text, token) && (token.empty() || token.size() > text.size())) std::abort();
  if (SameToken(text, text) != !token.empty()) std::abort();

  if (size >= 3) {
    const std::string plain = text.substr(3);
    const std::string encoded = EncodeToken(plain, data[0], data[1] | 1, data[2]);
    if (!plain.empty() && (!TryDecodeToken(encoded, token) || token != plain)) std::abort();
  }
  return 0;
}
