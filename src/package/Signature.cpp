#include "package/Signature.h"

#include <algorithm>
#include <cstring>

namespace havrek {

namespace {

constexpr std::size_t kHalf = plat::kP256SignatureSize / 2;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// One DER INTEGER at der[at]: r or s, right-aligned into out (32 bytes).
bool ReadInteger(std::string_view der, std::size_t& at, const char* name, unsigned char* out, std::string& error) {
  if (at + 2 > der.size() || static_cast<unsigned char>(der[at]) != 0x02)
    return (error = std::string("no INTEGER ") + name), false;
  const std::size_t n = static_cast<unsigned char>(der[at + 1]);
  at += 2;
  if (n == 0 || n > kHalf + 1 || at + n > der.size())
    return (error = std::string(name) + " has a length of " + std::to_string(n) + " bytes"), false;
  const auto* p = reinterpret_cast<const unsigned char*>(der.data() + at);
  if (p[0] & 0x80) return (error = std::string(name) + " is negative"), false;
  if (n > 1 && p[0] == 0 && !(p[1] & 0x80)) return (error = std::string(name) + " is not minimally encoded"), false;
  std::size_t skip = p[0] == 0 ? 1 : 0;
  if (n - skip > kHalf) return (error = std::string(name) + " is longer than 32 bytes"), false;
  if (n - skip == 0) return (error = std::string(name) + " is zero"), false;
  std::memset(out, 0, kHalf);
  std::memcpy(out + kHalf - (n - skip), p + skip, n - skip);
  at += n;
  return true;
}

}  // namespace

std::string HexText(const void* bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::string text(2 * n, '0');
  for (std::size_t i = 0; i < n; ++i) {
    text[2 * i] = digits[p[i] >> 4];
    text[2 * i + 1] = digits[p[i] & 15];
  }
  return text;
}

bool ParseHex(std::string_view text, unsigned char* out, std::size_t n) {
  if (text.size() != 2 * n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const int hi = HexDigit(text[2 * i]), lo = HexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<unsigned char>(hi << 4 | lo);
  }
  return true;
}

std::string KeyId(const P256Point& point) {
  plat::Sha256 hash;
  hash.update(point.data(), static_cast<std::int64_t>(point.size()));
  unsigned char digest[plat::kSha256Size];
  if (!hash.final(digest)) return {};
  return HexText(digest, kKeyIdBytes);
}

bool DerSignatureToRaw(std::string_view der, unsigned char (&rs)[plat::kP256SignatureSize], std::string& error) {
  // Two INTEGERs of at most 33 bytes: the sequence is always shorter than
  // 128 bytes, so its length has the one-byte form.
  if (der.size() < 2 || static_cast<unsigned char>(der[0]) != 0x30)
    return (error = "the signature is no DER sequence"), false;
  const std::size_t n = static_cast<unsigned char>(der[1]);
  if (n >= 0x80 || n + 2 != der.size())
    return (error = "the signature's length does not match its " + std::to_string(der.size()) + " bytes"), false;
  std::size_t at = 2;
  if (!ReadInteger(der, at, "r", rs, error) || !ReadInteger(der, at, "s", rs + kHalf, error)) {
    error = "the signature is malformed: " + error;
    return false;
  }
  if (at != der.size()) return (error = "the signature is malformed: bytes after s"), false;
  return true;
}

std::string VerifySignature(const P256Point& point, std::string_view message, std::string_view der) {
  unsigned char rs[plat::kP256SignatureSize];
  std::string error;
  if (!DerSignatureToRaw(der, rs, error)) return error;
  unsigned char key[plat::kP256PointSize];
  std::copy(point.begin(), point.end(), key);
  switch (plat::VerifyP256Sha256(key, message.data(), static_cast<std::int64_t>(message.size()), rs)) {
    case plat::SignatureCheck::Good: return {};
    case plat::SignatureCheck::Bad: return "the signature does not match";
    case plat::SignatureCheck::BadKey: return "the key is no P-256 public key";
    case plat::SignatureCheck::Unavailable: break;
  }
  return "this system offers no ECDSA P-256";
}

bool FileSha256(const std::string& path, Sha256Digest& digest) {
  const plat::File file(path, plat::OpenMode::Read);
  if (!file) return false;
  plat::Sha256 hash;
  std::string piece(1 << 20, '\0');
  for (;;) {
    const std::int64_t got = file.read(piece.data(), static_cast<std::int64_t>(piece.size()));
    if (got < 0) return false;
    if (got == 0) break;
    hash.update(piece.data(), got);
  }
  unsigned char out[plat::kSha256Size];
  if (!hash.final(out)) return false;
  std::copy(std::begin(out), std::end(out), digest.begin());
  return true;
}

std::string UpdateKeysText(const std::vector<P256Point>& keys) {
  std::string text;
  for (const P256Point& key : keys) {
    if (!text.empty()) text += ',';
    text += HexText(key);
  }
  return text;
}

bool ParseUpdateKeys(std::string_view text, std::vector<P256Point>& keys, std::string& error) {
  keys.clear();
  if (text.empty()) return true;
  for (std::size_t at = 0;;) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    P256Point key{};
    if (keys.size() == kMaxUpdateKeys)
      return (error = "more than " + std::to_string(kMaxUpdateKeys) + " update keys"), keys.clear(), false;
    if (!ParseHex(text.substr(at, comma - at), key.data(), key.size()) || key[0] != 0x04)
      return (error = "update key " + std::to_string(keys.size() + 1) + " is no uncompressed P-256 point"),
             keys.clear(), false;
    keys.push_back(key);
    if (comma == text.size()) return true;
    at = comma + 1;
  }
}

}  // namespace havrek
