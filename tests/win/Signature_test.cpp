#include <gtest/gtest.h>

#include "SignatureCases.h"

namespace havrek {
namespace {

TEST(SignatureWin, CngVerifiesTheSignatureTable) { test::ExpectSignatureCases(); }

}  // namespace
}  // namespace havrek
