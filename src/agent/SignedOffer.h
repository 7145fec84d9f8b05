// A signed offer: the .info file with its publisher's signature in its last
// two lines, both INI comments so that every reader (and an agent that has no
// keys) reads the offer as if they were not there:
//   ;signed=2026-12-11T13:00:00Z key=0123456789abcdef
//   ;signature=<base64 of the DER ECDSA P-256 signature>
// The signature covers every byte before the ";signature=" line, the
// ";signed=" line with the signing time and the key id included. Every line
// ends in CRLF. This unit takes such a file apart and puts one together;
// checking the signature itself is the platform's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "agent/StubAUFetch.h"

namespace havrek {

inline constexpr char kSignedLinePrefix[] = ";signed=";
inline constexpr char kSignatureLinePrefix[] = ";signature=";
// The agent fetches no larger offer; a larger file is refused before it is
// looked at.
inline constexpr std::size_t kMaxOfferSize = kInfoFileCap;

struct OfferSignature {
  std::string signedBytes;    // every byte before the ";signature=" line
  std::int64_t signedAt = 0;  // seconds since 1970-01-01 00:00 UTC
  std::string keyId;          // 16 lower-case hexadecimal digits
  std::string der;            // the DER-encoded ECDSA signature
};

// Takes a signed offer apart; false, with what is wrong, for an offer without
// a signature and for anything but exactly the two lines above at its end.
bool SplitSignedOffer(const std::string& offer, OfferSignature& signature, std::string& error);

// The offer with its signature lines (both, when they end it) taken away,
// and every line ended in CRLF: what is signed again.
std::string UnsignedOffer(const std::string& offer);

// The ";signed=" line and the ";signature=" line, each with its CRLF.
std::string SignedLine(std::int64_t signedAt, const std::string& keyId);
std::string SignatureLine(const std::string& der);

// "YYYY-MM-DDTHH:MM:SSZ" (UTC, years 1970 to 9999) and seconds since 1970.
bool ParseUtcTime(const std::string& text, std::int64_t& seconds);
std::string UtcTimeText(std::int64_t seconds);

// 64 hexadecimal digits (either case) to the 32 bytes of a SHA-256 digest.
bool ParseSha256Hex(const std::string& text, std::string& digest);
// Lower-case hexadecimal digits of bytes.
std::string LowerHex(const std::string& bytes);

// Standard base64 with padding; decoding refuses anything but the canonical
// encoding of some bytes (no blanks, no line breaks, unused bits zero).
std::string Base64Encode(const std::string& bytes);
bool Base64Decode(const std::string& text, std::string& bytes);


}  // namespace havrek
