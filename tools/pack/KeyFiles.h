// Publisher key files of havrek-pack: NAME.key, the private key (PKCS#8
// PEM), and NAME.pub, the public key (SubjectPublicKeyInfo PEM), of an ECDSA
// P-256 key. Files made by `openssl ecparam -name prime256v1 -genkey` and
// `openssl pkey -pubout` read the same. The stub never sees PEM: a package
// carries the bare points (package/Signature.h).
#pragma once

#include <string>

#include "package/Signature.h"

namespace havrek::pack {

// The point of the P-256 public key in the PEM file at path; false with the
// path and the reason (no such file, damaged PEM, a private key, another
// algorithm or curve).
bool ReadPublicKeyFile(const std::string& path, P256Point& point, std::string& error);

}  // namespace havrek::pack
