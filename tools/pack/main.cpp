// havrek-pack: joins a stub image with the files of a setup into a package,
// and makes the build tokens and information pages that go with it.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/Files.h"
#include "package/Integrity.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "platform/Platform.h"
#include "util/Utils.h"

namespace {

using namespace havrek;

const char kUsage[] = R"(havrek-pack: writes Havrek setup packages.

Usage:
  havrek-pack build --stub STUB.exe --out SETUP.exe [options] [--file SRC[=TARGET]]... [--run SRC[=TARGET]]
  havrek-pack encode-token TOKEN
  havrek-pack decode-token ENCODED
  havrek-pack info-page --out FILE (--token TOKEN | --token-raw TEXT) (--text TEXT | --text-file FILE) [--scramble]
  havrek-pack show PACKAGE
  havrek-pack --help

Options take their value as the next argument or after "=" (--level=6).
SIZE is a number of bytes with an optional K, M or G suffix (powers of 1024).

build: files
  --stub FILE            stub image: "MZ" at 0, "PE\0\0" at 256, bytes 248..255 zero
  --out FILE             the setup to write (see --disk-size for the disk files);
                         every output is written under a temporary name and
                         renamed into place when the build succeeded; outputs
                         that exist and are no regular file, or that are an
                         input of the build, are refused
  --file SRC[=TARGET]    add file SRC, extracted as TARGET (default: SRC's file
                         name); TARGET is relative to the setup folder, "\" or
                         "/" separate sub-folders; absolute paths, drives, "..",
                         device names and ":" streams are refused
  --run SRC[=TARGET]     like --file, and marks it as the program to run (one only)
  --run-args ARGS        command-line arguments given to the program to run
  --language FILE        plain language file: "[Name]" lines open a language,
                         "key=value" lines add its texts, ";" starts a comment;
                         without it the language block is empty (built-in texts)
  --date WHEN            give every file this date instead of its own last-write
                         date: YYYY-MM-DD[THH:MM[:SS]] or a DOS date-time number

build: header flags
  --always-confirm       always ask to confirm the temporary space
  --span                 multi-disk setup: relaunch from a copy (set by --disk-size)
  --activity-bar         show the small activity bar while extracting
  --log                  the agent writes its log file
  --internet-setup       the real package is downloaded (needs --inet-* values)
  --confirm-download     ask before the internet download
  --has-agent            the setup installs an auto-update agent
  --auto-update          this executable is the auto-update agent itself

build: update record (placeholders "http://", ".info", ".exe", "0", "0")
  --info-base LOCATION   folder or URL that holds the .info file
  --info-name NAME       the .info file's name (a plain file name)
  --agent NAME           the agent executable's file name (a plain file name)
  --update-token TOKEN   update token, encoded here
  --update-token-raw T   store T as the update token as it is
  --silent               run without progress window and confirmations

build: internet record (written when any of these or --internet-setup is given)
  --inet-base URL        base URL of the real package
  --inet-file NAME       file name of the real package (a plain file name)
  --inet-always          always download, never use a copy beside the setup
  --inet-token TOKEN     internet token, encoded here
  --inet-token-raw T     store T as the internet token as it is
  --inet-size N          size of the real package in bytes
  --inet-size-of FILE    take that size from FILE

build: layout
  --level N              zlib level 0..9 (default 9); 0 stores every entry raw,
                         and any entry that does not shrink is stored raw
  --split-size SIZE      largest piece of a file in one entry (default 32M)
  --disk-size SIZE       split over disk files of at most SIZE bytes: OUT holds
                         the stub and header blocks, OUT.001 the stub, header
                         blocks and first entries, OUT.002... further entries;
                         disk files of an earlier build past the new set are
                         removed
  --extra-space SIZE     room the setup needs beyond its files (space table)
  --no-build-length      leave bytes 248..255 of the image zero

info-page: writes an information page for the update agent
  --out FILE             the page file
  --token TOKEN          build token (the update token of the agent's package)
  --token-raw TEXT       store TEXT as the token as it is
  --text TEXT            page text (plain or rich text)
  --text-file FILE       read the page text from FILE
  --scramble             scramble the page

Exit codes: 0 done, 1 failed (message on standard error), 2 bad usage.
)";

struct UsageError {
  std::string message;
};

int Usage(const std::string& message) {
  std::cerr << "havrek-pack: " << message << "\nTry 'havrek-pack --help'.\n";
  return 2;
}

int Failure(const std::string& message) {
  std::cerr << "havrek-pack: " << message << "\n";
  return 1;
}

// Walks "--name value" and "--name=value" arguments.
class Args {
 public:
  Args(int argc, char** argv, int first) : args_(argv + first, argv + argc) {}
  bool Next(std::string& name) {
    if (i_ >= args_.size()) return false;
    name = args_[i_++];
    pending_.reset();
    if (name.starts_with("--")) {
      const auto eq = name.find('=');
      if (eq != std::string::npos) {
        pending_ = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    return true;
  }
  std::string Value(const std::string& name) {
    if (pending_) return *std::exchange(pending_, std::nullopt);
    if (i_ >= args_.size()) throw UsageError{name + " needs a value"};
    return args_[i_++];
  }
  void NoValue(const std::string& name) const {
    if (pending_) throw UsageError{name + " takes no value"};
  }

 private:
  std::vector<std::string> args_;
  std::size_t i_ = 0;
  std::optional<std::string> pending_;
};

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

// Output names the stub reads from a package: a file name it joins to a
// folder or a URL, never a path.
std::string PlainFileName(const std::string& option, const std::string& value) {
  std::string error;
  if (!CheckPlainFileName(value, error))
    throw UsageError{option + ": \"" + value + "\" is not a plain file name (" + error + ")"};
  return value;
}

PackFile FileArg(const std::string& value, bool run) {
  PackFile f;
  const auto eq = value.find('=');
  f.source = value.substr(0, eq);
  f.target = eq == std::string::npos ? FileNamePart(f.source) : value.substr(eq + 1);
  f.run = run;
  if (f.source.empty()) throw UsageError{"a file argument needs a source path"};
  return f;
}

int Build(Args& args) {
  PackOptions o;
  bool internetRecord = false, spanFlag = false;
  std::string runArgs, languageFile;
  bool haveRunArgs = false;
  std::string name;
  while (args.Next(name)) {
    auto flag = [&](const char* n) {
      if (name != n) return false;
      args.NoValue(name);
      return true;
    };
    if (name == "--stub") o.stubPath = args.Value(name);
    else if (name == "--out") o.outPath = args.Value(name);
    else if (name == "--file") o.files.push_back(FileArg(args.Value(name), false));
    else if (name == "--run") o.files.push_back(FileArg(args.Value(name), true));
    else if (name == "--run-args") runArgs = args.Value(name), haveRunArgs = true;
    else if (name == "--language") languageFile = args.Value(name);
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
      const std::string path = args.Value(name);
      std::string error;
      if (!CheckInputFile(path, error)) return Failure("cannot open " + path + ": " + error);
      plat::File in(path, plat::OpenMode::Read);
      if (!in || in.size() < 0) return Failure("cannot open " + path);
      o.internet.sizeText = std::to_string(in.size());
      o.otherInputs.push_back(path);
      internetRecord = true;
    } else if (name == "--level") {
      const std::string v = args.Value(name);
      if (v.size() != 1 || v[0] < '0' || v[0] > '9') throw UsageError{"--level must be 0 to 9"};
      o.level = v[0] - '0';
    } else if (name == "--split-size") o.splitSize = ParseSize(name, args.Value(name));
    else if (name == "--disk-size") o.diskSize = ParseSize(name, args.Value(name)), spanFlag = true;
    else if (name == "--extra-space") o.extraSpace = ParseSize(name, args.Value(name));
    else if (flag("--no-build-length")) o.writeBuildLength = false;
    else throw UsageError{"unknown build option \"" + name + "\""};
  }
  if (o.stubPath.empty()) throw UsageError{"build needs --stub"};
  if (o.outPath.empty()) throw UsageError{"build needs --out"};
  if (haveRunArgs) {
    PackFile* run = nullptr;
    for (PackFile& f : o.files)
      if (f.run) run = &f;
    if (!run) throw UsageError{"--run-args needs --run"};
    run->runArgs = runArgs;
  }
  if (spanFlag) o.headerFlags |= hfSpan;
  o.withInternetRecord = internetRecord;

  if (!languageFile.empty()) {
    std::string text, error;
    if (!ReadWholeFile(languageFile, text, error)) return Failure(error);
    if (!LanguageBlockFromText(text, o.languageBlock, error)) return Failure(languageFile + ": " + error);
    o.otherInputs.push_back(languageFile);
  }

  const PackResult r = WritePackage(o);
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
    if (name == "--out") out = args.Value(name);
    else if (name == "--token") {
      token = EncodeToken(args.Value(name));
      if (token.empty()) throw UsageError{"--token must not be empty"};
      haveToken = true;
    } else if (name == "--token-raw") token = args.Value(name), haveToken = true;
    else if (name == "--text") text = args.Value(name), haveText = true;
    else if (name == "--text-file") textFile = args.Value(name), haveText = true;
    else if (name == "--scramble") args.NoValue(name), scramble = true;
    else throw UsageError{"unknown info-page option \"" + name + "\""};
  }
  if (out.empty() || !haveToken || !haveText) throw UsageError{"info-page needs --out, a token and a text"};
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

int Show(const std::string& path) {
  std::string error;
  if (!CheckInputFile(path, error)) return Failure("cannot open " + path + ": " + error);
  // Later disk files carry entries where the first holds header blocks, so
  // the header is read on its own and the records only where they exist.
  TPackageHeader h{};
  ReadPackageHeader(path, h);
  if (h.magic != PackageMagic) return Failure(path + " holds no package");
  const TGFileInfo info(path);
  const std::uint32_t sum = PackageChecksum(path, h.trailerLength);
  std::cout << "format=" << int(h.format) << "\nblocks=" << int(h.blockCount)
            << "\npayload_start=" << h.payloadStart << "\nfile_count=" << h.fileCount
            << "\nchecksum=" << h.checksum << (ChecksumPasses(h.checksum, sum) ? " ok" : " BAD")
            << "\nheader_flags=" << int(h.headerFlags) << "\ninternet_setup=" << int(h.internetSetup)
            << "\nconfirm_download=" << int(h.confirmDownload) << "\nhas_agent=" << int(h.hasAgent)
            << "\nauto_update=" << int(h.autoUpdate) << "\nspace=";
  for (int i = 0; i < SpaceTableSize; ++i) std::cout << (i ? "," : "") << h.space[i];
  std::cout << "\nupdate_record=" << info.UpdateRecord() << "\ninternet_record=" << info.InternetRecord()
            << "\nlanguage_block_bytes=" << info.LanguageBlock().size() << "\n";
  // The records of every file from this one to the end of its disk set.
  const IntegrityReport integrity = CheckPackageIntegrity(path);
  std::cout << "integrity=" << (integrity.Verified() ? "records ok" : integrity.Sound() ? "no records" : "BAD")
            << "\n";
  for (const DiskIntegrity& f : integrity.files)
    if (!f.error.empty()) std::cout << "integrity_error=" << f.path << ": " << f.error << "\n";
  return ChecksumPasses(h.checksum, sum) && integrity.Sound() ? 0 : 1;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage("no command given");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  Args args(argc, argv, 2);
  if (command == "build") return Build(args);
  if (command == "info-page") return InfoPage(args);
  if (command == "encode-token" || command == "decode-token" || command == "show") {
    if (argc != 3) return Usage(command + " takes one argument");
    const std::string value = argv[2];
    if (command == "show") return Show(value);
    if (command == "encode-token") {
      const std::string encoded = EncodeToken(value);
      if (encoded.empty()) return Failure("an empty token cannot be encoded");
      std::cout << encoded << "\n";
      return 0;
    }
    std::string token;
    if (!TryDecodeToken(value, token)) return Failure("not a valid encoded token");
    std::cout << token << "\n";
    return 0;
  }
  return Usage("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& e) {
    return Usage(e.message);
  } catch (const std::exception& e) {
    // Out of memory or a file system refusal: a failure with its reason,
    // not an abort that leaves a core behind.
    return Failure(e.what());
  }
}
