#include "agent/OfferTrust.h"

#include <chrono>

#include "agent/OfferKeys.h"
#include "agent/SignedOffer.h"
#include "util/Utils.h"

namespace havrek {
namespace {

OfferTrust Refused(std::string reason) {
  OfferTrust trust;
  trust.reason = std::move(reason);
  return trust;
}

// The first value of section/key, as the agent's INI reader finds it.
bool FindEntry(const std::vector<OfferEntry>& entries, const char* section, const char* key, std::string& value) {
  for (const OfferEntry& e : entries)
    if (SameText(e.section, section) && SameText(e.key, key)) {
      value = e.value;
      return true;
    }
  return false;
}

// A file the offer announces must come with its digest, a well-formed one:
// the signature covers the offer, the digest carries it over to the file.
std::string DigestProblem(const std::vector<OfferEntry>& entries, const char* section, const char* nameKey,
                          const char* digestKey) {
  std::string name, digest, bytes;
  if (!FindEntry(entries, section, nameKey, name) || name.empty()) return std::string();
  if (!FindEntry(entries, section, digestKey, digest) || digest.empty())
    return std::string("it names ") + nameKey + " without " + digestKey + ", which binds the file to the signature";
  if (!ParseSha256Hex(digest, bytes)) return std::string(digestKey) + " \"" + digest + "\" is no SHA-256";
  return std::string();
}

}  // namespace

OfferTrust CheckOfferTrust(const std::string& offer, const std::vector<UpdateKey>& keys,
                           std::int64_t newestAccepted, std::int64_t now, const OfferVerifier& verify) {
  OfferSignature signature;
  std::string error;
  if (!SplitSignedOffer(offer, signature, error)) return Refused("no valid signature: " + error);

  const UpdateKey* key = nullptr;
  for (const UpdateKey& k : keys)
    if (k.id == signature.keyId) key = &k;
  if (!key) return Refused("signed by key " + signature.keyId + ", which is not among the package's keys");

  if (!verify) return Refused("no signature check on this system");
  error = verify(key->point, signature.signedBytes, signature.der);
  if (!error.empty()) return Refused("bad signature by key " + signature.keyId + ": " + error);

  // Only now is the text the publisher's; before, nothing in it is read.
  if (signature.signedAt < newestAccepted)
    return Refused("signed at " + UtcTimeText(signature.signedAt) + ", before the newest offer accepted here (" +
                   UtcTimeText(newestAccepted) + ")");

  const std::vector<OfferEntry> entries = ReadOfferEntries(offer);
  std::string expires;
  if (FindEntry(entries, "NewSetup", "OfferExpires", expires) && !expires.empty()) {
    std::int64_t until = 0;
    if (!ParseUtcTime(expires, until))
      return Refused("OfferExpires \"" + expires + "\" is no UTC time YYYY-MM-DDTHH:MM:SSZ");
    if (now >= until) return Refused("expired at " + expires);
  }

  for (const std::string& problem :
       {DigestProblem(entries, "NewSetup", "NameOfUpdateFile", "SHA256OfUpdateFile"),
        DigestProblem(entries, "AutoInform", "NameOfInformFile", "SHA256OfInformFile")})
    if (!problem.empty()) return Refused(problem);

  OfferTrust trust;
  trust.accepted = true;
  trust.signedAt = signature.signedAt;
  trust.keyId = signature.keyId;
  return trust;
}

std::string FileDigestProblem(const std::string& path, const std::string& keyName, const std::string& digestText,
                              bool required) {
  if (digestText.empty())
    return required ? "the offer names no " + keyName + ", which binds the file to the signature" : std::string();
  std::string expected;
  if (!ParseSha256Hex(digestText, expected)) return keyName + " \"" + digestText + "\" is no SHA-256";
  Sha256Digest actual{};
  if (!FileSha256(path, actual)) return "no SHA-256 of " + path;
  const std::string actualHex = HexText(actual);
  if (LowerHex(expected) == actualHex) return std::string();
  return "SHA-256 mismatch: " + keyName + " " + LowerHex(expected) + ", the file " + actualHex;
}

std::int64_t UtcNowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace havrek
