// Publisher signatures (ECDSA P-256 with SHA-256): the public keys a package
// carries for its updates, their key ids, signatures as OpenSSL writes them
// (DER) and SHA-256 of whole files. The cryptography itself is the system's
// (plat::VerifyP256Sha256, plat::Sha256); this unit only moves encodings.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"

namespace havrek {

// A public key as the uncompressed point 04 || X || Y.
using P256Point = std::array<unsigned char, plat::kP256PointSize>;
using Sha256Digest = std::array<unsigned char, plat::kSha256Size>;

struct UpdateKey {
  P256Point point{};
  std::string id;  // KeyId(point)
};

// Keys of one package: the current one and those of a rotation under way.
inline constexpr std::size_t kMaxUpdateKeys = 4;
inline constexpr std::size_t kKeyIdBytes = 8;

// Lower-case hex of the bytes.
std::string HexText(const void* bytes, std::size_t n);
template <std::size_t N>
std::string HexText(const std::array<unsigned char, N>& bytes) {
  return HexText(bytes.data(), N);
}
// Hex digits (either case) to exactly out.size() bytes; false on anything else.
bool ParseHex(std::string_view text, unsigned char* out, std::size_t n);

// The first 8 bytes of SHA-256 of the 65-byte point, in lower-case hex (16
// characters): how a person, a log line and an offer name a key. Empty when
// the system offers no SHA-256.
std::string KeyId(const P256Point& point);

// An ECDSA-Sig-Value (SEQUENCE of the INTEGERs r and s, DER) to the 64 bytes
// r || s. Strict: definite minimal lengths, positive minimal integers of at
// most 32 bytes, nothing after the sequence. False with the reason.
bool DerSignatureToRaw(std::string_view der, unsigned char (&rs)[plat::kP256SignatureSize], std::string& error);

// Whether der is point's signature of message: empty when it is, else why
// not ("the signature does not match", a malformed signature, a point that
// is no key, no ECDSA on this system).
std::string VerifySignature(const P256Point& point, std::string_view message, std::string_view der);

// SHA-256 of the whole file at path, read in pieces (packages run to
// hundreds of MB). False when it cannot be opened, read or hashed.
bool FileSha256(const std::string& path, Sha256Digest& digest);

// The update keys as the update record stores them (field 5): each point in
// lower-case hex (130 digits), joined by ",". Empty for none.
std::string UpdateKeysText(const std::vector<P256Point>& keys);
// The reverse; empty text is no keys. False with the reason on anything that
// is not such a list of at most kMaxUpdateKeys uncompressed points.
bool ParseUpdateKeys(std::string_view text, std::vector<P256Point>& keys, std::string& error);

}  // namespace havrek
