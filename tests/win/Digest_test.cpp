#include <gtest/gtest.h>

#include "Sha256Cases.h"

namespace havrek {
namespace {

TEST(DigestWin, CngGivesTheKnownDigests) { test::ExpectKnownSha256Digests(); }

}  // namespace
}  // namespace havrek
