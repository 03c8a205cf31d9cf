#include "tls/aesgcm.h"

#include <gtest/gtest.h>

#include <string>

using tessel::Buffer;
using namespace tessel::tls;

namespace {

Buffer keyOf(unsigned char fill, uint32_t length = kAesGcmKeyLength) {
    Buffer key(length);
    for (uint32_t i = 0; i < length; ++i) {
        key.mutableData()[i] = static_cast<unsigned char>(fill + i);
    }
    return key;
}

Buffer seal(const Buffer& key, const std::string& associated, const std::string& plain) {
    Buffer sealed;
    EXPECT_TRUE(aesGcmSeal(key, associated, reinterpret_cast<const unsigned char*>(plain.data()),
                           static_cast<uint32_t>(plain.size()), sealed));
    return sealed;
}

bool open(const Buffer& key, const std::string& associated, const Buffer& sealed,
          std::string& plain) {
    Buffer out;
    if (!aesGcmOpen(key, associated, sealed.data(), sealed.length(), out))
        return false;
    plain.assign(reinterpret_cast<const char*>(out.data()), out.length());
    return true;
}

TEST(AesGcm, OpensWhatItSealedAndNothingElse) {
    for (const std::string& plain : {std::string(), std::string("p"), std::string(1000, 'x')}) {
        SCOPED_TRACE(plain.size());
        Buffer sealed = seal(keyOf(1), "context", plain);
        ASSERT_EQ(sealed.length(), plain.size() + kAesGcmOverhead);
        std::string back;
        ASSERT_TRUE(open(keyOf(1), "context", sealed, back));
        EXPECT_EQ(back, plain);
        // A fresh nonce each time: the same input never seals the same way twice.
        EXPECT_NE(seal(keyOf(1), "context", plain), sealed);

        EXPECT_FALSE(open(keyOf(2), "context", sealed, back)) << "another key";
        EXPECT_FALSE(open(keyOf(1), "contexT", sealed, back)) << "other associated data";
        for (uint32_t at = 0; at < sealed.length(); ++at) {
            Buffer altered(sealed.data(), sealed.length());
            altered.mutableData()[at] ^= 0x01;
            EXPECT_FALSE(open(keyOf(1), "context", altered, back)) << "byte " << at;
        }
        Buffer shorter(sealed.data(), sealed.length() - 1);
        EXPECT_FALSE(open(keyOf(1), "context", shorter, back));
    }
}

TEST(AesGcm, RefusesKeysOfAnotherLength) {
    Buffer sealed;
    const unsigned char plain[] = "x";
    EXPECT_FALSE(aesGcmSeal(keyOf(1, 16), "", plain, 1, sealed));
    EXPECT_EQ(sealed.length(), 0u);
    Buffer good = seal(keyOf(1), "", "x");
    Buffer out;
    EXPECT_FALSE(aesGcmOpen(keyOf(1, 31), "", good.data(), good.length(), out));
}

}  // namespace
