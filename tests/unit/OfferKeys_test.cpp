#include "agent/OfferKeys.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "agent/OfferCheck.h"
#include "agent/Settings.h"
#include "util/Utils.h"

namespace havrek {
namespace {

std::set<std::pair<std::string, std::string>>& ReadFromInfo() {
  static std::set<std::pair<std::string, std::string>> keys;
  return keys;
}

// The publisher's tools check offers against the table: a key the agent
// reads but the table lacks would be called unknown, and a table key the
// agent does not read would be let through as if it did something.
TEST(OfferKeys, TableHoldsExactlyTheKeysTheAgentReadsFromAnOffer) {
  ReadFromInfo().clear();
  SettingsIni ini;
  ini.infoName = [] { return std::string("http://example.test/Tool.info"); };
  ini.read = [](const std::string& file, const std::string& section, const std::string& key, const std::string& def) {
    if (file == GetInfoFileName()) ReadFromInfo().insert({section, key});
    return def;
  };
  SetSettingsIni(ini);
  GetDownloadURL_UPDATE(), GetNameOfUpdateFile(), GetSizeOfUpdateFile();
  GetRequestConfirmationBeforeDownload(), GetRequestConfirmationBeforeDownloadForce();
  GetRequestConfirmationBeforeInstall(), GetRequestConfirmationBeforeInstallForce();
  GetBackgroundUpdate(), GetRestartProcess(), GetInformFinish(), GetShutDownMethod(), GetRunningProcess();
  GetInfoProgramName(), GetVersionNew(), GetInfoStamp(), GetValidVersions();
  GetRemoveStartUpShortcut(), GetRemoveCheckForNewUpdateShortcut();
  GetAutoInform(), GetDownloadURL_INFORM(), GetNameOfInformFile(), GetSizeOfInformFile();
  GetAutoInformW(), GetAutoInformH();
  for (int option = 0; option < AUOptionCount; ++option) GetAUOption(option);
  SetSettingsIni(SettingsIni());

  // Read where the signature is checked, not through the settings.
  const std::set<std::pair<std::string, std::string>> signedOnly = {
      {"NewSetup", "SHA256OfUpdateFile"}, {"NewSetup", "OfferExpires"}, {"AutoInform", "SHA256OfInformFile"}};
  for (const auto& [section, key] : ReadFromInfo()) {
    const OfferKey* k = FindOfferKey(section, key);
    ASSERT_NE(k, nullptr) << section << " " << key;
    EXPECT_EQ(std::string(k->section) + "|" + k->key, section + "|" + key) << "letter case";
  }
  for (const OfferKey& k : OfferKeys())
    EXPECT_TRUE(ReadFromInfo().count({k.section, k.key}) || signedOnly.count({k.section, k.key}))
        << k.section << " " << k.key << " is read by no one";
}

TEST(OfferKeys, AnUnknownKeyNamesTheKnownKeyItIsAMisspellingOf) {
  const struct {
    const char* section;
    const char* key;
    const char* closest;  // "Section Key", or empty for none
  } cases[] = {
      {"NewSetup", "NameOfUpdatFile", "NewSetup NameOfUpdateFile"},
      {"NewSetup", "VersoinNew", "NewSetup VersionNew"},
      {"newsetup", "sha256ofupdatefile", "NewSetup SHA256OfUpdateFile"},
      {"NewSetup", "SHA256OfUpdate", "NewSetup SHA256OfUpdateFile"},
      {"NewSetup", "OfferExpire", "NewSetup OfferExpires"},
      // The same section first, another one only when nothing there is near.
      {"AutoInform", "SizeOfInformFile_", "AutoInform SizeOfInformFile"},
      {"NewSetup", "NameOfInformFil", "AutoInform NameOfInformFile"},
      {"NewSetup", "Colour", ""},
      {"NewSetup", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.section) + " " + c.key);
    const OfferKey* k = ClosestOfferKey(c.section, c.key);
    EXPECT_EQ(k ? std::string(k->section) + " " + k->key : std::string(), c.closest);
  }
  EXPECT_STREQ(ClosestOfferSection("NewSetp"), "NewSetup");
  EXPECT_STREQ(ClosestOfferSection("autoinfrom"), "AutoInform");
  EXPECT_EQ(ClosestOfferSection("Engine"), nullptr);
}

TEST(OfferKeys, DigestsAndTimesMustHaveTheirExactShape) {
  const std::string digest(64, 'a');
  const struct {
    OfferKind kind;
    std::string value;
    bool good;
  } cases[] = {
      {OfferKind::sha256, digest, true},
      {OfferKind::sha256, "0123456789ABCDEF" + digest.substr(16), true},
      {OfferKind::sha256, digest.substr(1), false},
      {OfferKind::sha256, digest + "0", false},
      {OfferKind::sha256, "g" + digest.substr(1), false},
      {OfferKind::sha256, "", true},  // empty reads as absent, as for every kind
      {OfferKind::dateTime, "2026-12-11T13:00:00Z", true},
      {OfferKind::dateTime, "2026-12-11 13:00:00", false},
      {OfferKind::dateTime, "2026-12-11T13:00:00+01:00", false},
      {OfferKind::dateTime, "2026-02-30T00:00:00Z", false},
      {OfferKind::integer, "12", true},
      {OfferKind::yesNo, "yes", false},
      {OfferKind::shutDownMethod, "Using WM_QUIT", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(OfferKindProblem(c.kind, c.value).empty(), c.good) << OfferKindProblem(c.kind, c.value);
  }
}

TEST(OfferKeys, ThePublishersCheckNamesWhatAMisspellingMeant) {
  const std::string base = "[NewSetup]\r\nDownloadURL_UPDATE=http://e/\r\nVersionNew=2\r\nNameOfUpdateFile=u.exe\r\n"
                           "SizeOfUpdateFile=10\r\n";
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> findings;
  } cases[] = {
      {"signed-offer keys are known", base + "SHA256OfUpdateFile=" + std::string(64, '0') +
                                          "\r\nOfferExpires=2030-01-01T00:00:00Z\r\n", {}},
      {"a digest of the wrong length", base + "SHA256OfUpdateFile=abc\r\n",
       {"[NewSetup] SHA256OfUpdateFile=\"abc\" is no SHA-256 digest of 64 hexadecimal digits"}},
      {"a misspelt key", base + "RestartProces=1\r\n",
       {"[NewSetup] RestartProces is no key of the offer, ignored (did you mean [NewSetup] RestartProcess?)"}},
      {"a misspelt section, named once", base + "[AutoInfrom]\r\nAutoInformW=1\r\nAutoInformH=2\r\n",
       {"[AutoInfrom] is no section of the offer, ignored (did you mean [AutoInform]?)"}},
      {"another program's section", base + "[Engine]\r\nAnything=1\r\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OfferFindings(c.text, true), c.findings);
  }
  // The agent's own diagnosis keeps its words.
  EXPECT_EQ(OfferFindings(base + "RestartProces=1\r\n[AutoInfrom]\r\nX=1\r\n"),
            std::vector<std::string>{"[NewSetup] RestartProces is no key of the offer, ignored"});
}

}  // namespace
}  // namespace havrek
