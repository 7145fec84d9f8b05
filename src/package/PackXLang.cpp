// Language texts of a package: the language block is a STX-delimited list of
// entries, each a SOH-delimited list whose field 0 is the language's name and
// whose other fields are key=value settings.
#include <utility>

#include "package/PackX.h"
#include "package/SLangId.h"
#include "util/HSUB.h"
#include "util/Utils.h"

namespace havrek {
namespace {

std::string chosenLanguageEntry;

struct KeyText {
  const char* key;
  const char* text;
};

const KeyText kDefaults[] = {
    {"s0", "Havrek Installation Suite"},
    {"s1", "Extracting Files..."},
    {"s2", "Havrek will extract files to your Temp Drive (<DRIVE>)<P>"},
    {"s3", "Limited Free Space on your Temp Drive! (<DRIVE>)<P>"},
    {"s4", "<P>Estimated space required on your Temp drive is: <T>  <SPACE_REQ> MB<P>"},
    {"s5", "Free space available on your Temp drive is: <T>  <SPACE_AVAIL> MB<P>"},
    {"s6", "<P>Continue with Setup?<P>"},
    {"s7", "Bad CRC!<P>This indicates that your setup file might be corrupted..."},
    {"s8", "Please insert <B>DISK #<DISK_NUM></B> and press OK to continue"},
    {"s10", "Downloading File..."},
    {"s11",
     "<b>INTERNET DOWNLOAD</b><p><p>Havrek will download the Setup File from the Internet...<p>"
     "Please make sure your Internet connection is properly set.<p><p>Continue with Setup?<p><P>"
     "Size: <SIZE> MB<P>"},
    {"s12", "No valid Internet Connection.<p>Can not Download File!"},
    {"BtnText", "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|"},
    {"Attention", "Attention"},
    {"Confirm", "Confirm"},
    {"Error", "Error"},
    {"Charset", "0"},
    {"FontSize", "8"},
    {"FontName", "Tahoma"},
};

}  // namespace

std::string LanguageDefault(const std::string& key) {
  for (const KeyText& d : kDefaults)
    if (key == d.key) return d.text;
  return std::string();
}

std::string FindLanguageEntry(const std::string& block, const std::string& name) {
  const int n = SUB::FieldCount(block);
  // An unknown system language has no name; it must not pick an entry whose
  // name was left empty.
  if (!Trim(name).empty()) {
    for (int i = 0; i < n; ++i) {
      std::string entry = SUB::GetField(block, i);
      if (SameTextTrim(SUB::GetField(entry, 0), name)) return entry;
    }
  }
  if (n == 1) {
    std::string only = SUB::GetField(block, 0);
    if (!only.empty()) return only;
  }
  return "*";
}

const std::string& ChosenLanguageEntry() { return chosenLanguageEntry; }
void ResetChosenLanguage() { chosenLanguageEntry.clear(); }

std::string TGFileInfo::GetText(const std::string& key, const std::string& def) const {
  if (chosenLanguageEntry.empty()) {
    std::string entry = FindLanguageEntry(language_, LanguageNameForId(SystemPrimaryLanguage()));
    if (entry == "*") entry = FindLanguageEntry(language_, "English");
    chosenLanguageEntry = std::move(entry);
  }
  if (chosenLanguageEntry.size() <= 1) return def;
  return SUB::GetValue(chosenLanguageEntry, key, def, std::string());
}

std::string TGFileInfo::GetText(const std::string& key) const { return GetText(key, LanguageDefault(key)); }

int TGFileInfo::Charset() const { return TextToInt32(GetText("Charset", "0"), 0); }
int TGFileInfo::FontSize() const { return TextToInt32(GetText("FontSize", "8"), 8); }
std::string TGFileInfo::FontName() const { return GetText("FontName", "Tahoma"); }

}  // namespace havrek
