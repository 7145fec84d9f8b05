#include "agent/Settings.h"

#include <set>

#include "agent/SignedOffer.h"
#include "diag/HDebug.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {
namespace {

SettingsIni ini;
std::uint8_t overrides[AUOptionCount] = {255, 255, 255, 255, 255, 255, 255, 255};
bool autoProbeEnabled = true;
std::set<std::string> notedValues;

const char kOriginalSetup[] = "OriginalSetup";
const char kNewSetup[] = "NewSetup";
const char kAutoInformSection[] = "AutoInform";
const char kMsgBox[] = "MsgBox";

std::string InfoField() { return ini.infoName ? ini.infoName() : std::string(); }

std::string Read(const std::string& file, const char* section, const char* key, const std::string& def) {
  return ini.read ? ini.read(file, section, key, def) : def;
}

void Write(const std::string& file, const char* section, const std::string& key, const std::string& value) {
  if (ini.write) ini.write(file, section, key, value);
}

// A value that is no number reads as the default; the note says why the
// agent then acts as it does (a version that reads as 0, say).
std::int64_t ReadInt(const std::string& file, const char* section, const char* key, std::int64_t def) {
  const std::string text = Read(file, section, key, IntText(def));
  std::int64_t value;
  if (TryTextToInt64(text, value)) return value;
  const std::string note = "Settings: " + FileNamePart(file) + " [" + section + "] " + key + "=\"" + text +
                           "\" is no number, " + IntText(def) + " used";
  // Some values are read at every tick (the message box's font): one note
  // per value and run says it, a note a second would fill the disk.
  if (!notedValues.insert(note).second) return def;
  DebugLine(PidText() + " " + note);
  LogLine(note);
  return def;
}

// Versions and stamps are compared as signed 32-bit values.
std::int32_t Low32(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Anything but exactly "1" is no: " 1", "01" and "true" included.
bool ReadYes(const std::string& file, const char* section, const char* key) {
  return Read(file, section, key, "0") == "1";
}

std::string Original(const char* section, const char* key, const std::string& def = std::string()) {
  return Read(GetOriginalFileName(), section, key, def);
}
std::int64_t OriginalInt(const char* section, const char* key, std::int64_t def) {
  return ReadInt(GetOriginalFileName(), section, key, def);
}
std::string Info(const char* section, const char* key, const std::string& def = std::string()) {
  return Read(GetInfoFileName(), section, key, def);
}
std::int64_t InfoInt(const char* section, const char* key, std::int64_t def) {
  return ReadInt(GetInfoFileName(), section, key, def);
}
bool InfoYes(const char* key) { return ReadYes(GetInfoFileName(), kNewSetup, key); }

void WriteOriginalInt(const char* key, std::int64_t value) {
  Write(GetOriginalFileName(), kOriginalSetup, key, IntText(value));
}

// The seconds, then their readable twin under "__" + key.
void WriteTimePair(const char* key, std::int64_t seconds) {
  WriteOriginalInt(key, seconds);
  const plat::LocalTime t = DaysToLocalTime(static_cast<double>(seconds) / 86400.0);
  Write(GetOriginalFileName(), kOriginalSetup, std::string("__") + key, DateTimeText(t));
}

struct KeyText {
  const char* key;
  const char* text;
};

const KeyText kAUTextDefaults[] = {
    {"s3", "File Download Aborted!"},  {"s4", "File not Found!"},
    {"s5", "Unable to Download File!"}, {"s31", "Downloading INFO File..."},
    {"s32", "Downloading UPDATE File..."}, {"s33", "Downloading INFORM File..."},
    {"s34", "New Version"},            {"s35", "Download"},
};

// The .info key consulted for each option while its byte is 255.
const char* const kOptionKeys[AUOptionCount] = {
    nullptr,
    "RequestConfirmationBeforeDownload",
    "RequestConfirmationBeforeInstall",
    "BackgroundUpdate",
    "InformFinish",
    "RestartProcess",
    "RequestConfirmationBeforeDownloadForce",
    "RequestConfirmationBeforeInstallForce",
};

}  // namespace

void SetSettingsIni(const SettingsIni& settingsIni) { ini = settingsIni; }

std::string InfoFileNameIn(const std::string& dir, const std::string& infoField) {
  return SetTrailingBackslash(dir, true) + FileNamePart(infoField);
}

std::string OriginalFileNameIn(const std::string& dir, const std::string& infoField) {
  return SetTrailingBackslash(dir, true) + FileNameNoExt(infoField, true) + ".original";
}

std::string GetInfoFileName() { return InfoFileNameIn(ExeDir(true), InfoField()); }
std::string GetOriginalFileName() { return OriginalFileNameIn(ExeDir(true), InfoField()); }

// ---- .original [OriginalSetup] ----
std::int64_t GetProbeSecondsInterval() { return OriginalInt(kOriginalSetup, "ProbeSecondsInterval", 0); }
void SetProbeSecondsInterval(std::int64_t seconds) { WriteOriginalInt("ProbeSecondsInterval", seconds); }
std::int64_t GetProbeSecondsLast() { return OriginalInt(kOriginalSetup, "ProbeSecondsLast", 0); }
void SetProbeSecondsLast(std::int64_t seconds) { WriteTimePair("ProbeSecondsLast", seconds); }
std::int64_t GetReAskSecondsInterval() { return OriginalInt(kOriginalSetup, "ReAskSecondsInterval", 0); }
void SetReAskSecondsInterval(std::int64_t seconds) { WriteOriginalInt("ReAskSecondsInterval", seconds); }
std::int64_t GetReAskSecondsLast() { return OriginalInt(kOriginalSetup, "ReAskSecondsLast", 0); }
void SetReAskSecondsLast(std::int64_t seconds) { WriteTimePair("ReAskSecondsLast", seconds); }
std::int32_t GetVersionOriginal() { return Low32(OriginalInt(kOriginalSetup, "VersionOriginal", 0)); }
void SetVersionOriginal(std::int32_t version) { WriteOriginalInt("VersionOriginal", version); }
std::int32_t GetOriginalStamp() { return Low32(OriginalInt(kOriginalSetup, "Stamp", 0)); }
void SetOriginalStamp(std::int32_t stamp) { WriteOriginalInt("Stamp", stamp); }
std::string GetOriginalProgramName() { return Original(kOriginalSetup, "ProgramName"); }
std::int64_t GetOfferSignedLast() {
  std::int64_t seconds = 0;
  return ParseUtcTime(Original(kOriginalSetup, "OfferSignedLast"), seconds) ? seconds : 0;
}
void SetOfferSignedLast(std::int64_t seconds) {
  Write(GetOriginalFileName(), kOriginalSetup, "OfferSignedLast", UtcTimeText(seconds));
}

// ---- .original, written at installation ----
std::string GetTargetDir() { return Original("Directories", "TargetDir"); }
std::string GetSharedDir() { return Original("Directories", "SharedDir"); }
std::string GetAuxiliaryDir() { return Original("Directories", "AuxiliaryDir"); }
std::string GetStartUpLink() { return Original("UnInstall", "StartUpLink"); }
std::string GetCheckforNewUpdateLink() { return Original("UnInstall", "CheckforNewUpdateLink"); }
std::string GetMsgBoxBtnText() { return Original(kMsgBox, "BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"); }
std::string GetMsgBoxError() { return Original(kMsgBox, "Error", "Error"); }
std::string GetMsgBoxConfirm() { return Original(kMsgBox, "Confirm", "Confirm"); }
std::string GetMsgBoxAttention() { return Original(kMsgBox, "Attention", "Attention"); }
std::int64_t GetMsgBoxCharSet() { return OriginalInt(kMsgBox, "CharSet", 0); }
std::string GetMsgBoxFontName() { return Original(kMsgBox, "FontName", "Tahoma"); }
std::int64_t GetMsgBoxFontSize() { return OriginalInt(kMsgBox, "FontSize", 8); }

// ---- .original [AutoUpdate] ----
std::string AUTextDefault(const std::string& key) {
  for (const KeyText& d : kAUTextDefaults)
    if (key == d.key) return d.text;
  return std::string();
}

std::string GetAUText(const std::string& key, const std::string& def) {
  return Read(GetOriginalFileName(), "AutoUpdate", key.c_str(), def);
}

std::string GetAUText(const std::string& key) { return GetAUText(key, AUTextDefault(key)); }

// ---- .info [NewSetup] ----
std::string GetDownloadURL_UPDATE() { return Info(kNewSetup, "DownloadURL_UPDATE"); }
std::string GetNameOfUpdateFile() { return Info(kNewSetup, "NameOfUpdateFile"); }
std::int64_t GetSizeOfUpdateFile() { return InfoInt(kNewSetup, "SizeOfUpdateFile", 0); }
std::string GetSHA256OfUpdateFile() { return Info(kNewSetup, "SHA256OfUpdateFile"); }
bool GetRequestConfirmationBeforeDownload() { return InfoYes("RequestConfirmationBeforeDownload"); }
bool GetRequestConfirmationBeforeDownloadForce() { return InfoYes("RequestConfirmationBeforeDownloadForce"); }
bool GetRequestConfirmationBeforeInstall() { return InfoYes("RequestConfirmationBeforeInstall"); }
bool GetRequestConfirmationBeforeInstallForce() { return InfoYes("RequestConfirmationBeforeInstallForce"); }
bool GetBackgroundUpdate() { return InfoYes("BackgroundUpdate"); }
bool GetRestartProcess() { return InfoYes("RestartProcess"); }
bool GetInformFinish() { return InfoYes("InformFinish"); }
std::string GetShutDownMethod() { return Info(kNewSetup, "ShutDownMethod"); }
std::string GetRunningProcess() { return Info(kNewSetup, "RunningProcess"); }
std::string GetInfoProgramName() { return Info(kNewSetup, "ProgramName"); }
std::int32_t GetVersionNew() { return Low32(InfoInt(kNewSetup, "VersionNew", 0)); }
std::int32_t GetInfoStamp() { return Low32(InfoInt(kNewSetup, "Stamp", 0)); }
std::string GetValidVersions() { return Info(kNewSetup, "ValidVersions"); }
bool GetRemoveStartUpShortcut() { return InfoYes("RemoveStartUpShortcut"); }
bool GetRemoveCheckForNewUpdateShortcut() { return InfoYes("RemoveCheckForNewUpdateShortcut"); }

// ---- .info [General], [AutoInform] ----
std::int64_t GetAutoInform() { return InfoInt("General", "AutoInform", 0); }
std::string GetDownloadURL_INFORM() { return Info(kAutoInformSection, "DownloadURL_INFORM"); }
std::string GetNameOfInformFile() { return Info(kAutoInformSection, "NameOfInformFile"); }
std::string GetSHA256OfInformFile() { return Info(kAutoInformSection, "SHA256OfInformFile"); }
std::int64_t GetSizeOfInformFile() { return InfoInt(kAutoInformSection, "SizeOfInformFile", 0); }
std::int64_t GetAutoInformW() { return InfoInt(kAutoInformSection, "AutoInformW", 360); }
std::int64_t GetAutoInformH() { return InfoInt(kAutoInformSection, "AutoInformH", 360); }

// ---- Option overrides ----
bool GetAUOption(int option) {
  if (option < 0 || option >= AUOptionCount) return false;
  const std::uint8_t value = overrides[option];
  if (value == AUOptionNotSet) return kOptionKeys[option] != nullptr && InfoYes(kOptionKeys[option]);
  return value == 1;
}

void SetAUOptionOverride(int option, std::uint8_t value) {
  if (option >= 0 && option <= auoRestartProcess) overrides[option] = value;
}

std::uint8_t AUOptionOverride(int option) {
  return option >= 0 && option < AUOptionCount ? overrides[option] : AUOptionNotSet;
}

std::string AUOptionsToText() {
  std::string text = "|";
  for (const std::uint8_t b : overrides) text += IntText(b) + "|";
  return text;
}

void AUOptionsFromText(const std::string& text) {
  for (int i = 0; i < AUOptionCount; ++i) {
    std::int64_t value;
    // A byte is stored whole or not at all: 257 must not turn into 1 (yes).
    if (TryTextToInt64(SUB::GetField(text, i), value) && value >= 0 && value <= 255)
      overrides[i] = static_cast<std::uint8_t>(value);
  }
}

// ---- Timer probing ----
bool GetAutoProbeEnabled() { return autoProbeEnabled; }
void SetAutoProbeEnabled(bool enabled) { autoProbeEnabled = enabled; }

}  // namespace havrek
