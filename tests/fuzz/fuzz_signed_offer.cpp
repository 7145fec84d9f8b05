// Hostile offers through the signature split, the base64, time and DER
// readers and the offer checks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/OfferCheck.h"
#include "agent/SignedOffer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  havrek::OfferSignature s;
  std::string error;
  if (havrek::SplitSignedOffer(input, s, error)) {
    // What was accepted is exactly what the writer would have written.
    if (s.signedBytes + havrek::SignatureLine(s.der) != input) std::abort();
    if (s.keyId.size() != 16) std::abort();
    const std::string tail = havrek::SignedLine(s.signedAt, s.keyId);
    if (s.signedBytes.compare(s.signedBytes.size() - tail.size(), tail.size(), tail) != 0) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  (void)havrek::UnsignedOffer(input);
  (void)havrek::OfferFindings(input, true);

  std::string bytes;
  if (havrek::Base64Decode(input, bytes) && havrek::Base64Encode(bytes) != input) std::abort();
  std::int64_t seconds = 0;
  if (havrek::ParseUtcTime(input, seconds) && havrek::UtcTimeText(seconds) != input) std::abort();
  return 0;
}
