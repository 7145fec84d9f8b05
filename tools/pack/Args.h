// The command line of havrek-pack: "--name value" and "--name=value"
// options, plain arguments, and argument files ("@FILE").
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace havrek::pack {

// Bad usage: exit code 2.
struct UsageError {
  std::string message;
};

// A failure with its file and reason: exit code 1.
struct ToolFailure {
  std::string message;
};

int Usage(const std::string& message);
int Failure(const std::string& message);

// One argument and where it came from.
struct Arg {
  std::string text;
  std::string base;    // folder that relative paths in it start from; empty: the current one
  std::string origin;  // "FILE line N" for an argument from an argument file
};

// The arguments with every "@FILE" replaced by the lines of FILE: one
// argument a line, blanks and tabs around it dropped, a CR that ends it too;
// empty lines and lines starting with "#" skipped. A relative FILE is
// found from the folder of the argument that names it. Raises ToolFailure
// for a file that cannot be read and for a file that names itself again
// (directly or through others).
std::vector<Arg> ExpandArgFiles(const std::vector<Arg>& args);

// path as seen from base (unchanged when absolute or base is empty).
std::string Resolve(const std::string& base, const std::string& path);

class Args {
 public:
  explicit Args(std::vector<Arg> args) : args_(std::move(args)) {}
  // The next argument; for "--name=value" name is "--name" and the value is
  // kept for Value().
  bool Next(std::string& name);
  std::string Value(const std::string& name);
  // Value() read as a path: relative to the argument file it came from.
  std::string PathValue(const std::string& name) { return Resolve(base_, Value(name)); }
  // A path read from the argument last taken (a plain argument or a value).
  std::string PathOf(const std::string& text) const { return Resolve(base_, text); }
  void NoValue(const std::string& name) const;
  // " (FILE line N)" for an argument from an argument file, else empty.
  std::string Where() const;

 private:
  std::vector<Arg> args_;
  std::size_t i_ = 0;
  std::optional<std::string> pending_;
  std::string base_;
  std::string origin_;
};

}  // namespace havrek::pack
