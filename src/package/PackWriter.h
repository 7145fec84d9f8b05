// Writing packages (used by havrek-pack): the stub image, the header blocks,
// the entries, the integrity records, the package header and its checksum,
// multi-disk sets. The texts come from PackBlocks, the entries are stored by
// PackPipeline, the files are staged by PackOutputs. Everything written here
// reads back through PackX.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/EntryName.h"
#include "package/PackBlocks.h"
#include "package/PackX.h"

namespace havrek {

struct PackFile {
  std::string source;  // path on this machine
  std::string target;  // name under the target folder
  bool run = false;
  std::string runArgs;
};

inline constexpr std::int64_t DefaultSplitSize = 32LL << 20;
// Keeps every entry's length within a signed 32-bit field with room to spare.
inline constexpr std::int64_t MaxSplitSize = 1LL << 30;

// Where a build stands, after each entry written.
struct PackProgress {
  std::int64_t files = 0, totalFiles = 0;  // files written completely
  std::int64_t bytesIn = 0, totalIn = 0;   // bytes of the files
  std::int64_t bytesOut = 0;               // bytes of the entries written
};

inline constexpr int MaxJobs = 256;

struct PackOptions {
  std::string stubPath;
  std::string outPath;
  std::string languageBlock;  // ready block, may be empty
  UpdateRecordFields update;
  bool withInternetRecord = false;
  InternetRecordFields internet;
  std::uint8_t headerFlags = 0;  // hfMoreDisks is set by the writer
  bool internetSetup = false;
  bool confirmDownload = false;
  bool hasAgent = false;
  bool autoUpdate = false;
  int level = 9;                 // 0 stores every entry raw
  std::int64_t splitSize = DefaultSplitSize;
  // 0: one file. Otherwise outPath holds the stub and header blocks only,
  // and the package goes to outPath.001, .002, ... of at most diskSize bytes.
  std::int64_t diskSize = 0;
  bool writeBuildLength = true;
  std::int64_t extraSpace = 0;   // added to every space table entry
  std::uint32_t fixedDate = 0;   // 0: each source's own last-write date
  // Threads that compress entries; 0: one per processor core. The package
  // is the same for every number. Memory: about 4 x jobs x splitSize.
  int jobs = 0;
  // Called on the building thread.
  std::function<void(const PackProgress&)> progress;
  std::vector<PackFile> files;
  // Files read for the build that are not entries (language file, ...):
  // like the stub and the sources, no output may replace one.
  std::vector<std::string> otherInputs;
};

struct PackResult {
  bool ok = false;
  std::string error;
  std::vector<std::string> written;  // in place; empty on failure, which leaves no file behind
  std::int64_t entries = 0;
  // Disk files of an earlier build with more disks, removed once the new
  // set was in place, and files with such names left alone (with the reason).
  std::vector<std::string> removed;
  std::vector<std::string> warnings;
};

PackResult WritePackage(const PackOptions& options);

// The space table for files of the given sizes plus extra bytes.
void ComputeSpaceTable(const std::vector<std::int64_t>& sizes, std::int64_t extra,
                       std::uint32_t (&space)[SpaceTableSize]);

}  // namespace havrek
