// The internet setup: a stub whose package holds no files, only a record that
// names the real setup package on a web server (or beside the stub). It asks,
// fetches the package, makes sure it comes from the same build and runs it
// through the ordinary extract-and-run flow. The text and byte work is
// portable; the flow itself is Windows only.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

inline constexpr char kBadTokenText[] = "Bad Secret Token!";
// The error text that stands for "the user said No": nothing is shown.
inline constexpr char kDeclinedText[] = "!";
// Bytes past the build length that still count as a signature or padding to
// cut off; anything longer is taken for part of the file and kept.
inline constexpr std::int64_t kAgentTailLimit = 10000;

// Where the package is looked for: the stub's own folder (exeDir, without a
// trailing backslash) when the record does not insist on a download and a
// copy lies there, else the record's base.
std::string InternetSetupBase(const std::string& recordBase, bool alwaysDownload, const std::string& exeDir,
                              bool copyBesideStub);

// The package as a file below base, and as a web address.
std::string LocalPackagePath(const std::string& base, const std::string& name);
std::string InternetPackageUrl(const std::string& base, const std::string& name);

// The name the downloaded copy gets in the run's download folder: the last
// part of name, so that a record naming "..\x" cannot put it anywhere else.
// Empty when nothing is left.
std::string DownloadCopyName(const std::string& name);

// A run downloads into "<setup folder>.dl<its pid>" (or "..._<k>" when that
// name is taken). The pid of such a folder's name, given the setup folder's
// own name (both without a path); 0 when name is no download folder of it.
std::uint32_t DownloadFolderOwner(const std::string& name, const std::string& setupFolderName);

// The download question with "<SIZE>" replaced by the megabytes of the size
// field (0 when it is not a number).
std::string DownloadConfirmText(const std::string& question, const std::string& sizeText);

// The no-connection text, with the system's reason after it when there is one.
std::string NoConnectionText(const std::string& text, const std::string& detail);

// Empty when the package at path may be unpacked: the setup records no
// SHA-256 for it (built before it did, or without one), or the file has the
// recorded one. Otherwise why not, for the download-failed message.
std::string PackageDigestProblem(const std::string& recordedHex, const std::string& path);

// The agent written beside the unpacked files: the stub's own bytes, cut to
// the recorded build length when less than kAgentTailLimit bytes follow it,
// with the fifth byte from the end (the auto-update flag of the package
// header that ends the file) set, so that the copy starts as an agent.
std::string AgentCopyBytes(std::string exe);

#ifdef _WIN32
// The internet branch of the setup tick: writes the agent copy (agent: the
// record's name, of which only a file name that the entry name rule accepts
// is used; or empty), chooses the base and runs InternetSetup.
void RunInternetSetup(const std::string& agent);

// Fetches name from base (or takes it from there when base is a folder that
// holds it), checks its build token against the running stub's and unpacks
// and runs it in folder. A download goes into a folder of this run's own
// beside folder, removed afterwards. Errors end in a box and, unless the
// user declined, in the exit code of a failed download.
void InternetSetup(const std::string& folder, const std::string& base, const std::string& name);

// The run that made a download folder is gone: no process has the pid, or
// the one that has it runs a program of another file name than ownerName
// (the pid was given again). False while it cannot be told.
bool DownloadOwnerGone(std::uint32_t pid, const std::string& ownerName);
// Removes the download folders beside setupFolder that runs killed before
// their end left behind; a folder that a live run holds stays.
void RemoveLeftDownloadFolders(const std::string& setupFolder);
#endif

}  // namespace havrek
