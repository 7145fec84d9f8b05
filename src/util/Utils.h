// Texts, paths, dates, numbers and command-line switches of the portable core.
// Texts are 8-bit ANSI strings; positions count from 1 and 0 means "none";
// ignoring case folds a..z onto A..Z and nothing else.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace havrek {

// ---- Case, trimming, comparison ----
std::string UpperCase(const std::string& s);
std::string LowerCase(const std::string& s);
// Removes blanks and control characters (codes up to 32) at both ends.
std::string Trim(const std::string& s);
bool SameText(const std::string& a, const std::string& b);
bool SameTextTrim(const std::string& a, const std::string& b);

// ---- Replacing ----
// Inserted text is never searched again, so new may contain old.
std::string ReplaceAll(const std::string& s, const std::string& oldText, const std::string& newText);
std::string ReplaceAllNoCase(const std::string& s, const std::string& oldText, const std::string& newText);
std::string ReplaceChar(const std::string& s, char a, char b);
std::string Dequote(const std::string& s, char q, bool force, bool once);
std::string TrimDequote(const std::string& s, bool force);
std::string ReverseText(const std::string& s);

// ---- Searching (positions from 1, 0 = not found) ----
std::int64_t Pos(const std::string& sub, const std::string& s);
std::int64_t PosNoCase(const std::string& sub, const std::string& s);
std::int64_t LastPos(const std::string& sub, const std::string& s);
// 1 means that s ends with sub.
std::int64_t PosFromEndNoCase(const std::string& sub, const std::string& s);
std::int64_t PosFrom(const std::string& sub, const std::string& s, std::int64_t start, bool ignoreCase);
bool StartsWith(const std::string& prefix, const std::string& s, bool ignoreCase);
bool EndsWith(const std::string& suffix, const std::string& s, bool ignoreCase);
std::string TextBefore(const std::string& s, const std::string& sep, const std::string& def);
std::string TextAfter(const std::string& s, const std::string& sep, const std::string& def);

// ---- Formatting ----
std::string IfThenText(bool flag, const std::string& a, const std::string& b);
std::string BoolText(bool flag);  // "TRUE" / "FALSE"
std::string PadLeft(const std::string& s, std::int64_t width, char fill = ' ');
std::string ZeroPad(const std::string& s, std::int64_t width);
std::string ZeroPad(std::int64_t n, std::int64_t width);
std::string IntText(std::int64_t n);
std::string ThousandsText(const std::string& digits);
// value/unit: with decimals >= 1 one digit after the point, else rounded up.
std::string SizeText(std::int64_t value, std::int64_t unit, int decimals, bool thousands);
std::string KBText(std::int64_t value, int decimals = 0, bool thousands = false);
std::string MBText(std::int64_t value, int decimals = 0, bool thousands = false);
std::string FixedText(double x, int decimals);

// ---- Numbers ----
// Decimal text (blanks around allowed) to a number; false on anything else
// and on overflow.
bool TryTextToInt64(const std::string& s, std::int64_t& out);
std::int64_t TextToInt64(const std::string& s, std::int64_t def);
std::int32_t TextToInt32(const std::string& s, std::int32_t def);
// Digit values from "0123456789ABCDEF" (-1 for any other character) weighed
// by powers of base; no validation, as the stored formats expect.
std::int64_t BaseToInt(const std::string& s, int base);
std::int64_t HexToInt(const std::string& s);
std::string BytesToHex(const std::string& s, bool spaced, bool prefixed);
std::string HexToBytes(const std::string& s);
// 16 hex digits (FNV-1a, 64 bits) of the text with a..z folded to capitals:
// a short stand-in for a path in names that the system compares without
// case and bounds in length (window classes, kernel object names).
std::string NameDigest(const std::string& s);
// low + a random number from 0 to high - low (low when high <= low).
std::int64_t RandomInRange(std::int64_t low, std::int64_t high);
std::string RandomTextInRange(std::int64_t low, std::int64_t high);
// Replaces the source RandomInRange draws from (nullptr: the clock-seeded
// one) and returns the one before, so that tests can repeat a draw.
using RandomSource = std::int64_t (*)(std::int64_t low, std::int64_t high);
RandomSource SetRandomSource(RandomSource source);

// ---- Dates ----
// "05-MAR-2019"
std::string DateText(const plat::LocalTime& t);
// DateText, blank, "HH:NN:SS" with the locale's time separator.
std::string DateTimeText(const plat::LocalTime& t);
std::string DateTimeText(const plat::LocalTime& t, char timeSep);
// Days from 1970-01-01 of a proleptic Gregorian date (month 1..12), and back.
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d);
void CivilFromDays(std::int64_t days, int& y, int& m, int& d);
// Days since 1899-12-30 00:00, the fraction being the time of day.
double LocalTimeToDays(const plat::LocalTime& t);
// A zeroed LocalTime for values that are not finite or beyond year 9999.
plat::LocalTime DaysToLocalTime(double days);

// ---- Paths ----
// True when the byte leads a double-byte character of the system code page
// (the seam's test: natively always false, the Win32 shell installs its own).
bool IsLeadByte(unsigned char c);
using LeadByteTest = plat::LeadByteTest;
void SetLeadByteTest(LeadByteTest test);

std::string SetTrailingBackslash(const std::string& path, bool add);
std::string RemoveTrailingBackslash(const std::string& path);
std::string CollapseBackslashes(const std::string& path, bool removeTrailing);
// The part after the last "\", "/" or ":".
std::string FileNamePart(const std::string& path);
// The part up to and including the last "\", "/" or ":".
std::string FileDirPart(const std::string& path);
std::string FileNameNoExt(const std::string& path, bool all);

// ---- Command line ----
// Pure forms over an explicit command line.
std::string CmdLineArgsOf(const std::string& commandLine, const std::string& exePath);
std::string SwitchListOf(const std::string& args, char switchChar, char delimiter);
std::string GetSwitchIn(const std::string& args, const std::string& name, const std::string& def);
std::int64_t GetSwitchIntIn(const std::string& args, const std::string& name, std::int64_t def);
bool HasSwitchIn(const std::string& args, const std::string& name);

// The process-wide command line and executable path the forms below read;
// filled at start-up (InitProcessCommandLine on Windows) or directly.
void SetProcessCommandLine(const std::string& commandLine, const std::string& exePath);
const std::string& ProcessCommandLine();

std::string GetCmdLineArgs();
std::string GetSwitchList(char switchChar, char delimiter);
std::string GetSwitch(const std::string& name, const std::string& def);
std::int64_t GetSwitchInt(const std::string& name, std::int64_t def);
bool HasSwitch(const std::string& name);
// Full path of the running executable; with bare, its name without extension.
std::string ExePath(bool bare = false);
std::string ExeDir(bool add = true);

}  // namespace havrek
