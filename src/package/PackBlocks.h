// The texts a package carries besides the bytes of its files (written by
// havrek-pack): the header blocks, the entry headers with their dates, and
// the information pages an agent fetches. Everything written here reads back
// through PackX.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// ---- Information page ----
// "|token|||page"; scrambled with ScrambleText when asked.
std::string MakeInformPage(const std::string& encodedToken, const std::string& pageText, bool scramble);

}  // namespace havrek
