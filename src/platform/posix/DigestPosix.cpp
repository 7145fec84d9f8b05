// SHA-256 through OpenSSL's libcrypto (EVP), for havrek-pack and the native
// tests, fuzzers and benchmarks.
#include <openssl/evp.h>

#include <climits>

#include "platform/Platform.h"

namespace havrek::plat {

namespace {
EVP_MD_CTX* Ctx(void* state) { return static_cast<EVP_MD_CTX*>(state); }
}  // namespace

Sha256::Sha256() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (ctx && EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) == 1) {
    state_ = ctx;
  } else {
    EVP_MD_CTX_free(ctx);
  }
}

void Sha256::reset() {
  if (state_) EVP_MD_CTX_free(Ctx(std::exchange(state_, nullptr)));
}

void Sha256::update(const void* data, std::int64_t count) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (state_ && count > 0) {
    const std::int64_t piece = count > INT_MAX ? INT_MAX : count;
    if (EVP_DigestUpdate(Ctx(state_), p, static_cast<size_t>(piece)) != 1) reset();
    p += piece;
    count -= piece;
  }
}

bool Sha256::final(unsigned char (&digest)[kSha256Size]) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  const bool ok = state_ && EVP_DigestFinal_ex(Ctx(state_), out, &n) == 1 && n == kSha256Size;
  reset();
  if (ok) std::copy(out, out + kSha256Size, digest);
  return ok;
}

}  // namespace havrek::plat
