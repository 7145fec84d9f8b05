// The agent's two settings files beside its executable: the .original file
// (what is installed, the agent's texts and its probe bookkeeping) and the
// .info file fetched at every probe (what is offered and how to install it).
// Nothing is cached: every getter reads the file anew, so a freshly fetched
// .info file takes effect at once. Missing files, sections and keys give the
// listed defaults; failed writes are not reported.
#pragma once

#include <cstdint>
#include <string>

namespace havrek {

// How the settings reach their files. The Win32 shell binds the profile
// functions (BindSettingsToIniFiles); tests bind an in-memory INI. Unbound
// reads give the defaults and writes go nowhere.
struct SettingsIni {
  // The value of key in section, or def when absent.
  std::string (*read)(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& def) = nullptr;
  bool (*write)(const std::string& file, const std::string& section, const std::string& key,
                const std::string& value) = nullptr;
  // Field 1 of the agent's update record (where the .info file comes from).
  std::string (*infoName)() = nullptr;
};
void SetSettingsIni(const SettingsIni& ini);

#ifdef _WIN32
// The private-profile functions on the files beside the executable, named
// after the update record of the own package.
void BindSettingsToIniFiles();
#endif

// ---- File names ----
// dir + file-name part of infoField.
std::string InfoFileNameIn(const std::string& dir, const std::string& infoField);
// dir + that name with every extension removed + ".original".
std::string OriginalFileNameIn(const std::string& dir, const std::string& infoField);
// The two files in ExeDir.
std::string GetInfoFileName();
std::string GetOriginalFileName();

// ---- .original [OriginalSetup] ----
// -1 never probe on the timer, 0 once per run, else seconds between probes.
std::int64_t GetProbeSecondsInterval();
void SetProbeSecondsInterval(std::int64_t seconds);
// Seconds since 1899-12-30 00:00 local time. The setter also writes the
// readable twin "__ProbeSecondsLast".
std::int64_t GetProbeSecondsLast();
void SetProbeSecondsLast(std::int64_t seconds);
// Above 0: seconds after which an offer already made is made again.
std::int64_t GetReAskSecondsInterval();
void SetReAskSecondsInterval(std::int64_t seconds);
// Also writes "__ReAskSecondsLast".
std::int64_t GetReAskSecondsLast();
void SetReAskSecondsLast(std::int64_t seconds);
std::int32_t GetVersionOriginal();
void SetVersionOriginal(std::int32_t version);
std::int32_t GetOriginalStamp();
void SetOriginalStamp(std::int32_t stamp);
std::string GetOriginalProgramName();
// The signing time of the newest signed offer accepted here, seconds since
// 1970 UTC, stored as "YYYY-MM-DDTHH:MM:SSZ" under OfferSignedLast; 0 when
// none is stored or the value is no such time. An older offer is a replay.
std::int64_t GetOfferSignedLast();
void SetOfferSignedLast(std::int64_t seconds);

// ---- .original [Directories], [UnInstall], [MsgBox] ----
std::string GetTargetDir();
std::string GetSharedDir();
std::string GetAuxiliaryDir();
// Shortcuts removed after a successful update when the .info file asks
// (GetRemoveStartUpShortcut, GetRemoveCheckForNewUpdateShortcut).
std::string GetStartUpLink();
std::string GetCheckforNewUpdateLink();
std::string GetMsgBoxBtnText();  // button list, "|&OK|&Cancel|...|" by default
std::string GetMsgBoxError();
std::string GetMsgBoxConfirm();
std::string GetMsgBoxAttention();
std::int64_t GetMsgBoxCharSet();
std::string GetMsgBoxFontName();
std::int64_t GetMsgBoxFontSize();

// ---- .original [AutoUpdate]: the agent's texts ----
// The built-in text of an [AutoUpdate] key ("s3" "File Download Aborted!",
// "s31".."s35" ...); empty for the keys whose default is empty.
std::string AUTextDefault(const std::string& key);
std::string GetAUText(const std::string& key, const std::string& def);
std::string GetAUText(const std::string& key);  // with AUTextDefault

// ---- .info [NewSetup] ----
std::string GetDownloadURL_UPDATE();
std::string GetNameOfUpdateFile();
std::int64_t GetSizeOfUpdateFile();
std::string GetSHA256OfUpdateFile();  // hex; empty when the offer names none
// Yes/no keys read exactly "1" as yes. The five that have an option below
// are better read through GetAUOption, which honours the overrides.
bool GetRequestConfirmationBeforeDownload();
bool GetRequestConfirmationBeforeDownloadForce();
bool GetRequestConfirmationBeforeInstall();
bool GetRequestConfirmationBeforeInstallForce();
bool GetBackgroundUpdate();
bool GetRestartProcess();
bool GetInformFinish();
std::string GetShutDownMethod();
std::string GetRunningProcess();     // a path with macros
std::string GetInfoProgramName();
std::int32_t GetVersionNew();
std::int32_t GetInfoStamp();
std::string GetValidVersions();      // comma-separated; empty means all
bool GetRemoveStartUpShortcut();
bool GetRemoveCheckForNewUpdateShortcut();

// ---- .info [General], [AutoInform] ----
std::int64_t GetAutoInform();        // exactly 1 announces an information page
std::string GetDownloadURL_INFORM();
std::string GetNameOfInformFile();
std::int64_t GetSizeOfInformFile();
std::string GetSHA256OfInformFile();
std::int64_t GetAutoInformW();       // pixels, 360
std::int64_t GetAutoInformH();

// ---- Option overrides ----
// Plain numbers: an option is its byte's place in the override text handed
// to other processes and its agent command's offset from kCmdFirstOption.
enum AUOption : int {
  auoAskBeforeProbe = 0,
  auoConfirmDownload = 1,
  auoConfirmInstall = 2,
  auoBackgroundUpdate = 3,
  auoInformFinish = 4,
  auoRestartProcess = 5,
  auoForcedDownloadNotice = 6,
  auoForcedInstallNotice = 7,
};
inline constexpr int AUOptionCount = 8;
inline constexpr std::uint8_t AUOptionNotSet = 255;

// Yes when the override byte is 1, or when it is 255 and the .info key of
// the option reads "1" (option 0 has no key). False for unknown options.
bool GetAUOption(int option);
// Options 0 to 5, as the agent commands set them; others are ignored.
void SetAUOptionOverride(int option, std::uint8_t value);
std::uint8_t AUOptionOverride(int option);  // 255 for unknown options
// "|b0|b1|...|b7|" in decimal.
std::string AUOptionsToText();
// Field i replaces byte i when it is a number from 0 to 255; anything else
// leaves the byte as it is.
void AUOptionsFromText(const std::string& text);

// ---- Timer probing ----
bool GetAutoProbeEnabled();  // true at start
void SetAutoProbeEnabled(bool enabled);

}  // namespace havrek
