#include "KeyFiles.h"

#include <iostream>
#include <memory>
#include <string>

#include "Commands.h"
#include "package/PackOutputs.h"
#include "platform/Platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/pem.h>
#endif

namespace havrek::pack {

#ifdef _WIN32

// PEM and key making come from OpenSSL, which only the Linux build links.
bool ReadPublicKeyFile(const std::string& path, P256Point&, std::string& error) {
  error = path + ": publisher keys are read by the Linux build of havrek-pack only";
  return false;
}

int Keygen(Args&) { return Failure("keygen needs the Linux build of havrek-pack"); }

#else

namespace {

// Public PEM files are a few hundred bytes: anything much larger is not one.
constexpr std::int64_t kMostKeyFileBytes = 64 * 1024;

struct PKeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyFree>;
using Bio = std::unique_ptr<BIO, BioFree>;

// The uncompressed point of an EC key on P-256; false with the reason.
bool P256PointOf(EVP_PKEY* key, P256Point& point, std::string& error) {
  if (EVP_PKEY_base_id(key) != EVP_PKEY_EC) {
    const char* name = EVP_PKEY_get0_type_name(key);
    error = std::string("a key of type ") + (name ? name : "unknown") + ", not ECDSA P-256";
    return false;
  }
  char group[64] = {};
  std::size_t n = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &n) != 1 ||
      (std::string(group) != SN_X9_62_prime256v1 && std::string(group) != "P-256")) {
    error = std::string("an EC key on ") + (group[0] ? group : "an unnamed curve") + ", not P-256 (prime256v1)";
    return false;
  }
  // A key written in compressed form answers in that form unless told.
  EVP_PKEY_set_utf8_string_param(key, OSSL_PKEY_PARAM_EC_POINT_CONVERSION_FORMAT,
                                 const_cast<char*>(OSSL_PKEY_EC_POINT_CONVERSION_FORMAT_UNCOMPRESSED));
  if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(), &n) != 1 ||
      n != point.size() || point[0] != 0x04) {
    error = "its public point cannot be read";
    return false;
  }
  return true;
}

// Creates path for this process alone, never over anything there (a link
// included), and writes bytes; false with the reason. A file it made and
// could not complete is removed.
bool WriteNewFile(const std::string& path, const std::string& bytes, mode_t mode, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) return (error = "cannot create " + path + ": " + std::strerror(errno)), false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !ok) {
    ::unlink(path.c_str());
    error = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
    return false;
  }
  return true;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

bool ReadPublicKeyFile(const std::string& path, P256Point& point, std::string& error) {
  std::string text;
  if (!CheckInputFile(path, error)) return (error = "cannot read " + path + ": " + error), false;
  {
    const plat::File in(path, plat::OpenMode::Read);
    if (in && in.size() > kMostKeyFileBytes)
      return (error = path + ": no public key file (" + std::to_string(in.size()) + " bytes)"), false;
  }
  if (!ReadWholeFile(path, text, error)) return false;
  const Bio bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  const PKey key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  if (!key) {
    error = path + (text.find("PRIVATE KEY-----") != std::string::npos
                        ? ": holds a private key; give the public key (NAME.pub, or `openssl pkey -pubout`)"
                        : ": no public key in PEM form (\"-----BEGIN PUBLIC KEY-----\"), or a damaged one");
    return false;
  }
  if (!P256PointOf(key.get(), point, error)) return (error = path + ": " + error), false;
  return true;
}

int Keygen(Args& args) {
  std::string name, stem;
  while (args.Next(name)) {
    if (name == "--out") stem = args.PathValue(name);
    else throw UsageError{"unknown keygen option \"" + name + "\""};
  }
  if (stem.empty()) throw UsageError{"keygen needs --out NAME"};
  const std::string keyPath = stem + ".key", pubPath = stem + ".pub";
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::path(stem).parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
    return Failure("cannot write " + keyPath + ": no such folder: " + folder.string());
  // A key is never replaced: the old one may be the only copy of what signs
  // the updates of programs already installed.
  for (const std::string& path : {keyPath, pubPath})
    if (std::filesystem::symlink_status(path, ec).type() != std::filesystem::file_type::not_found)
      return Failure(path + " exists: a key file is never overwritten; choose another --out NAME");

  const PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  P256Point point{};
  std::string error;
  if (!key || !P256PointOf(key.get(), point, error)) return Failure("cannot make a P-256 key: " + error);
  const Bio priv(BIO_new(BIO_s_mem())), pub(BIO_new(BIO_s_mem()));
  if (!priv || !pub || PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1)
    return Failure("cannot write the key in PEM form");
  const std::string id = KeyId(point);
  if (id.empty()) return Failure("cannot compute the key id: no SHA-256");

  if (!WriteNewFile(keyPath, BioText(priv.get()), 0600, error)) return Failure(error);
  if (!WriteNewFile(pubPath, BioText(pub.get()), 0644, error)) {
    ::unlink(keyPath.c_str());
    return Failure(error);
  }
  std::cout << "wrote " << keyPath << " (private: keep it secret) and " << pubPath << "\nkey_id=" << id << "\n";
  return 0;
}

#endif

}  // namespace havrek::pack
