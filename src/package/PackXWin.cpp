#include <windows.h>

#include "package/PackX.h"

namespace havrek {

std::uint32_t ClusterSize(const std::string& path) {
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  const std::string root = path.substr(0, 3);
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
    return 0;
  return sectorsPerCluster * bytesPerSector;
}

double TGFileInfo::SpaceNeeded(const std::string& path) const { return SpaceNeededFor(ClusterSize(path)); }

}  // namespace havrek
