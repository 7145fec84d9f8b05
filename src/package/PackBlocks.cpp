#include "package/PackBlocks.h"

#include <algorithm>

#include "util/Utils.h"
#include "util/UtilsSystem.h"

namespace havrek {

namespace {

constexpr char kSOH = '\x01';
constexpr char kSTX = '\x02';

}  // namespace

bool LanguageBlockFromText(const std::string& text, std::string& block, std::string& error) {
  block.clear();
  std::string entries;
  bool open = false;
  std::size_t lineNo = 0, pos = 0;
  while (pos <= text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = "line " + std::to_string(lineNo) + ": ";
    if (line.find_first_of(std::string("\0\x01\x02", 3)) != std::string::npos)
      return (error = where + "control bytes 0, 1 and 2 cannot be carried"), false;
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed.front() == '[' && trimmed.back() == ']') {
      const std::string name = Trim(trimmed.substr(1, trimmed.size() - 2));
      if (name.empty()) return (error = where + "empty language name"), false;
      entries += std::string(1, kSOH) + name + kSOH + kSTX;
      open = true;
      continue;
    }
    if (!open) return (error = where + "a setting before the first [Language] line"), false;
    const std::size_t equals = line.find('=');
    const std::string key = equals == std::string::npos ? std::string() : Trim(line.substr(0, equals));
    if (key.empty()) return (error = where + "expected key=value"), false;
    // The stub forgives one blank before "=" and none after it, so a
    // hand-aligned "s0   = Setup" is stored as "s0=Setup".
    const std::size_t value = line.find_first_not_of(" \t", equals + 1);
    entries.pop_back();  // the closing STX goes after the entry's last setting
    entries += key + "=" + (value == std::string::npos ? std::string() : line.substr(value)) + kSOH + kSTX;
  }
  if (!entries.empty()) block = std::string(1, kSTX) + entries;
  return true;
}

bool MakeRecord(const std::vector<std::string>& fields, std::string& record, std::string& error) {
  record = "|";
  for (const std::string& f : fields) {
    if (f.find('|') != std::string::npos) return (error = "\"" + f + "\" must not contain \"|\""), false;
    record += f + "|";
  }
  return true;
}

bool MakeUpdateRecord(const UpdateRecordFields& f, std::string& record, std::string& error) {
  std::vector<std::string> fields{f.infoBase, f.infoName, f.agentFileName, f.token, f.silent ? "1" : "0"};
  if (!f.keys.empty()) fields.push_back(f.keys);
  return MakeRecord(fields, record, error);
}

bool MakeInternetRecord(const InternetRecordFields& f, std::string& record, std::string& error) {
  std::vector<std::string> fields{f.baseUrl, f.fileName, f.alwaysDownload ? "1" : "0", f.token, f.sizeText};
  if (!f.sha256.empty()) fields.push_back(f.sha256);
  return MakeRecord(fields, record, error);
}

std::string EntryHeader(const std::string& target, bool run, const std::string& runArgs, std::uint32_t dosDate) {
  // Read back as a signed 32-bit number, so dates from 2044 on are negative.
  return "|" + target + (run ? "*" + runArgs : std::string()) + "|" +
         std::to_string(static_cast<std::int32_t>(dosDate)) + "|";
}

bool DosDateFromEpoch(const std::string& text, std::uint32_t& dosDate, std::string& error) {
  std::int64_t seconds = 0;
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return (error = "\"" + text + "\" is not a number of seconds since 1970"), false;
  for (char c : text) seconds = seconds * 10 + (c - '0');
  constexpr std::int64_t first = 315532800;  // 1980-01-01 00:00:00 UTC
  seconds = std::max(seconds, first);
  const std::int64_t rest = seconds % 86400;
  int y = 0, m = 0, d = 0;
  CivilFromDays(seconds / 86400, y, m, d);
  const std::int64_t year = y, month = m, day = d;
  if (year > 2107) return (error = "\"" + text + "\" is after 2107, the last year a setup date holds"), false;
  dosDate = static_cast<std::uint32_t>(((year - 1980) << 25) | (month << 21) | (day << 16) | ((rest / 3600) << 11) |
                                       ((rest / 60 % 60) << 5) | (rest % 60 / 2));
  return true;
}

std::string MakeInformPage(const std::string& encodedToken, const std::string& pageText, bool scramble) {
  const std::string page = "|" + encodedToken + "|||" + pageText;
  return scramble ? ScrambleText(page, true, false) : page;
}

}  // namespace havrek
