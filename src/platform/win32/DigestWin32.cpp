// SHA-256 and ECDSA P-256 through the system's CNG. bcrypt.dll is loaded at
// run time from the system folder only, like every other library of the
// stub, so the stub's import table keeps naming nothing a download folder
// could hold.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace havrek::plat {

namespace {

struct Cng {
  decltype(&::BCryptOpenAlgorithmProvider) open = nullptr;
  decltype(&::BCryptCreateHash) create = nullptr;
  decltype(&::BCryptHashData) hashData = nullptr;
  decltype(&::BCryptFinishHash) finish = nullptr;
  decltype(&::BCryptDestroyHash) destroy = nullptr;
  decltype(&::BCryptImportKeyPair) importKey = nullptr;
  decltype(&::BCryptVerifySignature) verify = nullptr;
  decltype(&::BCryptDestroyKey) destroyKey = nullptr;
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  BCRYPT_ALG_HANDLE ecdsa = nullptr;
};

template <class F>
void Bind(HMODULE module, const char* name, F& fn) {
  fn = reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

HMODULE LoadSystemBcrypt() {
  // The search flags came with the update that brought AddDllDirectory;
  // older systems reject them, so the full path is given there instead.
  const HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  if (kernel && ::GetProcAddress(kernel, "AddDllDirectory"))
    return ::LoadLibraryExA("bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  char folder[MAX_PATH];
  const UINT n = ::GetSystemDirectoryA(folder, MAX_PATH);
  if (n == 0 || n >= MAX_PATH - 12) return nullptr;
  return ::LoadLibraryExA((std::string(folder, n) + "\\bcrypt.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// Loaded once and kept for the process: the provider is shared by every hash.
const Cng& Provider() {
  static const Cng cng = [] {
    Cng c;
    const HMODULE module = LoadSystemBcrypt();
    if (!module) return c;
    Bind(module, "BCryptOpenAlgorithmProvider", c.open);
    Bind(module, "BCryptCreateHash", c.create);
    Bind(module, "BCryptHashData", c.hashData);
    Bind(module, "BCryptFinishHash", c.finish);
    Bind(module, "BCryptDestroyHash", c.destroy);
    Bind(module, "BCryptImportKeyPair", c.importKey);
    Bind(module, "BCryptVerifySignature", c.verify);
    Bind(module, "BCryptDestroyKey", c.destroyKey);
    if (!c.open || !c.create || !c.hashData || !c.finish || !c.destroy ||
        c.open(&c.sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
      c.sha256 = nullptr;
    // Opened once too: verifying needs the hash as well, so without it ECDSA
    // is of no use.
    if (!c.sha256 || !c.importKey || !c.verify || !c.destroyKey ||
        c.open(&c.ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
      c.ecdsa = nullptr;
    return c;
  }();
  return cng;
}

}  // namespace

Sha256::Sha256() {
  const Cng& cng = Provider();
  BCRYPT_HASH_HANDLE hash = nullptr;
  // With a null object buffer the system keeps the hash's memory itself.
  if (cng.sha256 && cng.create(cng.sha256, &hash, nullptr, 0, nullptr, 0, 0) >= 0) state_ = hash;
}

void Sha256::reset() {
  if (state_) Provider().destroy(static_cast<BCRYPT_HASH_HANDLE>(std::exchange(state_, nullptr)));
}

void Sha256::update(const void* data, std::int64_t count) {
  auto* p = static_cast<unsigned char*>(const_cast<void*>(data));
  while (state_ && count > 0) {
    const std::int64_t piece = std::min<std::int64_t>(count, 0x40000000);
    if (Provider().hashData(static_cast<BCRYPT_HASH_HANDLE>(state_), p, static_cast<ULONG>(piece), 0) < 0) reset();
    p += piece;
    count -= piece;
  }
}

bool Sha256::final(unsigned char (&digest)[kSha256Size]) {
  unsigned char out[kSha256Size];
  const bool ok = state_ && Provider().finish(static_cast<BCRYPT_HASH_HANDLE>(state_), out, kSha256Size, 0) >= 0;
  reset();
  if (ok) std::copy(out, out + kSha256Size, digest);
  return ok;
}

SignatureCheck VerifyP256Sha256(const unsigned char (&point)[kP256PointSize], const void* data, std::int64_t count,
                                const unsigned char (&rs)[kP256SignatureSize]) {
  if (point[0] != 0x04 || count < 0) return SignatureCheck::BadKey;
  const Cng& cng = Provider();
  if (!cng.ecdsa) return SignatureCheck::Unavailable;
  // The public blob: its header, then X and Y without the point's 04.
  constexpr ULONG kHalf = (kP256PointSize - 1) / 2;
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kHalf];
  const BCRYPT_ECCKEY_BLOB head{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kHalf};
  std::memcpy(blob, &head, sizeof head);
  std::memcpy(blob + sizeof head, point + 1, 2 * kHalf);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (cng.importKey(cng.ecdsa, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob, sizeof blob, 0) < 0 || !key)
    return SignatureCheck::BadKey;
  struct KeyOwner {
    BCRYPT_KEY_HANDLE key;
    ~KeyOwner() { Provider().destroyKey(key); }
  } owner{key};

  Sha256 hash;
  hash.update(data, count);
  unsigned char digest[kSha256Size];
  if (!hash.final(digest)) return SignatureCheck::Unavailable;
  auto* signature = const_cast<unsigned char*>(rs);
  const NTSTATUS status = cng.verify(key, nullptr, digest, kSha256Size, signature, kP256SignatureSize, 0);
  return status >= 0 ? SignatureCheck::Good : SignatureCheck::Bad;
}

}  // namespace havrek::plat
