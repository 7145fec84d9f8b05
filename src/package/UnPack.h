// Extraction: writes the stored files of a package (or of a multi-disk set)
// into a target folder, reports the file the setup runs and, on request,
// writes the auto-update agent beside them.
//
// The walk is portable; whatever the user sees (progress, the disk request,
// the error box, ejecting, waiting) comes in as hooks from the shell, so the
// same walk runs in the stub, in the native tests and in the benchmark.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "package/PackX.h"
#include "platform/Platform.h"

namespace havrek {

// What the walk knows of one entry, for the entry hooks.
struct EntryFacts {
  std::string diskFile;         // the disk file that holds it
  int disk = 1;                 // that file's number in the set, from 1
  std::int64_t index = 0;       // over the whole set, from 1
  std::int64_t offset = 0;      // of its length field in the disk file
  std::int64_t storedSize = 0;  // bytes after the length field
  bool compressed = false;
  // Known once the entry has been walked whole:
  bool named = false;       // its header ends in a NUL; the stub skips it otherwise
  std::string header;       // up to the NUL
  std::string name;         // field 0 up to any "*", without the blanks that end it
  std::string path;         // where it is written; empty when the name is refused
  std::string refused;      // why the name is refused
  std::uint32_t date = 0;   // DOS date-time as stored
  std::int64_t dataSize = 0;
  bool failed = false;      // the save failed, for the reason in error
  std::string error;
};

// The user-facing steps. An empty hook is skipped; an empty askForDisk
// counts as Cancel.
struct ExtractHooks {
  // ProgressSink's kind (0 reset with maximum, 1 one step), maximum,
  // position and step.
  std::function<void(int kind, std::int64_t maximum, std::int64_t position, std::int64_t step)> progress;
  // OkCancelBox with owner code 0; true for OK.
  std::function<bool(const std::string& text, const std::string& title, int charset, const std::string& buttons)>
      askForDisk;
  // ErrorBox with owner code 0, empty title, character set 0, no buttons.
  std::function<void(const std::string& text)> showError;
  std::function<void(const std::string& path)> eject;             // EjectCD
  std::function<void(bool on)> suppressAutoPlay;                  // RegisterAutoPlayMessage
  std::function<void(std::uint32_t ms)> wait;                     // waiting while serving messages
  // lastError is the system's text as read at the failing call: by the time
  // the box is built, closing the file and serving messages have replaced it.
  std::function<std::string(const std::string& path, std::int64_t dataSize, const std::string& lastError)>
      saveFailureDetails;
  std::function<std::string()> lastErrorText;

  // For tools that report what the walk found. diskFile: each disk file
  // once its header is read (checksumOk false ends the walk after it).
  std::function<void(const std::string& path, int disk, const TPackageHeader& header, bool checksumOk)> diskFile;
  // Each entry past the header blocks: before it expands (only the
  // position facts are set; an entry that does not expand raises after
  // this) and once it has been walked.
  std::function<void(const EntryFacts& entry)> entryStarts;
  std::function<void(const EntryFacts& entry)> entryDone;
  // Opens the file an entry's bytes are appended to, making its folders;
  // first is true for the first piece this walk writes there. An empty file
  // fails the save with error. Without it the walk makes the folders and
  // appends to whatever file is there.
  std::function<plat::File(const std::string& path, bool first, std::string& error)> openEntry;
};

struct ExtractRequest {
  // The running executable, a downloaded package, or the first disk file
  // (which may end in ".001").
  std::string packageFile;
  std::string targetFolder;   // without trailing separator
  std::string agentFileName;  // empty: no agent copy; only the file-name part counts
  std::string diskPrompt;     // mark-up containing "<DISK_NUM>"
  std::string diskPromptTitle;
  std::string buttons;
  int charset = 0;
  bool forcePrompt = false;   // ask for every further disk, present or not
  // Nobody is there to insert a disk: a missing disk file ends the walk as
  // damage instead of asking until the file appears.
  bool unattended = false;
  // Every entry is read, expanded and its name checked, but nothing is
  // written (no folder, no file, no agent copy); a file counts as written
  // for the check of the run file.
  bool noWrite = false;
  // Checks each disk file's integrity record (see PackX.h) as its blocks
  // are read. Off only to measure what the check costs: records are then
  // skipped unchecked.
  bool verify = true;
};

struct ExtractResult {
  // Field 0 of the last entry marked to run, with its "*" and arguments
  // (the whole entry header when the "*" is in a later field); empty when
  // nothing is marked or a disk request was cancelled.
  std::string runCommand;
  // False until a disk file's checksum passed; then that of the last one tested.
  bool checksumOk = false;
  int failedSaves = 0;    // in this call, refused names included
  bool cutShort = false;  // an entry ran past the end of its file
  bool cancelled = false;  // the user cancelled a disk request
  // The package cannot be trusted as a whole (no package header, a payload
  // start or block past the end, cut short, an entry header without its end
  // within its cap, no entry although the header counts files, a disk
  // missing with nobody to insert it, an integrity record that does not
  // match or that the header promises and the file lacks); damage says what.
  // Nothing of it may run.
  bool damaged = false;
  std::string damage;
  // The run command names no file that this walk wrote under the target
  // folder (refused name, not an entry of the package): why. Nothing may run.
  std::string runRefused;
  // The run file is an entry of the package, but its save failed.
  bool runSaveFailed = false;
};

// Raises EZLibError when a compressed entry does not expand; the package
// file is closed and nothing else is held open then. Files written so far
// stay in the target folder.
ExtractResult Extract(const ExtractRequest& request, const ExtractHooks& hooks);

// Failed entry saves since the process started; only the first is shown.
int SaveErrorCount();
void SetSaveErrorCount(int count);

// Reads n bytes into buffer in pieces of at most 64 KB, serving messages
// after each. The bytes read: n, fewer when the file ends first, -1 after
// a failed read, 0 for n = 0.
std::int64_t ReadChunked(const plat::File& file, char* buffer, std::int64_t n);

// Where an entry named name is written under folder: the folder, the
// separator and the name with its folders (either "\" or "/" in the name).
// False with a reason for a name that would land elsewhere or that Windows
// cannot hold (see NormalizeTargetName).
bool EntryTargetPath(const std::string& folder, const std::string& name, std::string& path, std::string& error);

// The details of the save-failure box from its facts.
std::string SaveFailureText(const std::string& lastError, std::int64_t dataSize, std::int64_t fileSize,
                            std::int64_t freeBytes);

#ifdef _WIN32
// SaveFailureText with the given system error text, the file's size and the
// free bytes of its drive.
std::string SaveFailureDetails(const std::string& path, std::int64_t dataSize, const std::string& lastError);
// Every hook except progress, askForDisk and showError, which belong to the
// main window and the message box: ejecting, AutoPlay suppression, waiting
// while serving messages, save-failure details and the last error text.
ExtractHooks WinExtractHooks();
#endif

}  // namespace havrek
