#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/SLangId.h"
#include "util/HSUB.h"
#include "TestFolder.h"

namespace havrek {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

TEST(SLangId, NamesByPrimaryIdentifier) {
  const struct {
    int id;
    const char* name;
  } cases[] = {
      {9, "ENGLISH"},
      {10, "SPANISH"},
      {1, "ARABIC"},       // padded to "01"
      {22, "PORTUGUESE"},  // not one of the PORTUGUESE(...) rows
      {26, "CROATIAN"},    // the first of the two rows with code 26
      {46, "PORTUGUESE(BRAZIL)"},  // only found inside "1046"
      {52, "CHINESE(SIMPLIFIED)"},
      {0, ""},
      {99, ""},
      {-9, ""},
      {1234567, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(LanguageNameForId(c.id), c.name) << c.id;
}

TEST(SLangId, TableRowsArePaddedToTheirColumn) {
  const std::string& table = LanguageIdTable();
  ASSERT_EQ(SUB::FieldCount(table), 51);
  EXPECT_TRUE(table.starts_with("|AFRIKAANS    = 54|"));
  for (int i = 0; i < 51; ++i) {
    const std::string row = SUB::GetField(table, i);
    EXPECT_EQ(row.find('='), i < 43 ? 13u : 21u) << row;
  }
  EXPECT_EQ(SUB::GetField(table, 50), "SERBIAN(CYRILIC)     = 3098");
}

std::string Entry(const std::string& name, const std::string& settings = "") {
  return "\x01" + name + "\x01" + settings;
}

// STX-delimited block of SOH-closed entries, as the build tool writes it.
std::string Block(const std::vector<std::string>& entries) {
  std::string block = "\x02";
  for (const std::string& e : entries) block += e + "\x02";
  return block;
}

// Packages on disk, since the reader takes its language block from a file.
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::FreshTestFolder("lang");
    std::string stub(1024, '\0');
    stub.replace(0, 2, "MZ");
    stub.replace(256, 4, "PE\0\0"s);
    std::ofstream(dir_ / "stub.bin", std::ios::binary) << stub;
    ResetChosenLanguage();
    SetSystemPrimaryLanguage(9);
  }
  void TearDown() override {
    ResetChosenLanguage();
    SetSystemPrimaryLanguage(9);
    fs::remove_all(dir_);
  }

  TGFileInfo Package(const std::string& block) {
    PackOptions o;
    o.stubPath = (dir_ / "stub.bin").string();
    o.outPath = (dir_ / ("setup" + std::to_string(++count_) + ".exe")).string();
    o.languageBlock = block;
    const PackResult r = WritePackage(o);
    EXPECT_TRUE(r.ok) << r.error;
    TGFileInfo info(o.outPath);
    EXPECT_EQ(info.LanguageBlock(), block);
    return info;
  }

  fs::path dir_;
  int count_ = 0;
};

TEST_F(LanguageTest, ChoosesTheSystemLanguageThenEnglishThenNothing) {
  const std::string english = Entry("English", "s0=Setup\x01");
  const std::string spanish = Entry(" spanish ", "s0=Instalación\x01");
  const std::string brazil = Entry("Portuguese(Brazil)", "s0=Instalação\x01");
  const std::string deutsch = Entry("Deutsch", "s0=Installation\x01");
  const struct {
    const char* what;
    int system;
    std::string block;
    std::string s0;
    std::string chosen;
  } cases[] = {
      {"system language, any case and blanks", 10, Block({english, spanish}), "Instalación", spanish},
      {"English system", 9, Block({spanish, english}), "Setup", english},
      {"no entry for the system: English", 7, Block({spanish, english}), "Setup", english},
      {"22 is PORTUGUESE, not the Brazilian entry", 22, Block({brazil, english}), "Setup", english},
      {"a single language serves every system", 10, Block({deutsch}), "Installation", deutsch},
      {"neither system nor English", 7, Block({spanish, brazil}), "Havrek Installation Suite", "*"},
      {"no block", 9, "", "Havrek Installation Suite", "*"},
      {"unknown system language, unnamed entry", 0, Block({Entry("", "s0=Unnamed\x01"), english}), "Setup", english},
  };
  for (const auto& c : cases) {
    ResetChosenLanguage();
    SetSystemPrimaryLanguage(c.system);
    const TGFileInfo info = Package(c.block);
    EXPECT_EQ(info.GetText("s0", "Havrek Installation Suite"), c.s0) << c.what;
    EXPECT_EQ(ChosenLanguageEntry(), c.chosen) << c.what;
  }
}

TEST_F(LanguageTest, TheFirstLookupChoosesForTheWholeProcess) {
  const TGFileInfo empty = Package("");
  const TGFileInfo english = Package(Block({Entry("English", "s0=Setup\x01")}));
  EXPECT_EQ(empty.GetText("s0", "default"), "default");
  EXPECT_EQ(english.GetText("s0", "default"), "default");
  EXPECT_EQ(ChosenLanguageEntry(), "*");

  // Once chosen, other readers answer from the same entry.
  ResetChosenLanguage();
  EXPECT_EQ(english.GetText("s0", "default"), "Setup");
  EXPECT_EQ(empty.GetText("s0", "default"), "Setup");
  SetSystemPrimaryLanguage(10);
  EXPECT_EQ(Package(Block({Entry("Spanish", "s0=Instalar\x01")})).GetText("s0", "default"), "Setup");
}

TEST_F(LanguageTest, PlainLanguageFileReadsBackKeyByKey) {
  std::string text = "; written by hand\r\n[English]\r\n";
  for (int i = 0; i <= 12; ++i) text += "s" + std::to_string(i) + "=English " + std::to_string(i) + "\r\n";
  text += "s1=\r\n";  // a later duplicate does not win
  text +=
      "[Spanish]\n"
      "  s0   =  Instalar\n"
      "s1=\n"
      "s8=Inserte el <B>DISCO #<DISK_NUM></B>\n"
      "btntext=|&Aceptar|&Cancelar|\n"
      "Error=Error grave\n"
      "Charset=0\n"
      "FontSize=10\n"
      "FontName=Arial\n";
  std::string block, error;
  ASSERT_TRUE(LanguageBlockFromText(text, block, error)) << error;

  SetSystemPrimaryLanguage(9);
  const TGFileInfo info = Package(block);
  for (int i = 0; i <= 12; ++i) {
    const std::string key = "s" + std::to_string(i);
    EXPECT_EQ(info.GetText(key, "?"), "English " + std::to_string(i)) << key;
  }
  EXPECT_EQ(info.GetText("Error", "Error"), "Error");  // absent: the caller's default

  ResetChosenLanguage();
  SetSystemPrimaryLanguage(10);
  EXPECT_EQ(info.GetText("s0", "?"), "Instalar");  // aligned by hand
  EXPECT_EQ(info.GetText("s1", "Extracting Files..."), "");  // present but empty
  EXPECT_EQ(info.GetText("s8"), "Inserte el <B>DISCO #<DISK_NUM></B>");
  EXPECT_EQ(info.GetText("BtnText"), "|&Aceptar|&Cancelar|");  // keys ignore case
  EXPECT_EQ(info.GetText("Error"), "Error grave");
  EXPECT_EQ(info.GetText("s10"), "Downloading File...");
  EXPECT_EQ(info.GetText("s9", "none"), "none");
  EXPECT_EQ(info.FontSize(), 10);
  EXPECT_EQ(info.FontName(), "Arial");
}

TEST_F(LanguageTest, FontValuesFallBackToTheirDefaults) {
  const struct {
    std::string settings;
    int charset, size;
    std::string font;
  } cases[] = {
      {"Charset=204\x01" "FontSize=12\x01" "FontName=Verdana\x01", 204, 12, "Verdana"},
      {"", 0, 8, "Tahoma"},
      {"Charset=cyrillic\x01" "FontSize=\x01" "FontName=\x01", 0, 8, ""},
      {"Charset=99999999999\x01" "FontSize=10pt\x01", 0, 8, "Tahoma"},
      {"Charset= 161 \x01" "FontSize=-11\x01", 161, -11, "Tahoma"},
  };
  for (const auto& c : cases) {
    ResetChosenLanguage();
    const TGFileInfo info = Package(Block({Entry("English", c.settings)}));
    EXPECT_EQ(info.Charset(), c.charset) << c.settings;
    EXPECT_EQ(info.FontSize(), c.size) << c.settings;
    EXPECT_EQ(info.FontName(), c.font) << c.settings;
  }
}

TEST(LanguageBlock, MalformedBlocksGiveNoEntryOrDefaults) {
  const struct {
    const char* what;
    std::string block;
  } cases[] = {
      {"only the delimiter", "\x02"},
      {"two delimiters", "\x02\x02"},
      {"not closed", "\x02\x01" "English\x01s0=x\x01"},
      {"entry not closed", "\x02\x01" "English\x01s0=x\x02"},
      {"entry of one byte", "\x02\x01\x02"},
      {"no SOH at all", "\x02" "English s0=x\x02"},
      {"NUL bytes", "\x02\x01" "English\x01s0\0=x\x01\x02"s},
      {"block delimiter inside a value", "\x02\x01" "English\x01s0=a\x02" "b\x01\x02"},
  };
  for (const auto& c : cases) {
    const std::string entry = FindLanguageEntry(c.block, "English");
    EXPECT_FALSE(entry.size() > 1 && SUB::GetValue(entry, "s0", "", "") == "x") << c.what;
  }
  EXPECT_EQ(FindLanguageEntry("", "English"), "*");
  EXPECT_EQ(FindLanguageEntry("\x02\x02", "English"), "*");
}

TEST(LanguageBlock, BuiltInTexts) {
  EXPECT_EQ(LanguageDefault("s0"), "Havrek Installation Suite");
  EXPECT_EQ(LanguageDefault("BtnText"), "|&OK|&Cancel|&Yes|&No|&Abort|&Retry|&Ignore|");
  EXPECT_EQ(SUB::FieldCount(LanguageDefault("BtnText")), 7);
  EXPECT_EQ(LanguageDefault("FontName"), "Tahoma");
  EXPECT_EQ(LanguageDefault("s9"), "");
  EXPECT_EQ(LanguageDefault("S0"), "");
}

}  // namespace
}  // namespace havrek
