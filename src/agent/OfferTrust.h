// Whether the agent may act on a fetched offer (the .info file) of a package
// that carries its publisher's update keys: signed by one of them, not older
// than the newest offer this installation accepted, not expired, and binding
// the file it announces by its SHA-256. A package without keys takes every
// offer as it always did. The decision is over bytes and numbers only; the
// signature check itself comes in as a function (the platform's by default).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/Signature.h"

namespace havrek {

// Empty when der is point's signature of message, else why not.
using OfferVerifier =
    std::function<std::string(const P256Point& point, std::string_view message, std::string_view der)>;

struct OfferTrust {
  bool accepted = false;
  std::string reason;         // why it was refused, one line
  std::int64_t signedAt = 0;  // seconds since 1970 UTC, of an accepted offer
  std::string keyId;
};

// offer: the fetched bytes; keys: the package's update keys (not empty);
// newestAccepted: the signing time of the newest offer accepted here (0 for
// none); now: seconds since 1970 UTC. An offer signed at the same second as
// the newest accepted one is that offer fetched again, and passes.
OfferTrust CheckOfferTrust(const std::string& offer, const std::vector<UpdateKey>& keys,
                           std::int64_t newestAccepted, std::int64_t now, const OfferVerifier& verify);

// Why the file at path does not match the SHA-256 an offer names under
// keyName (digestText, hex): empty when it matches, or when the offer names
// none and none is required. A mismatch names both digests. The file is
// read in pieces: packages run to hundreds of MB.
std::string FileDigestProblem(const std::string& path, const std::string& keyName, const std::string& digestText,
                              bool required);

// Seconds since 1970 UTC, now.
std::int64_t UtcNowSeconds();

}  // namespace havrek
