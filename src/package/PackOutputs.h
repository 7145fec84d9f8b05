// The files a build reads and writes (used by havrek-pack): checks on its
// inputs, and its outputs staged beside their paths until all are complete.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace havrek {

// False, with the reason (without the path), unless path names a regular
// file (links followed): reading a FIFO or a device would block or never end.
bool CheckInputFile(const std::string& path, std::string& error);

// "MZ" at 0, "PE\0\0" at 256 and a zero build length at 248..255.
bool CheckStubImage(const std::string& bytes, std::string& error);
// The stub image at path, whole and checked; false, with the reason and the
// path, when there is none.
bool ReadStubImage(const std::string& path, std::string& bytes, std::string& error);

// The files of one build. Each is written under a temporary name in the
// folder of its final path and renamed into place with the others once all
// are complete, so a failed build leaves every path as it found it. A path
// that exists and is no regular file, or that is one of the build's inputs
// (the same file, whatever its name), is refused before anything is written
// for it. A path that is a link is replaced at the file the link points to.
class OutputSet {
 public:
  explicit OutputSet(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;
  ~OutputSet();  // removes the temporary files not renamed into place

  // The new, empty temporary file to write instead of path; empty, with
  // error, when path is refused or the file cannot be made.
  std::string Stage(const std::string& path, std::string& error);
  // Renames every staged file onto its path, in the order staged.
  bool Commit(std::string& error);
  // The final paths, in the order staged.
  std::vector<std::string> Paths() const;
  // True when path is one of the inputs.
  bool IsInput(const std::string& path) const;

 private:
  struct Item {
    std::string path;    // as given
    std::string target;  // path, or the file a link there points to
    std::string temp;
    bool placed = false;
  };
  std::vector<std::string> inputs_;
  std::vector<Item> items_;
};

// Removes OUT.00N past the count disk files just put in place, while such
// files exist: left from an earlier build with more disks, they would pass
// for part of this one. Only disk files of a build are removed (into
// removed); anything else with such a name is left, with the reason in
// warnings.
void RemoveStaleDisks(const std::string& out, std::int64_t count, const OutputSet& outputs,
                      std::vector<std::string>& removed, std::vector<std::string>& warnings);

}  // namespace havrek
