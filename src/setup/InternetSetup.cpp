#include "setup/InternetSetup.h"

#include "package/PackX.h"
#include "package/Signature.h"
#include "setup/SetupSpace.h"
#include "util/Utils.h"

namespace havrek {

std::string InternetSetupBase(const std::string& recordBase, bool alwaysDownload, const std::string& exeDir,
                              bool copyBesideStub) {
  return !alwaysDownload && copyBesideStub ? exeDir : recordBase;
}

std::string LocalPackagePath(const std::string& base, const std::string& name) {
  return SetTrailingBackslash(base, true) + name;
}

std::string InternetPackageUrl(const std::string& base, const std::string& name) { return base + "/" + name; }

std::string DownloadCopyName(const std::string& name) {
  // The system drops trailing dots and blanks: a name of nothing else would
  // name the temporary folder itself, or the one above it.
  const std::string last = FileNamePart(name);
  return last.find_first_not_of(". ") == std::string::npos ? std::string() : last;
}

std::uint32_t DownloadFolderOwner(const std::string& name, const std::string& setupFolderName) {
  const std::string head = setupFolderName + ".dl";
  if (setupFolderName.empty() || name.size() <= head.size() || !StartsWith(head, name, true)) return 0;
  std::string digits = name.substr(head.size());
  const std::size_t under = digits.find('_');
  if (under != std::string::npos) {
    const std::string k = digits.substr(under + 1);
    if (k.empty() || k.find_first_not_of("0123456789") != std::string::npos) return 0;
    digits.resize(under);
  }
  if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  const std::uint64_t pid = std::stoull(digits);
  return pid <= 0xFFFFFFFFull ? static_cast<std::uint32_t>(pid) : 0;
}

std::string DownloadConfirmText(const std::string& question, const std::string& sizeText) {
  std::int64_t size = 0;
  if (!TryTextToInt64(sizeText, size)) size = 0;
  return ReplaceAll(question, "<SIZE>", SpaceMBText(static_cast<double>(size)));
}

std::string PackageDigestProblem(const std::string& recordedHex, const std::string& path) {
  if (recordedHex.empty()) return {};
  Sha256Digest recorded{}, actual{};
  // A field the build tool never writes: the setup itself is damaged, and
  // nothing it fetches can be vouched for.
  if (!ParseHex(recordedHex, recorded.data(), recorded.size())) return "this setup's recorded SHA-256 is damaged";
  if (!FileSha256(path, actual)) return "cannot read it to check its SHA-256";
  if (actual != recorded) return "its SHA-256 is not the one this setup was built for";
  return {};
}

std::string NoConnectionText(const std::string& text, const std::string& detail) {
  return detail.empty() ? text : text + "<P><P>" + detail;
}

std::string AgentCopyBytes(std::string exe) {
  // Only the low half counts, as in every stub already shipped. A zero build
  // length was never recorded; cutting to it would leave nothing.
  const auto built = static_cast<std::int64_t>(static_cast<std::uint32_t>(ReadBuildLength(exe)));
  const auto size = static_cast<std::int64_t>(exe.size());
  // A signature is cut whatever its size: one with a timestamp and a full
  // chain passes the limit, and a whole copy would start as a setup again.
  if (built > 0 && built < size &&
      (size - built < kAgentTailLimit || ForeignTailOf(exe, built).kind == TailKind::Signature)) {
    exe.resize(static_cast<std::size_t>(built));
    // What was cut is most likely a signature, which the header still names.
    ClearSignatureFields(exe);
  }
  if (exe.size() > 5) exe[exe.size() - 5] = 1;
  return exe;
}

}  // namespace havrek
