#include "package/PackOutputs.h"

#include <filesystem>
#include <random>
#include <system_error>

#include "package/PackX.h"
#include "util/Utils.h"

namespace havrek {

namespace {

namespace fs = std::filesystem;

const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character:
    case fs::file_type::block: return "a device";
    case fs::file_type::socket: return "a socket";
    default: return "no regular file";
  }
}

// A disk file of an earlier build with more disks than this one: it ends in
// a package header.
bool IsDiskFile(const std::string& path) {
  TPackageHeader h{};
  return ReadPackageHeader(path, h) && h.magic == PackageMagic;
}

}  // namespace

bool CheckInputFile(const std::string& path, std::string& error) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (!fs::exists(st)) return (error = "no such file"), false;
  if (!fs::is_regular_file(st))
    return (error = std::string("it is ") + KindOf(st.type()) + ", not a regular file"), false;
  return true;
}

bool CheckStubImage(const std::string& bytes, std::string& error) {
  if (bytes.size() < 512) return (error = "not a stub image: shorter than 512 bytes"), false;
  if (bytes.compare(0, 2, "MZ") != 0) return (error = "not a stub image: no \"MZ\" at offset 0"), false;
  if (bytes.compare(StubPeOffset, 4, std::string("PE\0\0", 4)) != 0)
    return (error = "not a stub image: no PE header at offset 256"), false;
  if (bytes.compare(BuildLengthOffset, 8, std::string(8, '\0')) != 0)
    return (error = "not a stub image: bytes 248..255 are not zero (a package already?)"), false;
  return true;
}

bool ReadStubImage(const std::string& path, std::string& bytes, std::string& error) {
  if (path.empty()) return (error = "no stub image given"), false;
  if (!CheckInputFile(path, error)) return (error = "cannot open the stub image " + path + ": " + error), false;
  plat::File stub(path, plat::OpenMode::Read);
  if (!stub) return (error = "cannot open the stub image " + path), false;
  const std::int64_t size = stub.size();
  if (size < 0 || size > 0x7FFFFFFF) return (error = "cannot read the stub image " + path), false;
  bytes.assign(static_cast<std::size_t>(size), '\0');
  if (!stub.readAt(0, bytes.data(), size)) return (error = "cannot read the stub image " + path), false;
  if (!CheckStubImage(bytes, error)) return (error = path + ": " + error), false;
  return true;
}

OutputSet::~OutputSet() {
  for (const Item& item : items_)
    if (!item.placed) {
      std::error_code ec;
      fs::remove(item.temp, ec);
    }
}

bool OutputSet::IsInput(const std::string& path) const {
  for (const std::string& input : inputs_) {
    std::error_code ec;
    if (fs::equivalent(path, input, ec)) return true;
  }
  return false;
}

std::string OutputSet::Stage(const std::string& path, std::string& error) {
  std::error_code ec;
  Item item;
  item.path = item.target = path;
  const fs::file_status link = fs::symlink_status(path, ec);
  if (fs::is_symlink(link)) {
    item.target = fs::canonical(path, ec).string();
    if (ec) return (error = "refusing to write " + path + ": a link to no file"), std::string();
  }
  const fs::file_status st = fs::status(item.target, ec);
  if (fs::exists(st) && !fs::is_regular_file(st))
    return (error = "refusing to write " + path + ": it is " + KindOf(st.type()) + ", not a regular file"),
           std::string();
  for (const std::string& input : inputs_)
    if (fs::equivalent(item.target, input, ec))
      return (error = "refusing to write " + path + ": it is an input of the build (" + input + ")"), std::string();
  const fs::path canonical = fs::weakly_canonical(item.target, ec);
  for (const Item& other : items_)
    if (fs::weakly_canonical(other.target, ec) == canonical)
      return (error = "refusing to write " + path + ": it is also " + other.path), std::string();

  // Beside the final path, so that the rename stays within one file system.
  const fs::path target(item.target);
  static std::mt19937_64 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 100 && item.temp.empty(); ++attempt) {
    const fs::path temp = target.parent_path() / ("." + target.filename().string() + ".havrek-pack-" +
                                                  std::to_string(plat::ProcessId()) + "-" +
                                                  std::to_string(rng() % 1000000000) + ".tmp");
    if (fs::exists(fs::symlink_status(temp, ec))) continue;
    if (!plat::File(temp.string(), plat::OpenMode::Create)) break;
    item.temp = temp.string();
  }
  if (item.temp.empty()) return (error = "cannot create a file beside " + path), std::string();
  // A rebuilt setup keeps the permissions the old one was given.
  if (fs::exists(st)) fs::permissions(item.temp, st.permissions(), ec);
  items_.push_back(item);
  return item.temp;
}

bool OutputSet::Commit(std::string& error) {
  for (Item& item : items_) {
    std::error_code ec;
    fs::rename(item.temp, item.target, ec);
    if (ec) return (error = "cannot put " + item.path + " in place: " + ec.message()), false;
    item.placed = true;
  }
  return true;
}

std::vector<std::string> OutputSet::Paths() const {
  std::vector<std::string> paths;
  for (const Item& item : items_) paths.push_back(item.path);
  return paths;
}

void RemoveStaleDisks(const std::string& out, std::int64_t count, const OutputSet& outputs,
                      std::vector<std::string>& removed, std::vector<std::string>& warnings) {
  for (std::int64_t n = count + 1;; ++n) {
    const std::string path = out + "." + ZeroPad(n, 3);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st)) return;
    if (!fs::is_regular_file(st) || outputs.IsInput(path) || !IsDiskFile(path)) {
      warnings.push_back("left " + path + ": not a disk file of an earlier build");
      continue;
    }
    if (fs::remove(path, ec)) removed.push_back(path);
    else warnings.push_back("cannot remove " + path + " left from an earlier build: " + ec.message());
  }
}

}  // namespace havrek
