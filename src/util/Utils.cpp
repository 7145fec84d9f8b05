#include "util/Utils.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <utility>

#include "diag/HDebug.h"
#include "util/Fnv1a.h"
#include "util/HSUB.h"

namespace havrek {

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::int64_t ToPos(std::size_t index) {
  return index == std::string::npos ? 0 : static_cast<std::int64_t>(index) + 1;
}

bool EqualAt(const std::string& s, std::size_t at, const std::string& sub, bool ignoreCase) {
  if (at > s.size() || s.size() - at < sub.size()) return false;
  for (std::size_t i = 0; i < sub.size(); ++i) {
    const char a = s[at + i], b = sub[i];
    if (ignoreCase ? Upper(a) != Upper(b) : a != b) return false;
  }
  return true;
}

std::size_t Find(const std::string& s, const std::string& sub, std::size_t from, bool ignoreCase) {
  if (!ignoreCase) return s.find(sub, from);
  if (sub.size() > s.size()) return std::string::npos;
  for (std::size_t i = from; i + sub.size() <= s.size(); ++i)
    if (EqualAt(s, i, sub, true)) return i;
  return std::string::npos;
}

std::string ReplaceAllIn(const std::string& s, const std::string& oldText, const std::string& newText,
                         bool ignoreCase) {
  if (oldText.empty()) return s;
  std::size_t hit = Find(s, oldText, 0, ignoreCase);
  if (hit == std::string::npos) return s;

  if (newText.empty()) {
    // Deleting joins the text on both sides, which may form a new occurrence;
    // it is removed too, as the earliest one always is first. Collecting into
    // a buffer that never holds a whole occurrence does exactly that.
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
      out += c;
      if (out.size() >= oldText.size() && EqualAt(out, out.size() - oldText.size(), oldText, ignoreCase))
        out.resize(out.size() - oldText.size());
    }
    return out;
  }

  std::string out;
  std::size_t from = 0;
  for (; hit != std::string::npos; hit = Find(s, oldText, from, ignoreCase)) {
    out.append(s, from, hit - from);
    out += newText;
    from = hit + oldText.size();
  }
  out.append(s, from, std::string::npos);
  return out;
}

// True when s[index] is the second byte of a double-byte character.
bool IsTrailByteAt(const std::string& s, std::size_t index) {
  std::size_t i = 0;
  while (i < index) i += IsLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
  return i > index;
}

bool EndsWithBackslash(const std::string& s) {
  return !s.empty() && s.back() == '\\' && !IsTrailByteAt(s, s.size() - 1);
}

std::size_t LastSeparator(const std::string& path) {
  std::size_t last = std::string::npos;
  for (std::size_t i = 0; i < path.size(); i += IsLeadByte(static_cast<unsigned char>(path[i])) ? 2 : 1)
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') last = i;
  return last;
}

std::string TwoDigits(int n) { return ZeroPad(n, 2); }

struct ProcessContext {
  std::string commandLine;
  std::string exePath;
};
ProcessContext& Context() {
  static ProcessContext context;
  return context;
}

}  // namespace

// ---- Case, trimming, comparison ----

std::string UpperCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = Upper(c);
  return r;
}

std::string NameDigest(const std::string& s) {
  std::uint64_t digest = Fnv1a64(UpperCase(s));
  static const char kHex[] = "0123456789ABCDEF";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, digest >>= 4) text[static_cast<std::size_t>(i)] = kHex[digest & 0xF];
  return text;
}

std::string LowerCase(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = Lower(c);
  return r;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && EqualAt(a, 0, b, true);
}

bool SameTextTrim(const std::string& a, const std::string& b) { return SameText(Trim(a), Trim(b)); }

// ---- Replacing ----

std::string ReplaceAll(const std::string& s, const std::string& oldText, const std::string& newText) {
  return ReplaceAllIn(s, oldText, newText, false);
}

std::string ReplaceAllNoCase(const std::string& s, const std::string& oldText, const std::string& newText) {
  return ReplaceAllIn(s, oldText, newText, true);
}

std::string ReplaceChar(const std::string& s, char a, char b) {
  std::string r = s;
  if (a != b)
    for (char& c : r)
      if (c == a) c = b;
  return r;
}

std::string Dequote(const std::string& s, char q, bool force, bool once) {
  if (s.size() == 1 && s[0] == q) return std::string();
  if (s.size() < 2 || !(force || (s.front() == q && s.back() == q))) return s;
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == q && !(once && b == 1)) ++b;
  const std::size_t fullEnd = e;
  while (e > b && s[e - 1] == q && !(once && e + 1 == fullEnd)) --e;
  return s.substr(b, e - b);
}

std::string TrimDequote(const std::string& s, bool force) { return Dequote(Trim(s), '"', force, false); }

std::string ReverseText(const std::string& s) { return std::string(s.rbegin(), s.rend()); }

// ---- Searching ----

std::int64_t Pos(const std::string& sub, const std::string& s) {
  return sub.empty() ? 0 : ToPos(s.find(sub));
}

std::int64_t PosNoCase(const std::string& sub, const std::string& s) {
  return sub.empty() ? 0 : ToPos(Find(s, sub, 0, true));
}

std::int64_t LastPos(const std::string& sub, const std::string& s) {
  return sub.empty() ? 0 : ToPos(s.rfind(sub));
}

std::int64_t PosFromEndNoCase(const std::string& sub, const std::string& s) {
  return PosNoCase(ReverseText(sub), ReverseText(s));
}

std::int64_t PosFrom(const std::string& sub, const std::string& s, std::int64_t start, bool ignoreCase) {
  if (sub.empty()) return 0;
  if (start < 1) start = 1;
  if (static_cast<std::uint64_t>(start) > s.size()) return 0;
  return ToPos(Find(s, sub, static_cast<std::size_t>(start - 1), ignoreCase));
}

bool StartsWith(const std::string& prefix, const std::string& s, bool ignoreCase) {
  return !prefix.empty() && EqualAt(s, 0, prefix, ignoreCase);
}

bool EndsWith(const std::string& suffix, const std::string& s, bool ignoreCase) {
  return !suffix.empty() && s.size() >= suffix.size() && EqualAt(s, s.size() - suffix.size(), suffix, ignoreCase);
}

std::string TextBefore(const std::string& s, const std::string& sep, const std::string& def) {
  const std::size_t at = sep.empty() ? std::string::npos : s.find(sep);
  return at == std::string::npos ? def : s.substr(0, at);
}

std::string TextAfter(const std::string& s, const std::string& sep, const std::string& def) {
  const std::size_t at = sep.empty() ? std::string::npos : s.find(sep);
  return at == std::string::npos ? def : s.substr(at + sep.size());
}

// ---- Formatting ----

std::string IfThenText(bool flag, const std::string& a, const std::string& b) { return flag ? a : b; }

std::string BoolText(bool flag) { return flag ? "TRUE" : "FALSE"; }

std::string PadLeft(const std::string& s, std::int64_t width, char fill) {
  if (width <= 0 || s.size() >= static_cast<std::uint64_t>(width)) return s;
  return std::string(static_cast<std::size_t>(width) - s.size(), fill) + s;
}

std::string ZeroPad(const std::string& s, std::int64_t width) { return PadLeft(s, width, '0'); }

std::string ZeroPad(std::int64_t n, std::int64_t width) { return ZeroPad(IntText(n), width); }

std::string IntText(std::int64_t n) { return std::to_string(n); }

std::string ThousandsText(const std::string& digits) {
  std::size_t end = digits.find('.');
  if (end == std::string::npos) end = digits.size();
  // A sign is not a digit: "-123" stays "-123", not "-,123".
  const std::size_t first = (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) ? 1 : 0;
  std::string r = digits;
  for (std::size_t at = end; at > first + 3; at -= 3) r.insert(at - 3, 1, ',');
  return r;
}

std::string SizeText(std::int64_t value, std::int64_t unit, int decimals, bool thousands) {
  if (unit <= 0) unit = 1;
  std::string text;
  if (decimals >= 1) {
    text = value == 0 ? std::string("0.0") : FixedText(static_cast<double>(value) / static_cast<double>(unit), 1);
  } else {
    std::int64_t q = value / unit;
    if (value % unit > 0) ++q;
    text = IntText(q);
  }
  return thousands ? ThousandsText(text) : text;
}

std::string KBText(std::int64_t value, int decimals, bool thousands) {
  return SizeText(value, 1024, decimals, thousands);
}

std::string MBText(std::int64_t value, int decimals, bool thousands) {
  return SizeText(value, 1048576, decimals, thousands);
}

std::string FixedText(double x, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  if (!std::isfinite(x)) return std::isnan(x) ? "NAN" : (x > 0 ? "INF" : "-INF");
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%.*f", decimals, x);
  return n > 0 && static_cast<std::size_t>(n) < sizeof buffer ? std::string(buffer, static_cast<std::size_t>(n))
                                                               : std::string();
}

// ---- Numbers ----

bool TryTextToInt64(const std::string& s, std::int64_t& out) {
  const std::string t = Trim(s);
  std::size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i == t.size()) return false;
  std::uint64_t magnitude = 0;
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    const unsigned digit = static_cast<unsigned>(t[i] - '0');
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

std::int64_t TextToInt64(const std::string& s, std::int64_t def) {
  std::int64_t v;
  return TryTextToInt64(s, v) ? v : def;
}

std::int32_t TextToInt32(const std::string& s, std::int32_t def) {
  std::int64_t v;
  if (!TryTextToInt64(s, v) || v < std::numeric_limits<std::int32_t>::min() ||
      v > std::numeric_limits<std::int32_t>::max())
    return def;
  return static_cast<std::int32_t>(v);
}

std::int64_t BaseToInt(const std::string& s, int base) {
  static const std::string kDigits = "0123456789ABCDEF";
  const std::string t = UpperCase(Trim(s));
  // Unsigned arithmetic: long texts wrap around instead of overflowing.
  std::uint64_t result = 0;
  for (char c : t) {
    const std::size_t at = kDigits.find(c);
    const std::int64_t digit = at == std::string::npos ? -1 : static_cast<std::int64_t>(at);
    result = result * static_cast<std::uint64_t>(static_cast<std::int64_t>(base)) + static_cast<std::uint64_t>(digit);
  }
  return static_cast<std::int64_t>(result);
}

std::int64_t HexToInt(const std::string& s) {
  std::string t = Trim(s);
  if (StartsWith("0x", t, true)) t.erase(0, 2);
  return BaseToInt(t, 16);
}

std::string BytesToHex(const std::string& s, bool spaced, bool prefixed) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string r;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (prefixed) r += "0x";
    r += kHex[b >> 4];
    r += kHex[b & 15];
    if (spaced) {
      r += ' ';
      if ((i + 1) % 8 == 0) r += ' ';
    }
  }
  return r;
}

std::string HexToBytes(const std::string& s) {
  std::string r;
  r.reserve(s.size() / 2);
  for (std::size_t i = 0; i + 1 < s.size(); i += 2)
    r += static_cast<char>(static_cast<unsigned char>(HexToInt(s.substr(i, 2)) & 0xFF));
  return r;
}

namespace {
RandomSource randomSource = nullptr;
}  // namespace

RandomSource SetRandomSource(RandomSource source) { return std::exchange(randomSource, source); }

std::int64_t RandomInRange(std::int64_t low, std::int64_t high) {
  if (high <= low) return low;
  if (randomSource) return randomSource(low, high);
  static std::uint64_t calls = 0;
  std::seed_seq seed{static_cast<std::uint32_t>(plat::TickMs()), static_cast<std::uint32_t>(plat::TickMs() >> 32),
                     plat::ProcessId(), static_cast<std::uint32_t>(++calls)};
  std::mt19937_64 engine(seed);
  const std::uint64_t span = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
  std::uniform_int_distribution<std::uint64_t> pick(0, span);
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + pick(engine));
}

std::string RandomTextInRange(std::int64_t low, std::int64_t high) { return IntText(RandomInRange(low, high)); }

// ---- Dates ----

std::string DateText(const plat::LocalTime& t) {
  static const std::string kMonths = "||JAN|FEB|MAR|APR|MAY|JUN|JUL|AUG|SEP|OCT|NOV|DEC|";
  return TwoDigits(t.day) + "-" + SUB::GetField(kMonths, t.month) + "-" + ZeroPad(t.year, 4);
}

std::string DateTimeText(const plat::LocalTime& t, char timeSep) {
  const std::string sep(1, timeSep);
  return DateText(t) + " " + TwoDigits(t.hour) + sep + TwoDigits(t.minute) + sep + TwoDigits(t.second);
}

std::string DateTimeText(const plat::LocalTime& t) { return DateTimeText(t, plat::TimeSeparator()); }

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

namespace {
constexpr std::int64_t kEpochOffset = 25569;  // 1899-12-30 to 1970-01-01
}  // namespace

double LocalTimeToDays(const plat::LocalTime& t) {
  const double day = static_cast<double>(DaysFromCivil(t.year, t.month, t.day) + kEpochOffset);
  const double time = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / 86400000.0;
  // Before the epoch the fraction still counts forward from midnight.
  return day >= 0 ? day + time : day - time;
}

plat::LocalTime DaysToLocalTime(double days) {
  plat::LocalTime t;
  if (!std::isfinite(days) || std::fabs(days) > 2958466.0) return t;
  const double whole = std::trunc(days);
  std::int64_t ms = std::llround(std::fabs(days - whole) * 86400000.0);
  std::int64_t day = static_cast<std::int64_t>(whole);
  if (ms >= 86400000) {
    ms -= 86400000;
    day += days >= 0 ? 1 : -1;
  }
  CivilFromDays(day - kEpochOffset, t.year, t.month, t.day);
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  return t;
}

// ---- Paths ----

bool IsLeadByte(unsigned char c) { return plat::IsLeadByte(c); }

void SetLeadByteTest(LeadByteTest test) { plat::SetLeadByteTest(test); }

std::string SetTrailingBackslash(const std::string& path, bool add) {
  std::string r = path;
  if (r.size() >= 3 && EndsWithBackslash(r)) r.pop_back();
  if (add) r += '\\';
  return r;
}

std::string RemoveTrailingBackslash(const std::string& path) {
  if (path == "\\") return std::string();
  if (path.size() >= 2 && EndsWithBackslash(path)) return path.substr(0, path.size() - 1);
  return path;
}

std::string CollapseBackslashes(const std::string& path, bool removeTrailing) {
  const std::size_t length = path.size();
  if (length <= 2) return removeTrailing ? RemoveTrailingBackslash(path) : path;

  // The first character stays apart so that the "\\" of a UNC path survives.
  const char first = path[0];
  const char last = path[length - 1];
  const bool enclosed = first == last;
  std::string rest = path.substr(1);
  const auto leads = [](char c) { return IsLeadByte(static_cast<unsigned char>(c)); };

  // Pairs from the one before the last two characters down to the second;
  // i is the 0-based index of the pair's first character in rest.
  for (std::size_t i = length - 4; i >= 1 && i < length; --i) {
    if (rest[i] != '\\' || rest[i + 1] != '\\') continue;
    const char before = rest[i - 1];
    if (leads(before) || (enclosed && before == first)) continue;
    rest.erase(i, 1);
  }
  // Unlike the pairs above, the first pair is guarded by the character set
  // aside: it may lead a double-byte character whose second byte is "\".
  if (rest.size() >= 2 && rest[0] == '\\' && rest[1] == '\\' && !leads(first)) rest.erase(0, 1);

  std::string result = first + rest;
  return removeTrailing ? RemoveTrailingBackslash(result) : result;
}

std::string FileNamePart(const std::string& path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string FileDirPart(const std::string& path) {
  const std::size_t at = LastSeparator(path);
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string FileNameNoExt(const std::string& path, bool all) {
  const std::string name = FileNamePart(path);
  const std::size_t dot = all ? name.find('.') : name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// ---- Command line ----

std::string CmdLineArgsOf(const std::string& commandLine, const std::string& exePath) {
  const std::string name = FileNamePart(exePath);
  if (name.empty()) return Trim(commandLine);

  std::string rest;
  std::int64_t at = PosNoCase(name + "\"", commandLine);
  if (at > 0) {
    rest = commandLine.substr(static_cast<std::size_t>(at) + name.size());
  } else if ((at = PosNoCase(name, commandLine)) > 0) {
    rest = commandLine.substr(static_cast<std::size_t>(at - 1) + name.size());
  } else {
    rest = commandLine;
    if ((at = PosNoCase(exePath, rest)) > 0) rest.erase(static_cast<std::size_t>(at - 1), exePath.size());
    return Trim(rest);
  }
  rest = Trim(rest);
  return rest.size() == 1 ? std::string() : rest;
}

std::string SwitchListOf(const std::string& args, char switchChar, char delimiter) {
  std::string text = " " + args;
  std::erase(text, '"');
  const std::string d(1, delimiter);
  return d + ReplaceAll(text, std::string(" ") + switchChar, d) + d;
}

std::string GetSwitchIn(const std::string& args, const std::string& name, const std::string& def) {
  std::string key = Trim(name);
  if (key.empty()) return def;
  const char switchChar = key[0] == '-' ? '-' : '/';
  std::erase(key, switchChar);
  return Trim(SUB::GetValue(SwitchListOf(args, switchChar, '\x01'), key, def, ""));
}

std::int64_t GetSwitchIntIn(const std::string& args, const std::string& name, std::int64_t def) {
  return TextToInt64(GetSwitchIn(args, name, ""), def);
}

bool HasSwitchIn(const std::string& args, const std::string& name) {
  const std::string key = Trim(name);
  return !key.empty() && PosNoCase(key + " ", args + " ") > 0;
}

void SetProcessCommandLine(const std::string& commandLine, const std::string& exePath) {
  Context().commandLine = commandLine;
  Context().exePath = exePath;
  // The log lives beside the executable; diag sits below util and is told.
  SetLogExecutable(exePath);
}

const std::string& ProcessCommandLine() { return Context().commandLine; }

std::string GetCmdLineArgs() { return CmdLineArgsOf(Context().commandLine, Context().exePath); }

std::string GetSwitchList(char switchChar, char delimiter) {
  return SwitchListOf(GetCmdLineArgs(), switchChar, delimiter);
}

std::string GetSwitch(const std::string& name, const std::string& def) {
  return GetSwitchIn(GetCmdLineArgs(), name, def);
}

std::int64_t GetSwitchInt(const std::string& name, std::int64_t def) {
  return GetSwitchIntIn(GetCmdLineArgs(), name, def);
}

bool HasSwitch(const std::string& name) { return HasSwitchIn(GetCmdLineArgs(), name); }

std::string ExePath(bool bare) { return bare ? FileNameNoExt(Context().exePath, false) : Context().exePath; }

std::string ExeDir(bool add) { return SetTrailingBackslash(FileDirPart(Context().exePath), add); }

}  // namespace havrek
