// Whole folders for a build: the files under a folder in a stable order,
// with the names they get in the setup.
#pragma once

#include <string>
#include <vector>

#include "package/PackWriter.h"

namespace havrek::pack {

// A shell-style pattern: "*" any run of characters and "?" any one, neither
// crossing "/"; "[abc]", "[a-z]" one of a set, "[!a]" or "[^a]" one not in
// it; every other character stands for itself.
bool GlobMatch(const std::string& pattern, const std::string& text);

struct FolderSource {
  std::string source;  // folder on this machine
  std::string target;  // folder in the setup, "/" or "\" separated; empty: the top
};

// Appends every regular file under folder.source to files, in the byte order
// of the paths below it, named target + "\" + that path. A file or folder
// whose path below folder.source ("/" separated) or whose own name matches an
// exclude pattern is left out (a folder with all it holds). A folder that
// gives no file is named in warnings: the format has no folder entries.
// False, with error naming the path, for a link or a special file (neither
// is followed nor read), a folder that cannot be read, and a name the stub
// could not extract.
bool CollectTree(const FolderSource& folder, const std::vector<std::string>& excludes, std::vector<PackFile>& files,
                 std::vector<std::string>& warnings, std::string& error);

}  // namespace havrek::pack
