// The publisher's ECDSA P-256 keys as PEM files, and signing and checking
// with them (SHA-256). The key id is the first 8 bytes of the SHA-256 of the
// key's 65-byte uncompressed public point, in lower-case hexadecimal.
#pragma once

#include <memory>
#include <string>

namespace havrek::pack {

class Key {
 public:
  Key();
  Key(Key&&) noexcept;
  Key& operator=(Key&&) noexcept;
  ~Key();
  explicit operator bool() const { return state_ != nullptr; }
  void* state_ = nullptr;  // the library's key
};

// A private key (PKCS#8 PEM, unencrypted) or a public key (PEM); false with
// the path and what is wrong: no such file, not PEM, the other half of a key
// pair, not an ECDSA P-256 key.
bool LoadPrivateKey(const std::string& path, Key& key, std::string& error);
bool LoadPublicKey(const std::string& path, Key& key, std::string& error);

std::string KeyId(const Key& key);

// The DER-encoded ECDSA signature of bytes' SHA-256; empty on failure.
std::string SignBytes(const Key& key, const std::string& bytes);
bool VerifyBytes(const Key& key, const std::string& bytes, const std::string& der);

}  // namespace havrek::pack
