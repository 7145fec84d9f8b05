// SHA-256 computed here (Sha256Blocks: the CPU's SHA instructions where it
// has them), ECDSA P-256 through the system's CNG. bcrypt.dll is loaded at
// run time from the system folder only, like every other library of the
// stub, so the stub's import table keeps naming nothing a download folder
// could hold.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "platform/Sha256Blocks.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace havrek::plat {

namespace {

struct Cng {
  decltype(&::BCryptOpenAlgorithmProvider) open = nullptr;
  decltype(&::BCryptImportKeyPair) importKey = nullptr;
  decltype(&::BCryptVerifySignature) verify = nullptr;
  decltype(&::BCryptDestroyKey) destroyKey = nullptr;
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

// Loaded once and kept for the process: the provider is shared by every check.
const Cng& Provider() {
  static const Cng cng = [] {
    Cng c;
    const HMODULE module = LoadSystemBcrypt();
    if (!module) return c;
    Bind(module, "BCryptOpenAlgorithmProvider", c.open);
    Bind(module, "BCryptImportKeyPair", c.importKey);
    Bind(module, "BCryptVerifySignature", c.verify);
    Bind(module, "BCryptDestroyKey", c.destroyKey);
    if (!c.open || !c.importKey || !c.verify || !c.destroyKey ||
        c.open(&c.ecdsa, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
      c.ecdsa = nullptr;
    return c;
  }();
  return cng;
}

}  // namespace

Sha256::Sha256() : state_(new Sha256Stream) {}

void Sha256::reset() { delete static_cast<Sha256Stream*>(std::exchange(state_, nullptr)); }

void Sha256::update(const void* data, std::int64_t count) {
  auto* p = static_cast<const unsigned char*>(data);
  // In pieces that a 32-bit size_t holds.
  for (; state_ && count > 0;) {
    const std::int64_t piece = std::min<std::int64_t>(count, 0x40000000);
    static_cast<Sha256Stream*>(state_)->update(p, static_cast<std::size_t>(piece));
    p += piece;
    count -= piece;
  }
}

bool Sha256::final(unsigned char (&digest)[kSha256Size]) {
  if (!state_) return false;
  static_cast<Sha256Stream*>(state_)->final(digest);
  reset();
  return true;
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
