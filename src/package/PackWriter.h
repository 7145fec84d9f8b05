// Writing packages (used by havrek-pack): the stub image, the header blocks,
// the entries, the package header and its checksum, multi-disk sets and
// information pages. Everything written here reads back through PackX.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "package/EntryName.h"
#include "package/PackX.h"

namespace havrek {

// ---- Header blocks ----
// A plain language file to the language block:
//   [English]            a language entry named English
//   s0=My Application    one setting of the current entry; blanks around
//                        the key and after "=" are dropped
//   ; comment            skipped, like blank lines
// False, with error naming the line, on text the block cannot carry.
bool LanguageBlockFromText(const std::string& text, std::string& block, std::string& error);

struct UpdateRecordFields {
  std::string infoBase = "http://";
  std::string infoName = ".info";
  std::string agentFileName = ".exe";
  std::string token = "0";  // encoded
  bool silent = false;
  // Field 5, UpdateKeysText; left out when empty, so that a package without
  // keys is the same as before them.
  std::string keys;
};

struct InternetRecordFields {
  std::string baseUrl;
  std::string fileName;
  bool alwaysDownload = false;
  std::string token;  // encoded
  std::string sizeText = "0";
  std::string sha256;  // field 5, hex; left out when empty
};

// "|" + fields joined by "|" + "|"; false when a field holds "|".
bool MakeRecord(const std::vector<std::string>& fields, std::string& record, std::string& error);
bool MakeUpdateRecord(const UpdateRecordFields& f, std::string& record, std::string& error);
bool MakeInternetRecord(const InternetRecordFields& f, std::string& record, std::string& error);

// ---- Entries ----
// "|name|date|", or "|name*args|date|" for the program to run.
std::string EntryHeader(const std::string& target, bool run, const std::string& runArgs, std::uint32_t dosDate);

// Seconds since 1970-01-01 00:00 UTC (decimal digits only, as in
// SOURCE_DATE_EPOCH) to a DOS date-time in UTC, whatever the machine's time
// zone. Times before 1980, the first year the format holds, become
// 1980-01-01 00:00. False, with the reason, on anything else or on a time
// after 2107.
bool DosDateFromEpoch(const std::string& text, std::uint32_t& dosDate, std::string& error);

// "MZ" at 0, "PE\0\0" at 256 and a zero build length at 248..255.
bool CheckStubImage(const std::string& bytes, std::string& error);

struct PackFile {
  std::string source;  // path on this machine
  std::string target;  // name under the target folder
  bool run = false;
  std::string runArgs;
};

inline constexpr std::int64_t DefaultSplitSize = 32LL << 20;
// Keeps every entry's length within a signed 32-bit field with room to spare.
inline constexpr std::int64_t MaxSplitSize = 1LL << 30;

// False, with the reason (without the path), unless path names a regular
// file (links followed): reading a FIFO or a device would block or never end.
bool CheckInputFile(const std::string& path, std::string& error);

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

// ---- Information page ----
// "|token|||page"; scrambled with ScrambleText when asked.
std::string MakeInformPage(const std::string& encodedToken, const std::string& pageText, bool scramble);

}  // namespace havrek
