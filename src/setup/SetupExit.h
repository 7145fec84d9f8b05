// The exit codes of a setup that ends without running its engine because
// something failed. Deployment tools read 0 as "installed", so a failure must
// never end with it. When the engine ran, its own exit code is handed on
// unchanged; the user's own No and a second instance end with 0.
#pragma once

namespace havrek {

// The package failed its checksum, its structure is damaged (a length or
// offset past the end, a wrong header magic, no entry where the header
// counts files), it was cut short, or an entry did not expand.
inline constexpr int kExitDamagedPackage = 110;
// Files the engine needs could not be written into the setup folder.
inline constexpr int kExitWriteFailed = 111;
// Nothing to run, a run file the extraction did not write, or the system
// refused to start it.
inline constexpr int kExitEngineNotStarted = 112;
// Internet setup: the download failed or its package was refused.
inline constexpr int kExitDownloadFailed = 113;
// Auto-update agent: its copy could not be written beside it (a folder the
// user may not write, such as Program Files) or not be started; no copy runs.
inline constexpr int kExitAgentCopyFailed = 114;

// Given by the unattended switch: implies "/hide", and every message box
// takes its default answer without being shown.
inline constexpr char kQuietSwitch[] = "/quiet";

}  // namespace havrek
