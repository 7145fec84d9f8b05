// The publisher's ECDSA P-256 keys as PEM files, and signing and checking
// with them (SHA-256). NAME.key is the private key (PKCS#8 PEM), NAME.pub
// the public key (SubjectPublicKeyInfo PEM); files made by `openssl ecparam
// -name prime256v1 -genkey` and `openssl pkey -pubout` read the same. The
// stub never sees PEM: a package carries the bare points (package/Signature.h).
// The Windows build reads public keys and checks signatures; making keys and
// signing need the Linux build.
#pragma once

#include <string>

#include "package/Signature.h"

namespace havrek::pack {

class Key {
 public:
  Key();
  Key(Key&&) noexcept;
  Key& operator=(Key&&) noexcept;
  ~Key();
  explicit operator bool() const { return state_ != nullptr; }
  void* state_ = nullptr;  // the library's key (the bare point on Windows)
};

// A private key (PKCS#8 PEM, unencrypted) or a public key (PEM); false with
// the path and what is wrong: no such file, not PEM, the other half of a key
// pair, not an ECDSA P-256 key.
bool LoadPrivateKey(const std::string& path, Key& key, std::string& error);
bool LoadPublicKey(const std::string& path, Key& key, std::string& error);

// The key's uncompressed public point; false with the reason.
bool PublicPoint(const Key& key, P256Point& point, std::string& error);
// KeyId of the public point: the first 8 bytes of its SHA-256, in hex.
std::string KeyId(const Key& key);

// The point of the P-256 public key in the PEM file at path; false with the
// path and the reason (no such file, damaged PEM, a private key, another
// algorithm or curve).
bool ReadPublicKeyFile(const std::string& path, P256Point& point, std::string& error);

// The DER-encoded ECDSA signature of bytes' SHA-256; empty on failure.
std::string SignBytes(const Key& key, const std::string& bytes);
bool VerifyBytes(const Key& key, const std::string& bytes, const std::string& der);

}  // namespace havrek::pack
