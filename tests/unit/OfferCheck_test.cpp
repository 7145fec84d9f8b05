#include "agent/OfferCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace havrek {
namespace {

// A sound update offer; each case changes one line of it.
const std::string kUpdate =
    "[NewSetup]\r\n"
    "DownloadURL_UPDATE=http://example.com/files\r\n"
    "NameOfUpdateFile=ToolUpdate.exe\r\n"
    "SizeOfUpdateFile=123456\r\n"
    "ShutDownMethod=Using WM_CLOSE\r\n"
    "RunningProcess=<TargetDir>\\Tool.exe\r\n"
    "RestartProcess=1\r\n"
    "VersionNew=2\r\n"
    "Stamp=7\r\n"
    "ValidVersions=1,-3\r\n";

const std::string kInform =
    "[General]\r\nAutoInform=1\r\n"
    "[NewSetup]\r\nDownloadURL_UPDATE=http://example.com/files\r\nVersionNew=3\r\n"
    "[AutoInform]\r\nNameOfInformFile=page.inf\r\nSizeOfInformFile=900\r\nAutoInformW=400\r\n";

std::string Replace(const std::string& text, const std::string& line, const std::string& with) {
  const std::size_t at = text.find(line);
  EXPECT_NE(at, std::string::npos) << line;
  return text.substr(0, at) + with + text.substr(at + line.size());
}

TEST(OfferCheck, EachMistakeIsNamedByItsCause) {
  const struct {
    const char* name;
    std::string text;
    std::vector<std::string> findings;
  } cases[] = {
      {"sound update", kUpdate, {}},
      {"sound information page", kInform, {}},
      {"names and sections without case, blanks and quotes around values", 
       "[newsetup]\n downloadurl_update = \"http://e/x\" \nNAMEOFUPDATEFILE=a.exe\nSizeOfUpdateFile= 10 \n"
       "VersionNew='4'\n; ShutDownMethod=whatever\n",
       {}},
      {"misspelt file name key",
       Replace(kUpdate, "NameOfUpdateFile=", "NameOfUpdatFile="),
       {"[NewSetup] NameOfUpdatFile is no key of the offer, ignored",
        "[NewSetup] NameOfUpdateFile is missing or empty (an update)"}},
      {"misspelt version key",
       Replace(kUpdate, "VersionNew=", "VersoinNew="),
       {"[NewSetup] VersoinNew is no key of the offer, ignored",
        "[NewSetup] VersionNew is missing or empty (an update)"}},
      {"method in the wrong letter case",
       Replace(kUpdate, "Using WM_CLOSE", "Using WM_Close"),
       {"[NewSetup] ShutDownMethod=\"Using WM_Close\" is none of \"Issue a Message Box\", \"Using WM_CLOSE\", "
        "\"Using WM_QUIT\", \"Using Terminate Process\", \"Don't Shut Down\" (letter case counts)"}},
      {"no method for a running program",
       Replace(kUpdate, "ShutDownMethod=Using WM_CLOSE\r\n", ""),
       {"[NewSetup] ShutDownMethod is missing or empty (an update)"}},
      {"no method and no running program",
       Replace(Replace(kUpdate, "ShutDownMethod=Using WM_CLOSE\r\n", ""), "RunningProcess=<TargetDir>\\Tool.exe\r\n",
               ""),
       {}},
      {"numbers that do not parse",
       Replace(Replace(kUpdate, "SizeOfUpdateFile=123456", "SizeOfUpdateFile=120 KB"), "VersionNew=2",
               "VersionNew=2.1"),
       {"[NewSetup] SizeOfUpdateFile=\"120 KB\" is no number", "[NewSetup] VersionNew=\"2.1\" is no number"}},
      {"yes written as a word", Replace(kUpdate, "RestartProcess=1", "RestartProcess=yes"),
       {"[NewSetup] RestartProcess=\"yes\" is neither 1 nor 0, read as no"}},
      {"versions not separated by commas", Replace(kUpdate, "ValidVersions=1,-3", "ValidVersions=1;2"),
       {"[NewSetup] ValidVersions=\"1;2\" is no comma-separated list of versions"}},
      {"empty required value", Replace(kUpdate, "DownloadURL_UPDATE=http://example.com/files", "DownloadURL_UPDATE="),
       {"[NewSetup] DownloadURL_UPDATE is missing or empty (an update)"}},
      {"the first of two equal keys counts", kUpdate + "VersionNew=x\r\n", {}},
      {"section name misspelt", Replace(kUpdate, "[NewSetup]", "[NewSetp]"),
       {"[NewSetup] DownloadURL_UPDATE is missing or empty (an update)",
        "[NewSetup] NameOfUpdateFile is missing or empty (an update)",
        "[NewSetup] SizeOfUpdateFile is missing or empty (an update)",
        "[NewSetup] VersionNew is missing or empty (an update)"}},
      {"other sections are the engine's", kUpdate + "[Engine]\r\nAnything=at all\r\n", {}},
      {"information page without its size", Replace(kInform, "SizeOfInformFile=900\r\n", ""),
       {"[AutoInform] SizeOfInformFile is missing or empty (an information page)"}},
      {"information page keys an update does not need", kInform, {}},
      {"window width that is no number", Replace(kInform, "AutoInformW=400", "AutoInformW=400px"),
       {"[AutoInform] AutoInformW=\"400px\" is no number"}},
      {"empty file", "",
       {"[NewSetup] DownloadURL_UPDATE is missing or empty (an update)",
        "[NewSetup] NameOfUpdateFile is missing or empty (an update)",
        "[NewSetup] SizeOfUpdateFile is missing or empty (an update)",
        "[NewSetup] VersionNew is missing or empty (an update)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OfferFindings(c.text), c.findings);
  }
}

}  // namespace
}  // namespace havrek
