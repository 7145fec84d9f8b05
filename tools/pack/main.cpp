// havrek-pack: joins a stub image with the files of a setup into a package,
// makes the build tokens and information pages that go with it, and lists,
// tests and extracts setups.
#include <algorithm>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "Args.h"
#include "Commands.h"
#include "package/PackWriter.h"
#include "package/PackX.h"
#include "package/TokenCodec.h"

namespace {

using namespace havrek;
using namespace havrek::pack;

const char kUsage[] = R"(havrek-pack: writes Havrek setup packages, and lists, tests and extracts them.

Usage:
  havrek-pack build --stub STUB.exe --out SETUP.exe [options]
                    [--file SRC[=TARGET]]... [--dir SRC[=TARGET]]... [--run SRC[=TARGET]]
  havrek-pack list SETUP [--json]
  havrek-pack test SETUP
  havrek-pack extract SETUP DIR
  havrek-pack extract SETUP --list-only [--json]
  havrek-pack show SETUP
  havrek-pack encode-token TOKEN
  havrek-pack decode-token ENCODED
  havrek-pack info-page --out FILE (--token TOKEN | --token-raw TEXT) (--text TEXT | --text-file FILE) [--scramble]
  havrek-pack offer --out FILE --version N --url BASE (--package FILE | --inform PAGE [--inform-url LINK])
                    [--stamp N] [--set [SECTION/]KEY=VALUE]... [--expires TIME] [--key NAME.key] [--strict]
  havrek-pack sign-offer --key NAME.key FILE [--package FILE] [--strict]
  havrek-pack verify-offer --pub NAME.pub FILE [--package FILE] [--strict]
  havrek-pack keygen --out NAME
  havrek-pack --help | help | COMMAND --help
  havrek-pack --version

Options take their value as the next argument or after "=" (--level=6).
SIZE is a number of bytes with an optional K, M or G suffix (powers of 1024).

Argument files: an argument "@FILE" (anywhere, for every command) is
replaced by the arguments in FILE, one a line, taken as they are: no quotes,
blanks and tabs around a line and a CR that ends it are dropped, empty lines
and lines starting with "#" are skipped. A path given in FILE (of --stub,
--out, --file, --run, --dir, --language, --inet-size-of, --text-file, a
setup or a folder, or a further @FILE) is relative to FILE's folder. A file
that reads itself again, directly or through others, is refused, and so is
an expansion past a million arguments or 64 MB read. An option value that
starts with "@" is given as --name=@value, a plain argument as ./@name.

Every command answers --help (or -h) with its own usage; a value "--help"
is given as --name=--help.

build: files
  --stub FILE            stub image: "MZ" at 0, "PE\0\0" at 256, bytes 248..255 zero
  --out FILE             the setup to write (see --disk-size for the disk files);
                         every output is written under a temporary name and
                         renamed into place when the build succeeded; outputs
                         that exist and are no regular file, or that are an
                         input of the build, are refused, as is a folder
                         that is not there
  --file SRC[=TARGET]    add file SRC, extracted as TARGET (default: SRC's file
                         name); TARGET is relative to the setup folder, "\" or
                         "/" separate sub-folders; absolute paths, drives, "..",
                         device names and ":" streams are refused; a TARGET
                         given twice (whatever its case) is refused; a file
                         whose size changes while it is read, or that reads
                         past its size (as under /proc), fails the build
  --dir SRC[=TARGET]     add every file under folder SRC, in the byte order of
                         their paths below SRC, into folder TARGET of the setup
                         ("/" or "\" separated; empty or absent: the top);
                         symbolic links and special files (FIFO, device,
                         socket) are refused with their path, never followed;
                         a folder that gives no file is named on standard
                         error and not packed (a setup has no folders of its
                         own); repeatable
  --exclude GLOB         leave out of every --dir each file or folder (with
                         all it holds) whose path below its SRC ("/" separated,
                         e.g. "docs/old") or whose own name matches GLOB:
                         "*" any characters and "?" any one, neither matching
                         "/", "[a-z]" one of a set, "[!a-z]" one not in it;
                         repeatable, wherever it stands
  --run SRC[=TARGET]     like --file, and marks it as the program to run (one
                         only); when a --dir adds the same file, that entry
                         is marked instead of adding it twice (a TARGET other
                         than the folder's is refused, naming both); without
                         --run the build warns: the setup would start nothing
  --run-args ARGS        command-line arguments given to the program to run
  --language FILE        plain language file: "[Name]" lines open a language,
                         "key=value" lines add its texts, ";" starts a comment;
                         without it the language block is empty (built-in texts)
  --date WHEN            give every file this date instead of its own last-write
                         date: YYYY-MM-DD[THH:MM[:SS]] (1980 to 2107) or a DOS
                         date-time number; without it, SOURCE_DATE_EPOCH
                         (seconds since 1970, taken as UTC whatever the time
                         zone; earlier than 1980 is 1980-01-01; set but empty
                         is unset) gives every file its date

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
  --update-key NAME.pub  a publisher's public key (ECDSA P-256, PEM, as keygen
                         or `openssl pkey -pubout` writes it) whose signatures
                         the agent trusts; repeatable, up to 4 keys, so that a
                         new key can be rolled out beside the old one; without
                         it --auto-update and --has-agent warn that updates
                         are not authenticated

build: internet record (written when any of these or --internet-setup is given)
  --inet-base URL        base URL of the real package
  --inet-file NAME       file name of the real package (a plain file name)
  --inet-always          always download, never use a copy beside the setup
  --inet-token TOKEN     internet token, encoded here
  --inet-token-raw T     store T as the internet token as it is
  --inet-size N          size of the real package in bytes
  --inet-size-of FILE    take that size from FILE, and its SHA-256, which the
                         package the setup downloads or finds beside itself
                         must match before anything is extracted
  --inet-sha256 HEX      the real package's SHA-256 (64 hex digits) without
                         the file; with --inet-size-of the two must agree

build: layout
  --level N              zlib level 0..9 (default 9); 0 stores every entry raw,
                         and any entry that does not shrink is stored raw
  --split-size SIZE      largest piece of a file in one entry (default 32M)
  --disk-size SIZE       split over disk files of at most SIZE bytes: OUT holds
                         the stub and header blocks, OUT.001 the stub, header
                         blocks and first entries, OUT.002... further entries;
                         disk files of an earlier build past the new set are
                         removed
  --extra-space SIZE     room the setup needs beyond its files (space table; at
                         most 4294967295 bytes, the table's field)
  --no-build-length      leave bytes 248..255 of the image zero
  --jobs N               compress on N threads, 1 to 256 (default: one per
                         processor core); the setup is the same for every N;
                         memory: about 4 x N x the split size
On a terminal, build shows a progress line (files, MB in, MB out) on standard
error. The same inputs and options give the same setup, byte for byte.

Reading setups: list, test and extract read a setup through the stub's own
extraction code. A disk set is read from SETUP (or SETUP.001) through its
disk files SETUP.001, SETUP.002, ...

list SETUP [--json]      one line per stored file: size, compressed size (its
                         entries' stored bytes), date (YYYY-MM-DD HH:MM:SS, as
                         stored), disk number(s), name, and the run mark with
                         its arguments; then the totals and the compressed
                         size as a share of the size. --json: one JSON document
                         ("files", "totals", "disk_files"; bytes of names
                         outside printable ASCII as \u00XX). Exit 1 when the
                         setup cannot be read whole (what was read is listed)
test SETUP               checks the setup as the stub extracts it: the checksum
                         and integrity record of every disk file, every entry
                         expanded, every name under the stub's name rule, a
                         run mark naming a file of the setup (an agent
                         package, built with --auto-update, has no files and
                         needs none). Prints what it found; each problem
                         names the disk file, the entry and the reason. Exit 0
                         only when the stub would extract it all and start
                         its program; an agent copy (the agent a setup writes
                         beside its files) is named as such, exit 1
extract SETUP DIR        writes the files into DIR (made when missing; files
                         already there are replaced) with their stored dates
                         (local time), "\" in names making folders; names the
                         stub refuses are not written and named; nothing is
                         written through a symbolic link or outside DIR (a
                         hard link is replaced by a new file); names that
                         differ only in letter case are one file, as on
                         Windows (a note names both); a file that cannot be
                         completed (disk missing, setup cut short) is removed.
                         Exit 1 when anything was not extracted
  --list-only            list instead of extracting (DIR may be left out)

show SETUP               header, flags, space table, records, update key ids,
                         integrity records and signature; exit 1 if the
                         checksum or an integrity record fails (an agent copy
                         carries its setup's checksum: it is named, not
                         checked)

encode-token TOKEN       prints TOKEN encoded, as --update-token and --token
                         store it
decode-token ENCODED     prints the token an encoded token holds

info-page: writes an information page for the update agent
  --out FILE             the page file
  --token TOKEN          build token (the update token of the agent's package)
  --token-raw TEXT       store TEXT as the token as it is
  --text TEXT            page text (plain or rich text)
  --text-file FILE       read the page text from FILE
  --scramble             scramble the page

Signed offers: the .info file the update agent probes, signed with the
publisher's ECDSA P-256 key (SHA-256). The signature is the file's last two
lines, INI comments that every reader skips:
  ;signed=YYYY-MM-DDTHH:MM:SSZ key=KEYID
  ;signature=BASE64
The signature (DER, in base64) covers every byte before the ";signature="
line; KEYID is the first 8 bytes of the SHA-256 of the key's uncompressed
public point, in lower-case hexadecimal; lines end in CRLF. Keys are PEM
files: NAME.key (PKCS#8, unencrypted) signs, NAME.pub checks. Standard
tools check a signed offer as well:
  head -n -1 Tool.info > body
  tail -n 1 Tool.info | cut -d= -f2- | tr -d '\r' | base64 -d > sig
  openssl dgst -sha256 -verify Tool.pub -signature sig body
offer                    writes an offer ([NewSetup], CRLF lines) through a
                         temporary file; an input (--package, --inform,
                         --key) is never written over
  --out FILE             the offer
  --version N            VersionNew
  --stamp N              Stamp
  --url BASE             DownloadURL_UPDATE: the folder or URL that holds the file
  --package FILE         an update: NameOfUpdateFile, SizeOfUpdateFile and
                         SHA256OfUpdateFile from FILE
  --inform PAGE          an information page instead ([General] AutoInform=1):
                         NameOfInformFile, SizeOfInformFile and
                         SHA256OfInformFile from PAGE
  --inform-url LINK      DownloadURL_INFORM, the page's link
  --set [SECTION/]KEY=VALUE
                         any other key (ShutDownMethod=Using WM_CLOSE, ...); a
                         key the agent knows finds its own section; repeatable
  --expires TIME         OfferExpires (UTC YYYY-MM-DDTHH:MM:SSZ): agents refuse
                         the signed offer after it
  --key NAME.key         sign the offer
sign-offer               signs FILE in place (a signature it has is replaced;
                         lines are ended in CRLF); the signing time is now,
                         or SOURCE_DATE_EPOCH when set
verify-offer             exit 0 only when FILE carries a good signature by the
                         key NAME.pub and, with --package, describes FILE's
                         size and SHA-256 (NameOfUpdateFile, or the page's
                         keys for an information page)
Each checks the offer against the keys the agent reads: an unknown key
(naming the known key it is closest to), a value outside its kind (a yes/no
not "1" or "0", a number that does not parse, a ShutDownMethod not one of
the five, ...), an OfferExpires past, and size and SHA-256 against
--package: a warning each, or with --strict an error (exit 1, nothing
written).
keygen --out NAME        makes a publisher key (ECDSA P-256): NAME.key, the
                         private key (PKCS#8 PEM, readable by its owner only)
                         and NAME.pub, the public key (PEM) for --update-key;
                         prints its key id (the first 8 bytes of SHA-256 of
                         the public point, in hex). Never overwrites: when
                         either file exists nothing is written (exit 1)

Exit codes: 0 done, 1 failed (message on standard error, naming the file and
the reason), 2 bad usage.
)";

#ifndef HAVREK_VERSION
#define HAVREK_VERSION "unknown"
#endif

// What the usage says of one command: its usage lines, its part of the text
// and the exit codes.
std::string CommandUsage(const std::string& command) {
  const std::string all = kUsage;
  struct Part {
    const char* command;
    const char* from;
    const char* to;
  };
  static const Part parts[] = {
      {"build", "\nbuild: files", "\nReading setups:"},
      {"list", "\nlist SETUP", "\ntest SETUP"},
      {"test", "\ntest SETUP", "\nextract SETUP DIR"},
      {"extract", "\nextract SETUP DIR", "\nshow SETUP"},
      {"show", "\nshow SETUP", "\ninfo-page:"},
      {"info-page", "\ninfo-page:", "\nSigned offers:"},
      {"offer", "\nSigned offers:", "\nkeygen --out NAME"},
      {"sign-offer", "\nSigned offers:", "\nkeygen --out NAME"},
      {"verify-offer", "\nSigned offers:", "\nkeygen --out NAME"},
      {"keygen", "\nkeygen --out NAME", "\nExit codes:"},
      {"encode-token", "\nencode-token TOKEN", "\ninfo-page:"},
      {"decode-token", "\nencode-token TOKEN", "\ninfo-page:"},
  };
  std::string out = "Usage:\n";
  const std::string prefix = "  havrek-pack " + command + " ";
  for (std::size_t at = all.find(prefix); at != std::string::npos; at = all.find(prefix, at + 1)) {
    const std::size_t end = all.find('\n', at);
    out += all.substr(at, end - at) + "\n";
    // A usage line may go on, indented, on the next lines.
    for (std::size_t next = end + 1; all.compare(next, 20, std::string(20, ' ')) == 0;) {
      const std::size_t e = all.find('\n', next);
      out += all.substr(next, e - next) + "\n";
      next = e + 1;
    }
  }
  for (const Part& p : parts)
    if (command == p.command) {
      const std::size_t from = all.find(p.from), to = all.find(p.to);
      out += all.substr(from, to - from) + "\n";
    }
  return out + all.substr(all.find("\nExit codes:"));
}

// A command of one plain argument.
std::string OneArgument(Args& args, const std::string& command) {
  std::string name, value;
  bool have = false;
  while (args.Next(name)) {
    if (have) throw UsageError{command + " takes one argument"};
    value = name;
    have = true;
  }
  if (!have) throw UsageError{command + " takes one argument"};
  return value;
}

int Run(int argc, char** argv) {
  std::vector<Arg> given;
  for (int i = 1; i < argc; ++i) given.push_back({argv[i], "", ""});
  const std::vector<Arg> all = ExpandArgFiles(given);
  if (all.empty()) return Usage("no command given");
  const std::string command = all[0].text;
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "--version") {
    std::cout << "havrek-pack " << HAVREK_VERSION << "\n";
    return 0;
  }
  static const char* const commands[] = {"build",        "info-page",    "show",  "list",       "test",
                                         "extract",      "encode-token", "decode-token", "offer", "sign-offer",
                                         "verify-offer", "keygen"};
  // Wherever it stands: "--help" as an option's value is written --name=--help.
  if (std::find(std::begin(commands), std::end(commands), command) != std::end(commands))
    for (std::size_t i = 1; i < all.size(); ++i)
      if (all[i].text == "--help" || all[i].text == "-h") {
        std::cout << CommandUsage(command);
        return 0;
      }
  Args args(std::vector<Arg>(all.begin() + 1, all.end()));
  try {
    if (command == "build") return Build(args);
    if (command == "info-page") return InfoPage(args);
    if (command == "show") return Show(args);
    if (command == "list") return List(args);
    if (command == "test") return Test(args);
    if (command == "extract") return Extract(args);
    if (command == "offer") return MakeOffer(args);
    if (command == "sign-offer") return SignOffer(args);
    if (command == "verify-offer") return VerifyOffer(args);
    if (command == "keygen") return Keygen(args);
    if (command == "encode-token") {
      const std::string encoded = EncodeToken(OneArgument(args, command));
      if (encoded.empty()) return Failure("an empty token cannot be encoded");
      std::cout << encoded << "\n";
      return 0;
    }
    if (command == "decode-token") {
      std::string token;
      if (!TryDecodeToken(OneArgument(args, command), token)) return Failure("not a valid encoded token");
      std::cout << token << "\n";
      return 0;
    }
  } catch (UsageError& e) {
    e.message += args.Where();
    throw;
  }
  return Usage("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const UsageError& e) {
    return Usage(e.message);
  } catch (const ToolFailure& e) {
    return Failure(e.message);
  } catch (const std::exception& e) {
    // Out of memory or a file system refusal: a failure with its reason,
    // not an abort that leaves a core behind.
    return Failure(e.what());
  }
}
