// The shortcuts a successful update removes: [UnInstall] StartUpLink and
// CheckforNewUpdateLink of the .original file, each when the .info file asks
// (RemoveStartUpShortcut, RemoveCheckForNewUpdateShortcut). Both files are
// only settings text, and the .info file comes from the web: a path there may
// name any file. So only a ".lnk" file that lies, once "." and ".." are
// resolved, below one of the Start Menu or Startup folders is ever deleted.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace havrek {

// path with "/" read as "\", "." and empty parts dropped and ".." resolved.
// Empty when path is not absolute (a drive "X:\..." or a share
// "\\server\share\..."), names a device path ("\\?\", "\\.\"), climbs above
// its root, or holds a part Windows would read otherwise than it is written
// (a ":" of a stream, trailing dots or blanks).
std::string ResolvedShortcutPath(const std::string& path);

// link names a ".lnk" file below one of folders (compared part by part,
// ignoring case, after both are resolved). Folders that are empty or not
// absolute count for nothing.
bool IsRemovableShortcut(const std::string& link, const std::vector<std::string>& folders);

// Read before the setup engine runs: it may rewrite the .original file.
struct UpdateShortcuts {
  std::string startUp;         // StartUpLink
  std::string checkForUpdate;  // CheckforNewUpdateLink
};
UpdateShortcuts ReadUpdateShortcuts();

// What the removal asks of the system.
struct ShortcutActions {
  // The user's and the common Start Menu and Startup folders.
  std::function<std::vector<std::string>()> menuFolders;
  // A file (not a folder) is there.
  std::function<bool(const std::string& path)> isFile;
  std::function<bool(const std::string& path)> deleteFile;
};

// After a successful installation: each shortcut the .info file asks to
// remove that exists, is deleted when IsRemovableShortcut holds and is left
// (with a log line saying why) when it does not.
void RemoveUpdateShortcuts(const UpdateShortcuts& links, const ShortcutActions& actions);

#ifdef _WIN32
const ShortcutActions& SystemShortcutActions();
#endif

}  // namespace havrek
