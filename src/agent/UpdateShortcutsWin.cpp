#include <windows.h>

#include "agent/UpdateShortcuts.h"
#include "environment/ShellDirWin.h"

namespace havrek {

const ShortcutActions& SystemShortcutActions() {
  static const ShortcutActions actions{
      [] {
        return std::vector<std::string>{UserStartMenuDir(false), AllUsersStartMenuDir(false),
                                        SpecialFolder(kFolderStartup), SpecialFolder(kFolderCommonStartup)};
      },
      [](const std::string& path) {
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
      },
      [](const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; },
  };
  return actions;
}

}  // namespace havrek
