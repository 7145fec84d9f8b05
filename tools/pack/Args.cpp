#include "Args.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <utility>

namespace havrek::pack {

namespace fs = std::filesystem;

namespace {

// Deeper than any build needs; a guard against chains the loop check
// cannot see (the same file under ever new names).
constexpr int kMaxNesting = 32;
// Files that name each other several times multiply: seven small files can
// ask for ten million arguments. No build needs near these.
constexpr std::size_t kMaxArguments = 1000000;
constexpr std::size_t kMaxBytesRead = std::size_t{64} << 20;

struct ReadFile {
  std::string key;  // its canonical path, for the loop check
  std::string text;
};

struct Expansion {
  std::vector<std::string> open;  // the files being read, outermost first
  std::size_t bytesRead = 0;
  // Each file is read once, however often it is named.
  std::map<std::string, ReadFile> files;
};

void Expand(const std::vector<Arg>& args, Expansion& x, std::vector<Arg>& out) {
  std::vector<std::string>& open = x.open;
  for (const Arg& a : args) {
    if (a.text.size() < 2 || a.text[0] != '@') {
      if (out.size() >= kMaxArguments)
        throw ToolFailure{"argument files give more than " + std::to_string(kMaxArguments) + " arguments" +
                          (a.origin.empty() ? std::string() : " (" + a.origin + ")")};
      out.push_back(a);
      continue;
    }
    const std::string file = Resolve(a.base, a.text.substr(1));
    const std::string from = a.origin.empty() ? std::string() : " (" + a.origin + ")";
    const std::string tooMuch =
        "argument files read more than " + std::to_string(kMaxBytesRead >> 20) + " MB, at " + file + from;
    auto known = x.files.find(file);
    if (known == x.files.end()) {
      std::error_code ec;
      const fs::file_status st = fs::status(file, ec);
      if (!fs::exists(st)) throw ToolFailure{"cannot read argument file " + file + from + ": no such file"};
      if (!fs::is_regular_file(st))
        throw ToolFailure{"cannot read argument file " + file + from + ": not a regular file"};
      // Checked before reading too, so that one huge file is not read whole first.
      if (const std::uintmax_t size = fs::file_size(file, ec); !ec && size > kMaxBytesRead - x.bytesRead)
        throw ToolFailure{tooMuch};
      std::ifstream in(file, std::ios::binary);
      if (!in) throw ToolFailure{"cannot read argument file " + file + from};
      std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      if (in.bad()) throw ToolFailure{"cannot read argument file " + file + from};
      known = x.files.emplace(file, ReadFile{fs::weakly_canonical(file, ec).string(), std::move(text)}).first;
    }
    const std::string& key = known->second.key;
    const std::string& text = known->second.text;
    for (const std::string& o : open)
      if (o == key) throw ToolFailure{"argument file " + file + from + " reads itself again"};
    if (static_cast<int>(open.size()) >= kMaxNesting)
      throw ToolFailure{"argument file " + file + from + ": nested more than " + std::to_string(kMaxNesting) +
                        " deep"};
    // Counted as often as a file is named: what is expanded, not what the
    // disk gave.
    if (text.size() > kMaxBytesRead - x.bytesRead) throw ToolFailure{tooMuch};
    x.bytesRead += text.size();

    const std::string base = fs::path(file).parent_path().string();
    std::vector<Arg> lines;
    std::size_t pos = 0;
    for (int lineNo = 1; pos < text.size(); ++lineNo) {
      std::size_t eol = text.find('\n', pos);
      if (eol == std::string::npos) eol = text.size();
      std::string line = text.substr(pos, eol - pos);
      pos = eol + 1;
      const std::size_t first = line.find_first_not_of(" \t\r");
      if (first == std::string::npos || line[first] == '#') continue;
      line.erase(line.find_last_not_of(" \t\r") + 1);
      line.erase(0, first);
      lines.push_back({line, base, file + " line " + std::to_string(lineNo)});
    }
    open.push_back(key);
    Expand(lines, x, out);
    open.pop_back();
  }
}

}  // namespace

int Usage(const std::string& message) {
  std::cerr << "havrek-pack: " << message << "\nTry 'havrek-pack --help'.\n";
  return 2;
}

int Failure(const std::string& message) {
  std::cerr << "havrek-pack: " << message << "\n";
  return 1;
}

std::vector<Arg> ExpandArgFiles(const std::vector<Arg>& args) {
  Expansion x;
  std::vector<Arg> out;
  Expand(args, x, out);
  return out;
}

std::string Resolve(const std::string& base, const std::string& path) {
  if (base.empty() || path.empty() || fs::path(path).is_absolute()) return path;
  return (fs::path(base) / path).string();
}

bool Args::Next(std::string& name) {
  if (i_ >= args_.size()) return false;
  const Arg& a = args_[i_++];
  name = a.text;
  base_ = a.base;
  origin_ = a.origin;
  pending_.reset();
  if (name.starts_with("--")) {
    const auto eq = name.find('=');
    if (eq != std::string::npos) {
      pending_ = name.substr(eq + 1);
      name.resize(eq);
    }
  }
  return true;
}

std::string Args::Value(const std::string& name) {
  if (pending_) return *std::exchange(pending_, std::nullopt);
  if (i_ >= args_.size()) throw UsageError{name + " needs a value"};
  const Arg& a = args_[i_++];
  base_ = a.base;
  origin_ = a.origin;
  return a.text;
}

void Args::NoValue(const std::string& name) const {
  if (pending_) throw UsageError{name + " takes no value"};
}

std::string Args::Where() const { return origin_.empty() ? std::string() : " (" + origin_ + ")"; }

}  // namespace havrek::pack
