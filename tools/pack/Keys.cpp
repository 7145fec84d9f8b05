#include "Keys.h"

#include <utility>

#include "Commands.h"

#ifndef _WIN32
#include <algorithm>
#include <filesystem>
#include <vector>
#endif

#ifndef _WIN32
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#endif

namespace havrek::pack {

#ifndef _WIN32

namespace {

constexpr std::uintmax_t kMaxKeyFile = 64 * 1024;

EVP_PKEY* Pkey(const Key& key) { return static_cast<EVP_PKEY*>(key.state_); }

// The library would ask on the terminal for the pass phrase of an encrypted
// key; a build tool must not wait for an answer nobody gives.
int NoPassphrase(char*, int, int, void*) { return -1; }

// The PEM labels in text ("PRIVATE KEY", "PUBLIC KEY", ...), in order.
std::vector<std::string> PemLabels(const std::string& text) {
  const std::string begin = "-----BEGIN ";
  std::vector<std::string> labels;
  for (std::size_t at = text.find(begin); at != std::string::npos; at = text.find(begin, at + 1)) {
    const std::size_t end = text.find("-----", at + begin.size());
    if (end == std::string::npos) break;
    labels.push_back(text.substr(at + begin.size(), end - at - begin.size()));
  }
  return labels;
}

bool Has(const std::vector<std::string>& labels, bool (*match)(const std::string&)) {
  return std::any_of(labels.begin(), labels.end(), match);
}

// Only ECDSA over P-256 is what the agent checks.
bool CheckP256(const std::string& path, EVP_PKEY* pkey, std::string& error) {
  if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_EC) {
    const char* type = EVP_PKEY_get0_type_name(pkey);
    return (error = path + ": not an ECDSA P-256 key (a key of type " + (type ? type : "unknown") + ")"), false;
  }
  char group[64] = {};
  std::size_t length = 0;
  if (EVP_PKEY_get_group_name(pkey, group, sizeof group, &length) != 1 || std::string(group) != "prime256v1")
    return (error = path + ": an ECDSA key on the curve " + (group[0] ? group : "(unnamed)") +
                    ", not on P-256 (prime256v1)"),
           false;
  return true;
}

bool Load(const std::string& path, bool isPrivate, Key& key, std::string& error) {
  std::error_code ec;
  // A key file is a few hundred bytes; a package given by mistake is not read whole.
  if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) > kMaxKeyFile)
    return (error = path + ": no PEM key (larger than " + std::to_string(kMaxKeyFile) + " bytes)"), false;
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  const std::vector<std::string> labels = PemLabels(text);
  const char* option = isPrivate ? "--key" : "--pub";
  auto isPrivateLabel = [](const std::string& l) { return l.find("PRIVATE KEY") != std::string::npos; };
  auto isPublicLabel = [](const std::string& l) { return l.find("PUBLIC KEY") != std::string::npos; };
  auto isEncrypted = [](const std::string& l) { return l == "ENCRYPTED PRIVATE KEY"; };
  if (labels.empty()) return (error = path + ": no PEM key (no \"-----BEGIN\" line)"), false;
  if (isPrivate && Has(labels, isEncrypted))
    return (error = path + ": an encrypted private key; havrek-pack reads unencrypted PKCS#8 keys"), false;
  if (isPrivate && !Has(labels, isPrivateLabel))
    return (error = path + ": " + (Has(labels, isPublicLabel) ? std::string("a public key") : "a PEM " + labels[0]) +
                    ", not a private key (" + option + " takes NAME.key)"),
           false;
  if (!isPrivate && Has(labels, isPrivateLabel))
    return (error = path + ": a private key; " + option + " takes the public key (NAME.pub), which is safe to share"),
           false;
  if (!isPrivate && !Has(labels, isPublicLabel))
    return (error = path + ": a PEM " + labels[0] + ", not a public key (" + option + " takes NAME.pub)"), false;
  BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  if (!bio) return (error = path + ": out of memory"), false;
  EVP_PKEY* pkey = isPrivate ? PEM_read_bio_PrivateKey(bio, nullptr, NoPassphrase, nullptr)
                             : PEM_read_bio_PUBKEY(bio, nullptr, NoPassphrase, nullptr);
  BIO_free(bio);
  ERR_clear_error();
  if (!pkey)
    return (error = path + ": not a readable PEM " + (isPrivate ? "private" : "public") + " key (damaged?)"), false;
  Key loaded;
  loaded.state_ = pkey;
  if (!CheckP256(path, pkey, error)) return false;
  key = std::move(loaded);
  return true;
}

}  // namespace

Key::Key() = default;
Key::Key(Key&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    EVP_PKEY_free(Pkey(*this));
    state_ = std::exchange(other.state_, nullptr);
  }
  return *this;
}
Key::~Key() { EVP_PKEY_free(Pkey(*this)); }

bool LoadPrivateKey(const std::string& path, Key& key, std::string& error) { return Load(path, true, key, error); }
bool LoadPublicKey(const std::string& path, Key& key, std::string& error) { return Load(path, false, key, error); }

std::string KeyId(const Key& key) {
  BIGNUM* x = nullptr;
  BIGNUM* y = nullptr;
  std::string point(65, '\0');
  point[0] = 0x04;
  const bool ok = EVP_PKEY_get_bn_param(Pkey(key), OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                  EVP_PKEY_get_bn_param(Pkey(key), OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                  BN_bn2binpad(x, reinterpret_cast<unsigned char*>(&point[1]), 32) == 32 &&
                  BN_bn2binpad(y, reinterpret_cast<unsigned char*>(&point[33]), 32) == 32;
  BN_free(x);
  BN_free(y);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ok || EVP_Digest(point.data(), point.size(), digest, &length, EVP_sha256(), nullptr) != 1) return std::string();
  static const char hex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 8; ++i) id += hex[digest[i] >> 4], id += hex[digest[i] & 15];
  return id;
}

std::string SignBytes(const Key& key, const std::string& bytes) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  std::string der(EVP_PKEY_get_size(Pkey(key)), '\0');
  std::size_t length = der.size();
  const bool ok = ctx && EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, Pkey(key)) == 1 &&
                  EVP_DigestSign(ctx, reinterpret_cast<unsigned char*>(der.data()), &length,
                                 reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  if (!ok) return std::string();
  der.resize(length);
  return der;
}

bool VerifyBytes(const Key& key, const std::string& bytes, const std::string& der) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  const bool ok = ctx && EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, Pkey(key)) == 1 &&
                  EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(der.data()), der.size(),
                                   reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
  EVP_MD_CTX_free(ctx);
  ERR_clear_error();
  return ok;
}

#else

// The Windows build of the tool has no crypto library linked in; offers are
// signed on the build machine.
Key::Key() = default;
Key::Key(Key&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
Key& Key::operator=(Key&& other) noexcept {
  state_ = std::exchange(other.state_, nullptr);
  return *this;
}
Key::~Key() = default;

bool LoadPrivateKey(const std::string& path, Key&, std::string& error) {
  return (error = path + ": keys are read by the Linux build of havrek-pack only"), false;
}
bool LoadPublicKey(const std::string& path, Key& key, std::string& error) { return LoadPrivateKey(path, key, error); }
std::string KeyId(const Key&) { return std::string(); }
std::string SignBytes(const Key&, const std::string&) { return std::string(); }
bool VerifyBytes(const Key&, const std::string&, const std::string&) { return false; }

#endif

}  // namespace havrek::pack
