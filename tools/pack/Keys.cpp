#include "Keys.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "Commands.h"
#include "agent/SignedOffer.h"

#ifndef _WIN32
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#endif

namespace havrek::pack {

namespace {

constexpr std::uintmax_t kMaxKeyFile = 64 * 1024;

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

// The text of the PEM file at path when it holds the half of a key pair that
// is asked for; false with the path and what it holds instead.
bool ReadPemKeyText(const std::string& path, bool isPrivate, std::string& text, std::string& error) {
  std::error_code ec;
  // A key file is a few hundred bytes; a package given by mistake is not read whole.
  if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) > kMaxKeyFile)
    return (error = path + ": no PEM key (larger than " + std::to_string(kMaxKeyFile) + " bytes)"), false;
  if (!ReadWholeFile(path, text, error)) return false;
  const std::vector<std::string> labels = PemLabels(text);
  auto isPrivateLabel = [](const std::string& l) { return l.find("PRIVATE KEY") != std::string::npos; };
  auto isPublicLabel = [](const std::string& l) { return l.find("PUBLIC KEY") != std::string::npos; };
  auto isEncrypted = [](const std::string& l) { return l == "ENCRYPTED PRIVATE KEY"; };
  if (labels.empty()) return (error = path + ": no PEM key (no \"-----BEGIN\" line)"), false;
  if (isPrivate && Has(labels, isEncrypted))
    return (error = path + ": an encrypted private key; havrek-pack reads unencrypted PKCS#8 keys"), false;
  if (isPrivate && !Has(labels, isPrivateLabel))
    return (error = path + ": " + (Has(labels, isPublicLabel) ? std::string("a public key") : "a PEM " + labels[0]) +
                    ", not a private key (--key takes NAME.key)"),
           false;
  if (!isPrivate && Has(labels, isPrivateLabel))
    return (error = path + ": holds a private key; give the public key (NAME.pub, or `openssl pkey -pubout`), " +
                    "which is safe to share"),
           false;
  if (!isPrivate && !Has(labels, isPublicLabel))
    return (error = path + ": a PEM " + labels[0] + ", not a public key (NAME.pub)"), false;
  return true;
}

std::string DamagedText(const std::string& path, bool isPrivate) {
  return path + ": not a readable PEM " + (isPrivate ? "private" : "public") + " key (damaged?)";
}

}  // namespace

#ifndef _WIN32

namespace {

EVP_PKEY* Pkey(const Key& key) { return static_cast<EVP_PKEY*>(key.state_); }

// The library would ask on the terminal for the pass phrase of an encrypted
// key; a build tool must not wait for an answer nobody gives.
int NoPassphrase(char*, int, int, void*) { return -1; }

// The uncompressed point of an ECDSA P-256 key, the only kind the agent
// checks; false with the reason.
bool P256PointOf(EVP_PKEY* key, P256Point& point, std::string& error) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) {
    const char* type = EVP_PKEY_get0_type_name(key);
    return (error = std::string("not an ECDSA P-256 key (a key of type ") + (type ? type : "unknown") + ")"), false;
  }
  char group[64] = {};
  std::size_t n = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &n) != 1 ||
      (std::string(group) != SN_X9_62_prime256v1 && std::string(group) != "P-256"))
    return (error = std::string("an ECDSA key on the curve ") + (group[0] ? group : "(unnamed)") +
                    ", not on P-256 (prime256v1)"),
           false;
  // A key written in compressed form answers in that form unless told.
  EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                 const_cast<char*>(OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED));
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(), &n) != 1 ||
      n != point.size() || point[0] != 0x04)
    return (error = "its public point cannot be read"), false;
  return true;
}

bool Load(const std::string& path, bool isPrivate, Key& key, std::string& error) {
  std::string text;
  if (!ReadPemKeyText(path, isPrivate, text, error)) return false;
  BIO* bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
  if (!bio) return (error = path + ": out of memory"), false;
  EVP_PKEY* pkey = isPrivate ? PEM_read_bio_PrivateKey(bio, nullptr, NoPassphrase, nullptr)
                             : PEM_read_bio_PUBKEY(bio, nullptr, NoPassphrase, nullptr);
  BIO_free(bio);
  ERR_clear_error();
  if (!pkey) return (error = DamagedText(path, isPrivate)), false;
  Key loaded;
  loaded.state_ = pkey;
  P256Point point{};
  if (!P256PointOf(pkey, point, error)) return (error = path + ": " + error), false;
  key = std::move(loaded);
  return true;
}

}  // namespace

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

bool PublicPoint(const Key& key, P256Point& point, std::string& error) {
  return P256PointOf(Pkey(key), point, error);
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

#else

// The Windows build links no crypto library: it reads public keys itself (a
// fixed DER frame around the point) and checks signatures with the system's
// crypto; making keys and signing stay with the Linux build.
namespace {

P256Point* Point(const Key& key) { return static_cast<P256Point*>(key.state_); }

// SubjectPublicKeyInfo of an uncompressed P-256 point: SEQUENCE { SEQUENCE {
// id-ecPublicKey, prime256v1 }, BIT STRING { 0, point } }.
constexpr unsigned char kP256SpkiFrame[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                            0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

bool SpkiPoint(const std::string& text, P256Point& point) {
  const std::string begin = "-----BEGIN PUBLIC KEY-----", end = "-----END PUBLIC KEY-----";
  const std::size_t from = text.find(begin), to = text.find(end);
  if (from == std::string::npos || to == std::string::npos || to < from) return false;
  std::string base64, der;
  for (std::size_t i = from + begin.size(); i < to; ++i)
    if (text[i] != '\r' && text[i] != '\n' && text[i] != ' ') base64 += text[i];
  if (!Base64Decode(base64, der) || der.size() != sizeof kP256SpkiFrame + point.size() ||
      std::memcmp(der.data(), kP256SpkiFrame, sizeof kP256SpkiFrame) != 0 ||
      static_cast<unsigned char>(der[sizeof kP256SpkiFrame]) != 0x04)
    return false;
  std::copy(der.begin() + sizeof kP256SpkiFrame, der.end(), point.begin());
  return true;
}

}  // namespace

Key::Key(Key&& other) noexcept : state_(std::exchange(other.state_, nullptr)) {}
Key& Key::operator=(Key&& other) noexcept {
  if (this != &other) {
    delete Point(*this);
    state_ = std::exchange(other.state_, nullptr);
  }
  return *this;
}
Key::~Key() { delete Point(*this); }

bool LoadPrivateKey(const std::string& path, Key&, std::string& error) {
  std::string text;
  if (!ReadPemKeyText(path, true, text, error)) return false;
  return (error = path + ": signing needs the Linux build of havrek-pack"), false;
}

bool LoadPublicKey(const std::string& path, Key& key, std::string& error) {
  std::string text;
  if (!ReadPemKeyText(path, false, text, error)) return false;
  P256Point point{};
  if (!SpkiPoint(text, point))
    return (error = DamagedText(path, false) + "; this build reads uncompressed ECDSA P-256 keys"), false;
  Key loaded;
  loaded.state_ = new P256Point(point);
  key = std::move(loaded);
  return true;
}

bool PublicPoint(const Key& key, P256Point& point, std::string& error) {
  if (!Point(key)) return (error = "no key"), false;
  point = *Point(key);
  return true;
}

std::string SignBytes(const Key&, const std::string&) { return std::string(); }

#endif

Key::Key() = default;

std::string KeyId(const Key& key) {
  P256Point point{};
  std::string error;
  return PublicPoint(key, point, error) ? havrek::KeyId(point) : std::string();
}

bool VerifyBytes(const Key& key, const std::string& bytes, const std::string& der) {
  P256Point point{};
  std::string error;
  return PublicPoint(key, point, error) && havrek::VerifySignature(point, bytes, der).empty();
}

bool ReadPublicKeyFile(const std::string& path, P256Point& point, std::string& error) {
  Key key;
  return LoadPublicKey(path, key, error) && PublicPoint(key, point, error);
}

}  // namespace havrek::pack
