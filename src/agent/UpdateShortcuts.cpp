#include "agent/UpdateShortcuts.h"

#include <cstddef>

#include "agent/Settings.h"
#include "diag/HDebug.h"
#include "util/Utils.h"

namespace havrek {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct SplitPath {
  std::string root;  // "C:" or "\\server\share"
  std::vector<std::string> parts;
};

// The next part of path from at (separators before it skipped); at moves
// past it.
std::string NextPart(const std::string& path, std::size_t& at) {
  while (at < path.size() && IsSeparator(path[at])) ++at;
  const std::size_t from = at;
  while (at < path.size() && !IsSeparator(path[at])) ++at;
  return path.substr(from, at - from);
}

bool Split(const std::string& path, SplitPath& out) {
  std::size_t at = 0;
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) {
    out.root = UpperCase(path.substr(0, 1)) + ":";
    at = 3;
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    at = 2;
    const std::string server = NextPart(path, at);
    const std::string share = NextPart(path, at);
    // "\\?\" and "\\.\" reach past the names this check compares.
    if (server.empty() || share.empty() || server == "?" || server == "." || server.find(':') != std::string::npos ||
        share == "." || share == "..")
      return false;
    out.root = "\\\\" + server + "\\" + share;
  } else {
    return false;
  }
  while (at < path.size()) {
    const std::string part = NextPart(path, at);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (out.parts.empty()) return false;
      out.parts.pop_back();
      continue;
    }
    // Windows drops trailing dots and blanks and reads ":" as a stream: the
    // name compared would not be the file deleted.
    if (part.find(':') != std::string::npos || part.back() == '.' || part.back() == ' ') return false;
    out.parts.push_back(part);
  }
  return true;
}

std::string Joined(const SplitPath& p) {
  std::string text = p.root;
  for (const std::string& part : p.parts) text += "\\" + part;
  return p.parts.empty() ? text + "\\" : text;
}

bool Below(const SplitPath& link, const SplitPath& folder) {
  if (link.parts.size() <= folder.parts.size() || !SameText(link.root, folder.root)) return false;
  for (std::size_t i = 0; i < folder.parts.size(); ++i)
    if (!SameText(link.parts[i], folder.parts[i])) return false;
  return true;
}

void RemoveOne(const char* key, const std::string& link, const ShortcutActions& actions) {
  if (link.empty() || !actions.isFile || !actions.isFile(link)) return;
  const std::vector<std::string> folders = actions.menuFolders ? actions.menuFolders() : std::vector<std::string>();
  if (!IsRemovableShortcut(link, folders)) {
    LogLine(std::string(key) + " not removed (no .lnk in a Start Menu or Startup folder): " + link);
    return;
  }
  const bool deleted = actions.deleteFile && actions.deleteFile(ResolvedShortcutPath(link));
  LogLine(std::string(key) + (deleted ? " removed: " : " could not be removed: ") + link);
}

}  // namespace

std::string ResolvedShortcutPath(const std::string& path) {
  SplitPath p;
  return Split(path, p) ? Joined(p) : std::string();
}

bool IsRemovableShortcut(const std::string& link, const std::vector<std::string>& folders) {
  SplitPath target;
  if (!Split(link, target) || target.parts.empty()) return false;
  const std::string& name = target.parts.back();
  if (name.size() <= 4 || !EndsWith(".lnk", name, true)) return false;
  for (const std::string& folder : folders) {
    SplitPath menu;
    if (!folder.empty() && Split(folder, menu) && Below(target, menu)) return true;
  }
  return false;
}

UpdateShortcuts ReadUpdateShortcuts() { return {GetStartUpLink(), GetCheckforNewUpdateLink()}; }

void RemoveUpdateShortcuts(const UpdateShortcuts& links, const ShortcutActions& actions) {
  if (GetRemoveStartUpShortcut()) RemoveOne("StartUpLink", links.startUp, actions);
  if (GetRemoveCheckForNewUpdateShortcut()) RemoveOne("CheckforNewUpdateLink", links.checkForUpdate, actions);
}

}  // namespace havrek
