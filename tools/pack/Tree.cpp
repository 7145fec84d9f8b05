#include "Tree.h"

#include <algorithm>
#include <filesystem>

#include "package/EntryName.h"

namespace havrek::pack {

namespace fs = std::filesystem;

namespace {

// One "[...]" at p (just past the "["): whether c is in the set; end is set
// past the "]". A "[" without its "]" stands for itself.
bool MatchSet(const std::string& p, std::size_t at, char c, std::size_t& end, bool& valid) {
  std::size_t i = at;
  const bool negate = i < p.size() && (p[i] == '!' || p[i] == '^');
  if (negate) ++i;
  bool found = false;
  const std::size_t first = i;
  for (; i < p.size() && (p[i] != ']' || i == first); ++i) {
    if (i + 2 < p.size() && p[i + 1] == '-' && p[i + 2] != ']') {
      const auto lo = static_cast<unsigned char>(p[i]), hi = static_cast<unsigned char>(p[i + 2]);
      const auto u = static_cast<unsigned char>(c);
      if (lo <= u && u <= hi) found = true;
      i += 2;
    } else if (p[i] == c) {
      found = true;
    }
  }
  valid = i < p.size();
  end = i + 1;
  return c != '/' && found != negate;
}

bool Match(const std::string& p, std::size_t pi, const std::string& s, std::size_t si) {
  while (pi < p.size()) {
    const char c = p[pi];
    if (c == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      // Tries every split within the current path part.
      for (std::size_t k = si;; ++k) {
        if (Match(p, pi, s, k)) return true;
        if (k >= s.size() || s[k] == '/') return false;
      }
    }
    if (si >= s.size()) return false;
    if (c == '?') {
      if (s[si] == '/') return false;
    } else if (c == '[') {
      std::size_t end = 0;
      bool valid = false;
      const bool in = MatchSet(p, pi + 1, s[si], end, valid);
      if (valid) {
        if (!in) return false;
        pi = end;
        ++si;
        continue;
      }
      if (s[si] != '[') return false;
    } else if (c != s[si]) {
      return false;
    }
    ++pi;
    ++si;
  }
  return si == s.size();
}

const char* KindOf(fs::file_type type) {
  switch (type) {
    case fs::file_type::symlink: return "a symbolic link (links are not followed)";
    case fs::file_type::fifo: return "a FIFO, not a regular file";
    case fs::file_type::character:
    case fs::file_type::block: return "a device, not a regular file";
    case fs::file_type::socket: return "a socket, not a regular file";
    default: return "not a regular file";
  }
}

struct Walk {
  const std::vector<std::string>& excludes;
  std::vector<std::pair<std::string, std::string>> found;  // path below the root, source path
  std::vector<std::string>& warnings;
  std::string error;

  bool Excluded(const std::string& relative, const std::string& name) const {
    for (const std::string& p : excludes)
      if (GlobMatch(p, relative) || GlobMatch(p, name)) return true;
    return false;
  }

  // Files found below folder; false after an error.
  bool Folder(const fs::path& folder, const std::string& relative) {
    std::error_code ec;
    std::vector<fs::path> children;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      children.push_back(it->path());
    if (ec) return (error = folder.string() + ": cannot read the folder: " + ec.message()), false;
    const std::size_t before = found.size();
    const std::size_t warned = warnings.size();
    for (const fs::path& child : children) {
      const std::string name = child.filename().string();
      const std::string below = relative.empty() ? name : relative + "/" + name;
      if (Excluded(below, name)) continue;
      const fs::file_status st = fs::symlink_status(child, ec);
      if (ec) return (error = child.string() + ": " + ec.message()), false;
      if (fs::is_directory(st)) {
        if (!Folder(child, below)) return false;
      } else if (fs::is_regular_file(st)) {
        found.emplace_back(below, child.string());
      } else {
        return (error = child.string() + ": " + KindOf(st.type())), false;
      }
    }
    if (found.size() == before) {
      // Only the outermost folder that gives nothing is worth a line.
      warnings.resize(warned);
      warnings.push_back("folder " + folder.string() + " holds no file to pack; a setup has no empty folders");
    }
    return true;
  }
};

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) { return Match(pattern, 0, text, 0); }

bool CollectTree(const FolderSource& folder, const std::vector<std::string>& excludes, std::vector<PackFile>& files,
                 std::vector<std::string>& warnings, std::string& error) {
  std::error_code ec;
  const fs::file_status st = fs::status(folder.source, ec);
  if (!fs::exists(st)) return (error = folder.source + ": no such folder"), false;
  if (!fs::is_directory(st)) return (error = folder.source + ": not a folder"), false;

  std::string target = folder.target;
  std::replace(target.begin(), target.end(), '/', '\\');
  target.erase(0, target.find_first_not_of('\\') == std::string::npos ? target.size()
                                                                       : target.find_first_not_of('\\'));
  while (!target.empty() && target.back() == '\\') target.pop_back();

  Walk walk{excludes, {}, warnings, {}};
  if (!walk.Folder(folder.source, "")) return (error = walk.error), false;
  std::sort(walk.found.begin(), walk.found.end());
  for (const auto& [below, source] : walk.found) {
    PackFile f;
    f.source = source;
    f.target = (target.empty() ? std::string() : target + "\\") + below;
    std::replace(f.target.begin(), f.target.end(), '/', '\\');
    std::string normalized, why;
    if (!NormalizeTargetName(f.target, normalized, why))
      return (error = source + ": the setup cannot hold it as \"" + f.target + "\": " + why), false;
    files.push_back(std::move(f));
  }
  return true;
}

}  // namespace havrek::pack
