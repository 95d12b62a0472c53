// The digests the build recorded against the payloads the image carries: the installer's own
// check must accept an intact copy.
#include <gtest/gtest.h>

#include "installer/catalogue.h"
#include "payload/digest.h"
#include "support.h"

namespace {

TEST(PayloadDigestTest, EachEmbeddedPayloadHasItsCatalogueDigest) {
  const HMODULE module = GetModuleHandleW(nullptr);
  for (const PayloadEntry& entry : BuildCatalogue()) {
    const HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(entry.resource_id), RT_RCDATA);
    ASSERT_NE(resource, nullptr) << entry.resource_id;
    const void* bytes = LockResource(LoadResource(module, resource));
    ASSERT_NE(bytes, nullptr) << entry.resource_id;
    EXPECT_EQ(PayloadDigest(bytes, SizeofResource(module, resource)), entry.digest)
        << entry.resource_id;
  }
}

}  // namespace
