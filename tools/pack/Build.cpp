#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Commands.h"
#include "Keys.h"
#include "Progress.h"
#include "Tree.h"
#include "files/Files.h"
#include "package/PackOutputs.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/Signature.h"
#include "package/TokenCodec.h"
#include "platform/Platform.h"
#include "util/Utils.h"

namespace havrek::pack {

namespace {

constexpr std::int64_t kMaxSpace = 0xFFFFFFFF;

std::int64_t ParseSize(const std::string& name, const std::string& text) {
  std::string digits = text;
  std::int64_t unit = 1;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'k': case 'K': unit = 1LL << 10; break;
      case 'm': case 'M': unit = 1LL << 20; break;
      case 'g': case 'G': unit = 1LL << 30; break;
      default: break;
    }
    if (unit != 1) digits.pop_back();
  }
  std::int64_t value = 0;
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
      !TryTextToInt64(digits, value) || value > INT64_MAX / unit)
    throw UsageError{name + ": \"" + text + "\" is not a size"};
  return value * unit;
}

std::uint32_t ParseDate(const std::string& text) {
  std::int64_t number = 0;
  if (text.find_first_not_of("0123456789") == std::string::npos && TryTextToInt64(text, number) &&
      number > 0 && number <= 0xFFFFFFFF)
    return static_cast<std::uint32_t>(number);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char tail = 0;
  const int got = std::sscanf(text.c_str(), "%4d-%2d-%2d%*1[T ]%2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if ((got != 3 && got != 5 && got != 6) || y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 ||
      h > 23 || mi > 59 || s > 59 || (got == 3 && text.size() != 10))
    throw UsageError{"--date: \"" + text + "\" is neither YYYY-MM-DD[THH:MM[:SS]] nor a DOS date-time"};
  return (static_cast<std::uint32_t>(y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s / 2);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
  if (!CheckInputFile(path, error)) return (error = "cannot read " + path + ": " + error), false;
  error = "cannot read " + path;
  const plat::File in(path, plat::OpenMode::Read);
  if (!in) return false;
  // ReadFileText answers empty for a file it cannot hold or read as well:
  // only a file of no bytes may come back empty.
  bytes = ReadFileText(path);
  return !bytes.empty() || in.size() == 0;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, const std::vector<std::string>& inputs,
                    std::string& error) {
  OutputSet outputs(inputs);
  const std::string temp = outputs.Stage(path, error);
  if (temp.empty()) return false;
  {
    plat::File out(temp, plat::OpenMode::Write);
    if (!out || !out.writeAll(bytes.data(), static_cast<std::int64_t>(bytes.size())))
      return (error = "cannot write " + path), false;
  }
  return outputs.Commit(error);
}

void CheckOutputFolder(const std::string& option, const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
    throw ToolFailure{"cannot write " + path + ": " +
                      (std::filesystem::exists(folder, ec) ? "not a folder: " : "no such folder: ") +
                      folder.string() + " (" + option + ")"};
}

namespace {

// Output names the stub reads from a package: a file name it joins to a
// folder or a URL, never a path.
std::string PlainFileName(const std::string& option, const std::string& value) {
  std::string error;
  if (!CheckPlainFileName(value, error))
    throw UsageError{option + ": \"" + value + "\" is not a plain file name (" + error + ")"};
  return value;
}

// SRC[=TARGET], SRC relative to the argument file it came from.
PackFile FileArg(Args& args, const std::string& name, bool run, bool* targetGiven = nullptr) {
  const std::string value = args.Value(name);
  PackFile f;
  const auto eq = value.find('=');
  if (targetGiven) *targetGiven = eq != std::string::npos;
  f.source = value.substr(0, eq);
  if (f.source.empty()) throw UsageError{name + " needs a source path"};
  f.target = eq == std::string::npos ? FileNamePart(f.source) : value.substr(eq + 1);
  f.source = args.PathOf(f.source);
  f.run = run;
  return f;
}

FolderSource DirArg(Args& args, const std::string& name) {
  const std::string value = args.Value(name);
  const auto eq = value.find('=');
  FolderSource t;
  t.source = value.substr(0, eq);
  if (t.source.empty()) throw UsageError{name + " needs a source folder"};
  t.source = args.PathOf(t.source);
  if (eq != std::string::npos) t.target = value.substr(eq + 1);
  return t;
}

// An output goes into a folder that is there: the writer's own message
// would name only its temporary file.
// A target as the writer compares them for duplicates.
std::string TargetKey(const std::string& target) {
  std::string normalized, error;
  return UpperCase(NormalizeTargetName(target, normalized, error) ? normalized : target);
}

}  // namespace

int Build(Args& args) {
  PackOptions o;
  bool internetRecord = false, spanFlag = false;
  std::string runArgs, languageFile;
  bool haveRunArgs = false, runTargetGiven = false;
  // --file and --dir in the order given; a folder's files are listed once
  // every --exclude is known.
  std::vector<std::pair<PackFile, std::optional<FolderSource>>> sources;
  std::vector<std::string> excludes;
  std::vector<P256Point> updateKeys;
  std::string inetSha256, sizeOfSha256, sizeOfPath;
  std::string name;
  while (args.Next(name)) {
    auto flag = [&](const char* n) {
      if (name != n) return false;
      args.NoValue(name);
      return true;
    };
    if (name == "--stub") o.stubPath = args.PathValue(name);
    else if (name == "--out") o.outPath = args.PathValue(name);
    else if (name == "--file") sources.push_back({FileArg(args, name, false), std::nullopt});
    else if (name == "--run") sources.push_back({FileArg(args, name, true, &runTargetGiven), std::nullopt});
    else if (name == "--dir") sources.push_back({PackFile{}, DirArg(args, name)});
    else if (name == "--exclude") {
      excludes.push_back(args.Value(name));
      if (excludes.back().empty()) throw UsageError{"--exclude needs a pattern"};
    } else if (name == "--run-args") runArgs = args.Value(name), haveRunArgs = true;
    else if (name == "--language") languageFile = args.PathValue(name);
    else if (name == "--date") o.fixedDate = ParseDate(args.Value(name));
    else if (flag("--always-confirm")) o.headerFlags |= hfAlwaysConfirm;
    else if (flag("--span")) spanFlag = true;
    else if (flag("--activity-bar")) o.headerFlags |= hfActivityBar;
    else if (flag("--log")) o.headerFlags |= hfLogFile;
    else if (flag("--internet-setup")) o.internetSetup = internetRecord = true;
    else if (flag("--confirm-download")) o.confirmDownload = true;
    else if (flag("--has-agent")) o.hasAgent = true;
    else if (flag("--auto-update")) o.autoUpdate = true;
    else if (name == "--info-base") o.update.infoBase = args.Value(name);
    else if (name == "--info-name") o.update.infoName = PlainFileName(name, args.Value(name));
    else if (name == "--agent") o.update.agentFileName = PlainFileName(name, args.Value(name));
    else if (name == "--update-token") {
      o.update.token = EncodeToken(args.Value(name));
      if (o.update.token.empty()) throw UsageError{"--update-token must not be empty"};
    } else if (name == "--update-token-raw") o.update.token = args.Value(name);
    else if (flag("--silent")) o.update.silent = true;
    else if (name == "--update-key") {
      const std::string path = args.PathValue(name);
      P256Point point{};
      std::string error;
      if (!CheckInputFile(path, error)) return Failure("cannot open " + path + ": " + error);
      if (!ReadPublicKeyFile(path, point, error)) throw UsageError{"--update-key " + error};
      if (std::find(updateKeys.begin(), updateKeys.end(), point) != updateKeys.end())
        throw UsageError{"--update-key " + path + ": key " + havrek::KeyId(point) + " is given twice"};
      if (updateKeys.size() == kMaxUpdateKeys)
        throw UsageError{"--update-key " + path + ": a package carries at most " + std::to_string(kMaxUpdateKeys) +
                         " update keys"};
      updateKeys.push_back(point);
      o.otherInputs.push_back(path);
    }
    else if (name == "--inet-base") o.internet.baseUrl = args.Value(name), internetRecord = true;
    else if (name == "--inet-file") o.internet.fileName = PlainFileName(name, args.Value(name)), internetRecord = true;
    else if (flag("--inet-always")) o.internet.alwaysDownload = internetRecord = true;
    else if (name == "--inet-token") {
      o.internet.token = EncodeToken(args.Value(name));
      if (o.internet.token.empty()) throw UsageError{"--inet-token must not be empty"};
      internetRecord = true;
    } else if (name == "--inet-token-raw") o.internet.token = args.Value(name), internetRecord = true;
    else if (name == "--inet-size") {
      o.internet.sizeText = std::to_string(ParseSize(name, args.Value(name)));
      internetRecord = true;
    } else if (name == "--inet-size-of") {
      const std::string path = args.PathValue(name);
      std::string error;
      if (!CheckInputFile(path, error)) return Failure("cannot open " + path + ": " + error);
      plat::File in(path, plat::OpenMode::Read);
      if (!in || in.size() < 0) return Failure("cannot open " + path);
      o.internet.sizeText = std::to_string(in.size());
      in.reset();
      Sha256Digest digest{};
      if (!FileSha256(path, digest)) return Failure("cannot read " + path);
      sizeOfSha256 = HexText(digest);
      sizeOfPath = path;
      o.otherInputs.push_back(path);
      internetRecord = true;
    } else if (name == "--inet-sha256") {
      inetSha256 = args.Value(name);
      Sha256Digest digest{};
      if (!ParseHex(inetSha256, digest.data(), digest.size()))
        throw UsageError{"--inet-sha256: \"" + inetSha256 + "\" is not 64 hex digits"};
      inetSha256 = HexText(digest);
      internetRecord = true;
    } else if (name == "--level") {
      const std::string v = args.Value(name);
      if (v.size() != 1 || v[0] < '0' || v[0] > '9') throw UsageError{"--level must be 0 to 9"};
      o.level = v[0] - '0';
    } else if (name == "--split-size") o.splitSize = ParseSize(name, args.Value(name));
    else if (name == "--disk-size") o.diskSize = ParseSize(name, args.Value(name)), spanFlag = true;
    else if (name == "--extra-space") {
      const std::string v = args.Value(name);
      o.extraSpace = ParseSize(name, v);
      // The space table holds 32-bit byte counts: more would silently count as 4G.
      if (o.extraSpace > kMaxSpace)
        throw UsageError{name + ": \"" + v + "\" is past the space table's field: at most " +
                         std::to_string(kMaxSpace) + " bytes (4G less one byte)"};
    }
    else if (flag("--no-build-length")) o.writeBuildLength = false;
    else if (name == "--jobs") {
      const std::string v = args.Value(name);
      std::int64_t n = 0;
      if (v.find_first_not_of("0123456789") != std::string::npos || !TryTextToInt64(v, n) || n < 1 || n > MaxJobs)
        throw UsageError{"--jobs must be 1 to " + std::to_string(MaxJobs)};
      o.jobs = static_cast<int>(n);
    }
    else throw UsageError{"unknown build option \"" + name + "\""};
  }
  if (o.stubPath.empty()) throw UsageError{"build needs --stub"};
  if (o.outPath.empty()) throw UsageError{"build needs --out"};
  CheckOutputFolder("--out", o.outPath);
  std::vector<std::string> warnings;
  std::vector<bool> fromDir;
  for (auto& [file, tree] : sources) {
    if (!tree) {
      o.files.push_back(std::move(file));
    } else if (std::string error; !CollectTree(*tree, excludes, o.files, warnings, error)) {
      return Failure(error);
    }
    fromDir.resize(o.files.size(), tree.has_value());
  }
  // A missing source is named before its target can clash with another:
  // "--run app/engine.exe" beside a folder's Engine.exe is a misspelling.
  for (std::size_t i = 0; i < o.files.size(); ++i)
    if (std::string error; !fromDir[i] && !CheckInputFile(o.files[i].source, error))
      return Failure("cannot open " + o.files[i].source + ": " + error);
  // "--dir app --run app/Engine.exe" marks the folder's own entry instead of
  // adding the file twice, away from the files it goes with.
  for (std::size_t i = 0; i < o.files.size(); ++i) {
    if (!o.files[i].run || fromDir[i]) continue;
    const std::string key = TargetKey(o.files[i].target);
    for (std::size_t j = 0; j < o.files.size(); ++j) {
      std::error_code ec;
      if (!fromDir[j] || !std::filesystem::equivalent(o.files[j].source, o.files[i].source, ec)) continue;
      if (runTargetGiven && TargetKey(o.files[j].target) != key)
        return Failure("--run " + o.files[i].source + " as " + o.files[i].target + ": a --dir adds that file as " +
                       o.files[j].target + " already; give that target or none to mark it");
      o.files[j].run = true;
      o.files.erase(o.files.begin() + static_cast<std::ptrdiff_t>(i));
      fromDir.erase(fromDir.begin() + static_cast<std::ptrdiff_t>(i));
      --i;
      break;
    }
  }
  if (!o.files.empty() && std::none_of(o.files.begin(), o.files.end(), [](const PackFile& f) { return f.run; }))
    warnings.push_back("no --run: the setup extracts its files and starts nothing (test reports it)");
  for (const std::string& warning : warnings) std::cerr << "havrek-pack: warning: " << warning << "\n";
  if (haveRunArgs) {
    PackFile* run = nullptr;
    for (PackFile& f : o.files)
      if (f.run) run = &f;
    if (!run) throw UsageError{"--run-args needs --run"};
    run->runArgs = runArgs;
  }
  if (!inetSha256.empty() && !sizeOfSha256.empty() && inetSha256 != sizeOfSha256)
    throw UsageError{"--inet-sha256 " + inetSha256 + " is not the SHA-256 of --inet-size-of " + sizeOfPath + " (" +
                     sizeOfSha256 + ")"};
  o.internet.sha256 = inetSha256.empty() ? sizeOfSha256 : inetSha256;
  o.update.keys = UpdateKeysText(updateKeys);
  if ((o.autoUpdate || o.hasAgent) && updateKeys.empty())
    std::cerr << "havrek-pack: warning: " << (o.autoUpdate ? "--auto-update" : "--has-agent")
              << " without --update-key: the agent's updates will not be authenticated\n";
  if (spanFlag) o.headerFlags |= hfSpan;
  o.withInternetRecord = internetRecord;
  // Set but empty, as CI systems export it, is unset.
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch && o.fixedDate == 0) {
    std::string error;
    if (!DosDateFromEpoch(epoch, o.fixedDate, error)) throw UsageError{"SOURCE_DATE_EPOCH: " + error};
  }

  if (!languageFile.empty()) {
    std::string text, error;
    if (!ReadWholeFile(languageFile, text, error)) return Failure(error);
    if (!LanguageBlockFromText(text, o.languageBlock, error)) return Failure(languageFile + ": " + error);
    o.otherInputs.push_back(languageFile);
  }

  ProgressLine progress;
  o.progress = progress.Callback();
  const PackResult r = WritePackage(o);
  progress.End();
  if (!r.ok) return Failure(r.error);
  std::cout << "wrote";
  for (const std::string& path : r.written) std::cout << ' ' << path;
  std::cout << " (" << r.entries << " entries)\n";
  for (const std::string& path : r.removed) std::cout << "removed " << path << " (a disk file of an earlier build)\n";
  for (const std::string& warning : r.warnings) std::cerr << "havrek-pack: " << warning << "\n";
  return 0;
}

int InfoPage(Args& args) {
  std::string out, token, text, textFile, name;
  bool haveToken = false, haveText = false, scramble = false;
  while (args.Next(name)) {
    if (name == "--out") out = args.PathValue(name);
    else if (name == "--token") {
      token = EncodeToken(args.Value(name));
      if (token.empty()) throw UsageError{"--token must not be empty"};
      haveToken = true;
    } else if (name == "--token-raw") token = args.Value(name), haveToken = true;
    else if (name == "--text") text = args.Value(name), haveText = true;
    else if (name == "--text-file") textFile = args.PathValue(name), haveText = true;
    else if (name == "--scramble") args.NoValue(name), scramble = true;
    else throw UsageError{"unknown info-page option \"" + name + "\""};
  }
  if (out.empty() || !haveToken || !haveText) throw UsageError{"info-page needs --out, a token and a text"};
  CheckOutputFolder("--out", out);
  if (token.find('|') != std::string::npos) return Failure("the token must not contain \"|\"");
  std::string error;
  std::vector<std::string> inputs;
  if (!textFile.empty()) {
    if (!ReadWholeFile(textFile, text, error)) return Failure(error);
    inputs.push_back(textFile);
  }
  if (!WriteWholeFile(out, MakeInformPage(token, text, scramble), inputs, error)) return Failure(error);
  return 0;
}

}  // namespace havrek::pack
