#include <gtest/gtest.h>

#include "Sha256Cases.h"

namespace havrek {
namespace {

TEST(Digest, Sha256GivesTheKnownDigests) { test::ExpectKnownSha256Digests(); }

}  // namespace
}  // namespace havrek
