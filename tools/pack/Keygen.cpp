#include "Keys.h"

#include <iostream>
#include <memory>
#include <string>

#include "Commands.h"
#include "platform/Platform.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#endif

namespace havrek::pack {

#ifdef _WIN32

int Keygen(Args&) { return Failure("keygen needs the Linux build of havrek-pack"); }

#else

namespace {

struct BioFree {
  void operator()(BIO* p) const { BIO_free(p); }
};
using Bio = std::unique_ptr<BIO, BioFree>;

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

  Key key;
  key.state_ = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
  EVP_PKEY* const pkey = static_cast<EVP_PKEY*>(key.state_);
  const std::string id = key ? KeyId(key) : std::string();
  if (id.empty()) return Failure("cannot make a P-256 key");
  const Bio priv(BIO_new(BIO_s_mem())), pub(BIO_new(BIO_s_mem()));
  if (!priv || !pub || PEM_write_bio_PrivateKey(priv.get(), pkey, nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_PUBKEY(pub.get(), pkey) != 1)
    return Failure("cannot write the key in PEM form");
  std::string error;

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
