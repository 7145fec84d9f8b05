// Build tokens as the package records and information pages carry them: the
// token between random filler, xored with a key, summed and written as
// shifted hex digits, so that it never holds "|" and is not read at a glance.
// Written by havrek-pack, read back by the stub and the agent.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// An encoding that DecodeToken turns back into token. p (0..255) bytes of
// filler go before the token, q (1..255) bytes after it, the last of them
// being the checksum; seed chooses the filler and key bytes. Empty when the
// token is empty (an empty token never decodes) or p or q is out of range.
std::string EncodeToken(const std::string& token, int p, int q, std::uint32_t seed);
// Filler lengths (1..16) and key drawn from the token itself, so that a
// build given the same token writes the same bytes.
std::string EncodeToken(const std::string& token);

// DecodeToken returns a random decimal below 99999 for text that does not
// decode; comparisons use TryDecodeToken, so that two failures never compare
// equal.
std::string DecodeToken(const std::string& text);
bool TryDecodeToken(const std::string& text, std::string& token);
// Equal plain tokens; false when either side does not decode.
bool SameToken(const std::string& encodedA, const std::string& encodedB);

}  // namespace havrek
