// offer, sign-offer and verify-offer: the .info file the update agent probes,
// written, signed and checked on the build machine.
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Keys.h"
#include "agent/OfferCheck.h"
#include "agent/OfferKeys.h"
#include "agent/SignedOffer.h"
#include "package/PackOutputs.h"
#include "platform/Platform.h"
#include "util/Utils.h"

namespace havrek::pack {
namespace {

struct FileFacts {
  std::string path;
  std::int64_t size = 0;
  std::string sha256;  // lower-case hexadecimal
};

FileFacts Facts(const std::string& path, const std::string& option) {
  std::string error;
  if (!CheckInputFile(path, error)) throw ToolFailure{"cannot read " + path + " (" + option + "): " + error};
  const plat::File in(path, plat::OpenMode::Read);
  if (!in) throw ToolFailure{"cannot read " + path + " (" + option + ")"};
  FileFacts f{path, 0, ""};
  plat::Sha256 hash;
  std::string buffer(1 << 16, '\0');
  for (std::int64_t got; (got = in.read(buffer.data(), static_cast<std::int64_t>(buffer.size()))) != 0;) {
    if (got < 0) throw ToolFailure{"cannot read " + path + " (" + option + ")"};
    hash.update(buffer.data(), got);
    f.size += got;
  }
  unsigned char digest[plat::kSha256Size];
  if (!hash.final(digest)) throw ToolFailure{"cannot take the SHA-256 of " + path};
  f.sha256 = LowerHex(std::string(reinterpret_cast<const char*>(digest), sizeof digest));
  return f;
}

std::string ReadOffer(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) > kMaxOfferSize)
    throw ToolFailure{path + ": larger than " + std::to_string(kMaxOfferSize) + " bytes, more than an agent fetches"};
  std::string text, error;
  if (!ReadWholeFile(path, text, error)) throw ToolFailure{error};
  return text;
}

// The value an offer gives key, as the agent reads it (the first of two).
std::string OfferValue(const std::vector<OfferEntry>& entries, const char* section, const char* key, bool& present) {
  for (const OfferEntry& e : entries)
    if (SameText(e.section, section) && SameText(e.key, key)) return present = true, e.value;
  return present = false, std::string();
}

bool IsInformOffer(const std::vector<OfferEntry>& entries) {
  bool present;
  std::int64_t n = 0;
  return TryTextToInt64(OfferValue(entries, "General", "AutoInform", present), n) && n == 1;
}

// What the offer says of the file the agent fetches, against that file: its
// size and digest, and its name as a note.
void CheckAgainstFile(const std::string& text, const FileFacts& file, std::vector<std::string>& mismatches,
                      std::vector<std::string>& notes) {
  const std::vector<OfferEntry> entries = ReadOfferEntries(text);
  const bool inform = IsInformOffer(entries);
  const char* section = inform ? "AutoInform" : "NewSetup";
  const char* nameKey = inform ? "NameOfInformFile" : "NameOfUpdateFile";
  const char* sizeKey = inform ? "SizeOfInformFile" : "SizeOfUpdateFile";
  const char* hashKey = inform ? "SHA256OfInformFile" : "SHA256OfUpdateFile";
  const std::string where = std::string("[") + section + "] ";
  bool present;
  const std::string size = OfferValue(entries, section, sizeKey, present);
  std::int64_t n = -1;
  if (!TryTextToInt64(size, n) || n != file.size)
    mismatches.push_back(where + sizeKey + "=\"" + size + "\" is not the size of " + file.path + " (" +
                         std::to_string(file.size) + ")");
  const std::string hash = OfferValue(entries, section, hashKey, present);
  std::string digest;
  if (!present || hash.empty())
    mismatches.push_back(where + hashKey + " is missing: the agent cannot check " + file.path);
  else if (!ParseSha256Hex(hash, digest) || LowerHex(digest) != file.sha256)
    mismatches.push_back(where + hashKey + " is not the SHA-256 of " + file.path + " (" + file.sha256 + ")");
  const std::string name = OfferValue(entries, section, nameKey, present);
  if (!SameText(name, FileNamePart(file.path)))
    notes.push_back(where + nameKey + "=\"" + name + "\" is not the name of " + file.path +
                    " (the agent fetches the file by that name)");
}

// Advice on an offer: what the agent would not understand, and an expiry
// already past.
std::vector<std::string> OfferAdvice(const std::string& text, std::int64_t now) {
  std::vector<std::string> advice = OfferFindings(text, true);
  bool present;
  std::int64_t expires = 0;
  const std::string value = OfferValue(ReadOfferEntries(text), "NewSetup", "OfferExpires", present);
  if (ParseUtcTime(value, expires) && expires <= now)
    advice.push_back("[NewSetup] OfferExpires=" + value + " has passed: agents refuse the offer");
  return advice;
}

// Warnings, or with strict errors that stop the command: true when it may go on.
bool Report(const std::string& path, const std::vector<std::string>& findings, bool strict) {
  for (const std::string& f : findings)
    std::cerr << "havrek-pack: " << (strict ? "error: " : "warning: ") << path << ": " << f << "\n";
  return !strict || findings.empty();
}

// Now, or SOURCE_DATE_EPOCH for a build that gives the same bytes again.
std::int64_t SigningTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  // Set but empty, as CI systems export it, is unset.
  if (!epoch || !*epoch) return static_cast<std::int64_t>(std::time(nullptr));
  const std::string text = epoch;
  std::int64_t seconds = 0;
  if (text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos ||
      !TryTextToInt64(text, seconds) || seconds > 253402300799)  // 9999-12-31T23:59:59Z
    throw UsageError{"SOURCE_DATE_EPOCH: \"" + text + "\" is not a number of seconds since 1970"};
  return seconds;
}

// The offer with its two signature lines; checked against the key before
// it leaves the tool.
std::string Sign(const std::string& unsignedText, const Key& key, const std::string& keyPath) {
  const std::string body = unsignedText + SignedLine(SigningTime(), KeyId(key));
  const std::string der = SignBytes(key, body);
  if (der.empty() || !VerifyBytes(key, body, der)) throw ToolFailure{"cannot sign with " + keyPath};
  return body + SignatureLine(der);
}

// An offer the agent would cut short is not written.
void CheckOfferSize(const std::string& path, const std::string& text) {
  if (text.size() > kMaxOfferSize)
    throw ToolFailure{path + " not written: " + std::to_string(text.size()) + " bytes, more than the " +
                      std::to_string(kMaxOfferSize) + " an agent fetches"};
}

// A value written into one line of the offer.
std::string LineValue(const std::string& option, const std::string& value) {
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
    throw UsageError{option + ": a value of one line, without CR, LF or NUL"};
  return value;
}

std::string Number(const std::string& option, const std::string& value) {
  std::int64_t n = 0;
  if (value.empty() || value.find_first_not_of("-0123456789") != std::string::npos || !TryTextToInt64(value, n) ||
      n < INT32_MIN || n > INT32_MAX)
    throw UsageError{option + ": \"" + value + "\" is not a whole number"};
  return value;
}

struct Setting {
  std::string section;
  std::string key;
  std::string value;
};

// --set [SECTION/]KEY=VALUE; a KEY of the table finds its own section.
Setting ParseSet(const std::string& text, bool inform) {
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError{"--set: \"" + text + "\" is not KEY=VALUE"};
  Setting s;
  std::string name = text.substr(0, eq);
  s.value = LineValue("--set " + name, text.substr(eq + 1));
  if (const std::size_t slash = name.find('/'); slash != std::string::npos) {
    s.section = name.substr(0, slash);
    name = name.substr(slash + 1);
  }
  if (name.empty() || s.section.find_first_of("[]") != std::string::npos ||
      name.find_first_of("[];") != std::string::npos || Trim(name) != name || Trim(s.section) != s.section)
    throw UsageError{"--set: \"" + text + "\" is not [SECTION/]KEY=VALUE"};
  s.key = name;
  if (s.section.empty()) {
    const OfferKey* known = nullptr;
    for (const OfferKey& k : OfferKeys())
      if (SameText(k.key, name)) known = &k;
    s.section = known ? known->section : inform ? "AutoInform" : "NewSetup";
    if (known) s.key = known->key;
  }
  return s;
}

}  // namespace

int MakeOffer(Args& args) {
  std::string out, version, stamp, url, package, inform, informUrl, expires, keyPath, name;
  bool haveStamp = false, haveInformUrl = false, strict = false;
  std::vector<std::string> sets;
  while (args.Next(name)) {
    if (name == "--out") out = args.PathValue(name);
    else if (name == "--version") version = Number(name, args.Value(name));
    else if (name == "--stamp") stamp = Number(name, args.Value(name)), haveStamp = true;
    else if (name == "--url") url = LineValue(name, args.Value(name));
    else if (name == "--package") package = args.PathValue(name);
    else if (name == "--inform") inform = args.PathValue(name);
    else if (name == "--inform-url") informUrl = LineValue(name, args.Value(name)), haveInformUrl = true;
    else if (name == "--set") sets.push_back(args.Value(name));
    else if (name == "--expires") expires = args.Value(name);
    else if (name == "--key") keyPath = args.PathValue(name);
    else if (name == "--strict") args.NoValue(name), strict = true;
    else throw UsageError{"unknown offer option \"" + name + "\""};
  }
  if (out.empty() || version.empty() || url.empty())
    throw UsageError{"offer needs --out, --version, --url and --package or --inform"};
  if (package.empty() == inform.empty())
    throw UsageError{"offer needs one of --package (an update) and --inform (an information page)"};
  if (haveInformUrl && inform.empty()) throw UsageError{"--inform-url needs --inform"};
  std::int64_t expiresAt = 0;
  if (!expires.empty() && !ParseUtcTime(expires, expiresAt))
    throw UsageError{"--expires: \"" + expires + "\" is no UTC time YYYY-MM-DDTHH:MM:SSZ"};
  const bool isInform = !inform.empty();

  // Keys the options write; a --set of one would give the offer two values.
  const std::vector<std::pair<const char*, const char*>> written = {
      {"VersionNew", "--version"},         {"Stamp", "--stamp"},
      {"DownloadURL_UPDATE", "--url"},     {"NameOfUpdateFile", "--package"},
      {"SizeOfUpdateFile", "--package"},   {"SHA256OfUpdateFile", "--package"},
      {"OfferExpires", "--expires"},       {"AutoInform", "--inform"},
      {"NameOfInformFile", "--inform"},    {"SizeOfInformFile", "--inform"},
      {"SHA256OfInformFile", "--inform"},  {"DownloadURL_INFORM", "--inform-url"}};
  std::vector<Setting> settings;
  for (const std::string& text : sets) {
    Setting s = ParseSet(text, isInform);
    for (const auto& [key, option] : written)
      if (SameText(s.key, key) && FindOfferKey(s.section, key))
        throw UsageError{"--set " + s.key + ": written from " + option};
    for (const Setting& other : settings)
      if (SameText(other.section, s.section) && SameText(other.key, s.key))
        throw UsageError{"--set " + s.key + " is given twice"};
    settings.push_back(std::move(s));
  }

  CheckOutputFolder("--out", out);
  Key key;
  std::string error;
  if (!keyPath.empty() && !LoadPrivateKey(keyPath, key, error)) return Failure(error);
  const FileFacts file = Facts(isInform ? inform : package, isInform ? "--inform" : "--package");
  const std::string fileName = FileNamePart(file.path);
  if (fileName.find_first_of("\r\n") != std::string::npos)
    return Failure(file.path + ": a file name of more than one line");

  // The sections in the order the agent's examples write them.
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> sections;
  auto add = [&](const std::string& section, const std::string& k, const std::string& v) {
    for (auto& [name, lines] : sections)
      if (SameText(name, section)) return lines.emplace_back(k, v), void();
    sections.push_back({section, {{k, v}}});
  };
  if (isInform) add("General", "AutoInform", "1");
  add("NewSetup", "VersionNew", version);
  if (haveStamp) add("NewSetup", "Stamp", stamp);
  add("NewSetup", "DownloadURL_UPDATE", url);
  if (!isInform) {
    add("NewSetup", "NameOfUpdateFile", fileName);
    add("NewSetup", "SizeOfUpdateFile", std::to_string(file.size));
    add("NewSetup", "SHA256OfUpdateFile", file.sha256);
  }
  if (!expires.empty()) add("NewSetup", "OfferExpires", expires);
  if (isInform) {
    add("AutoInform", "NameOfInformFile", fileName);
    add("AutoInform", "SizeOfInformFile", std::to_string(file.size));
    add("AutoInform", "SHA256OfInformFile", file.sha256);
    if (haveInformUrl) add("AutoInform", "DownloadURL_INFORM", informUrl);
  }
  for (const Setting& s : settings) add(s.section, s.key, s.value);
  std::string text;
  for (const auto& [section, lines] : sections) {
    text += "[" + section + "]\r\n";
    for (const auto& [k, v] : lines) text += k + "=" + v + "\r\n";
  }

  std::vector<std::string> mismatches, notes;
  CheckAgainstFile(text, file, mismatches, notes);
  std::vector<std::string> findings = OfferAdvice(text, static_cast<std::int64_t>(std::time(nullptr)));
  findings.insert(findings.end(), mismatches.begin(), mismatches.end());
  if (!Report(out, findings, strict)) return Failure(out + " not written: the offer has the errors above");
  if (key) text = Sign(text, key, keyPath);
  CheckOfferSize(out, text);
  std::vector<std::string> inputs = {file.path};
  if (!keyPath.empty()) inputs.push_back(keyPath);
  if (!WriteWholeFile(out, text, inputs, error)) return Failure(error);
  std::cout << "wrote " << out << (key ? " (signed, key " + KeyId(key) + ")" : std::string()) << "\n";
  return 0;
}

namespace {

// What sign-offer and verify-offer are given: a key file, the offer, and
// optionally the package it announces and --strict.
struct OfferFileArgs {
  std::string keyPath, path, package;
  bool strict = false;
};

OfferFileArgs ReadOfferFileArgs(Args& args, const std::string& command, const std::string& keyOption,
                                const std::string& keyFile) {
  OfferFileArgs o;
  std::string name;
  while (args.Next(name)) {
    if (name == keyOption) o.keyPath = args.PathValue(name);
    else if (name == "--package") o.package = args.PathValue(name);
    else if (name == "--strict") args.NoValue(name), o.strict = true;
    else if (name.starts_with("--")) throw UsageError{"unknown " + command + " option \"" + name + "\""};
    else if (!o.path.empty()) throw UsageError{command + " takes one offer"};
    else o.path = args.PathOf(name);
  }
  if (o.keyPath.empty() || o.path.empty())
    throw UsageError{command + " needs " + keyOption + " " + keyFile + " and the offer"};
  return o;
}

}  // namespace

int SignOffer(Args& args) {
  const OfferFileArgs o = ReadOfferFileArgs(args, "sign-offer", "--key", "NAME.key");
  const std::string &keyPath = o.keyPath, &path = o.path, &package = o.package;
  const bool strict = o.strict;
  Key key;
  std::string error;
  if (!LoadPrivateKey(keyPath, key, error)) return Failure(error);
  const std::string text = UnsignedOffer(ReadOffer(path));
  std::vector<std::string> findings = OfferAdvice(text, static_cast<std::int64_t>(std::time(nullptr)));
  std::vector<std::string> inputs = {keyPath};
  if (!package.empty()) {
    std::vector<std::string> notes;
    CheckAgainstFile(text, Facts(package, "--package"), findings, notes);
    findings.insert(findings.end(), notes.begin(), notes.end());
    inputs.push_back(package);
  }
  if (!Report(path, findings, strict)) return Failure(path + " not signed: the offer has the errors above");
  const std::string signedText = Sign(text, key, keyPath);
  CheckOfferSize(path, signedText);
  // A signature line left inside the offer would make it unreadable to the agent.
  OfferSignature parts;
  if (!SplitSignedOffer(signedText, parts, error)) return Failure(path + " not signed: " + error);
  if (!WriteWholeFile(path, signedText, inputs, error)) return Failure(error);
  std::cout << "signed " << path << " with key " << parts.keyId << " at " << UtcTimeText(parts.signedAt) << "\n";
  return 0;
}

int VerifyOffer(Args& args) {
  const OfferFileArgs o = ReadOfferFileArgs(args, "verify-offer", "--pub", "NAME.pub");
  const std::string &pubPath = o.keyPath, &path = o.path, &package = o.package;
  const bool strict = o.strict;
  Key key;
  std::string error;
  if (!LoadPublicKey(pubPath, key, error)) return Failure(error);
  const std::string text = ReadOffer(path);
  OfferSignature parts;
  if (!SplitSignedOffer(text, parts, error)) return Failure(path + ": " + error);
  const std::string keyId = KeyId(key);
  if (parts.keyId != keyId)
    return Failure(path + ": signed with key " + parts.keyId + ", not with " + pubPath + " (key " + keyId + ")");
  if (!VerifyBytes(key, parts.signedBytes, parts.der))
    return Failure(path + ": bad signature: the offer was changed after it was signed");
  std::vector<std::string> findings = OfferAdvice(text, static_cast<std::int64_t>(std::time(nullptr)));
  std::vector<std::string> mismatches;
  if (!package.empty()) {
    std::vector<std::string> notes;
    CheckAgainstFile(text, Facts(package, "--package"), mismatches, notes);
    findings.insert(findings.end(), notes.begin(), notes.end());
  }
  const bool adviceOk = Report(path, findings, strict);
  Report(path, mismatches, true);
  if (!mismatches.empty()) return Failure(path + ": the offer does not describe " + package);
  if (!adviceOk) return Failure(path + ": the offer has the errors above");
  std::cout << path << ": good signature, key " << parts.keyId << ", signed " << UtcTimeText(parts.signedAt)
            << (package.empty() ? std::string() : ", describes " + package) << "\n";
  return 0;
}

}  // namespace havrek::pack
