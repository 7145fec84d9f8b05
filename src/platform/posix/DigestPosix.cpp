// SHA-256 and ECDSA P-256 through OpenSSL's libcrypto (EVP), for havrek-pack
// and the native tests, fuzzers and benchmarks.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <memory>

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

namespace {

// A P-256 key's SubjectPublicKeyInfo is this fixed DER head and the point:
// the library then parses (and checks) the point itself.
constexpr unsigned char kP256InfoHead[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                           0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

template <class T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Sig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

}  // namespace

SignatureCheck VerifyP256Sha256(const unsigned char (&point)[kP256PointSize], const void* data, std::int64_t count,
                                const unsigned char (&rs)[kP256SignatureSize]) {
  if (point[0] != 0x04 || count < 0) return SignatureCheck::BadKey;
  unsigned char info[sizeof kP256InfoHead + kP256PointSize];
  std::copy(std::begin(kP256InfoHead), std::end(kP256InfoHead), info);
  std::copy(std::begin(point), std::end(point), info + sizeof kP256InfoHead);
  const unsigned char* p = info;
  const PKey key(d2i_PUBKEY(nullptr, &p, sizeof info));
  if (!key || EVP_PKEY_base_id(key.get()) != EVP_PKEY_EC) return SignatureCheck::BadKey;

  // EVP takes DER; r and s are rebuilt as numbers, never parsed as text.
  Sig sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(rs, kP256SignatureSize / 2, nullptr);
  BIGNUM* s = BN_bin2bn(rs + kP256SignatureSize / 2, kP256SignatureSize / 2, nullptr);
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return SignatureCheck::Unavailable;
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(sig.get(), &der);
  if (derSize <= 0) return SignatureCheck::Unavailable;
  const std::unique_ptr<unsigned char, void (*)(unsigned char*)> derOwner(der, [](unsigned char* b) {
    OPENSSL_free(b);
  });

  const MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1)
    return SignatureCheck::Unavailable;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::int64_t left = count; left > 0;) {
    const std::int64_t piece = left > INT_MAX ? INT_MAX : left;
    if (EVP_DigestVerifyUpdate(ctx.get(), bytes, static_cast<size_t>(piece)) != 1) return SignatureCheck::Unavailable;
    bytes += piece;
    left -= piece;
  }
  return EVP_DigestVerifyFinal(ctx.get(), der, static_cast<size_t>(derSize)) == 1 ? SignatureCheck::Good
                                                                                 : SignatureCheck::Bad;
}

}  // namespace havrek::plat
