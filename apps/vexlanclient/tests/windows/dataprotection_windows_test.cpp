// The system's per-user data protection as the proxy password uses it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/string.h"
#include "sandbox.h"
#include "vexlanclient/dataprotection.h"
#include "wineprobe.h"

using tessel::Buffer;
using vexlan::EDataProtection;
using vexlan::protectData;
using vexlan::unprotectData;
using vexlan::testing::LogCapture;

namespace {

Buffer bytes(const std::string& text) {
    return Buffer(text.data(), static_cast<uint32_t>(text.size()));
}

std::string text(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length());
}

// The log entry of a refused blob, up to the system's error number.
bool loggedRefusal(const LogCapture& capture) {
    const std::string prefix = "ERROR DataProtection.unprotect cannot unprotect the data: #";
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind(prefix, 0) == 0 && entry.size() > prefix.size())
            return true;
    }
    return false;
}

TEST(WindowsDataProtection, RoundTripKeepsEveryByteAndHidesThePlainText) {
    std::string binary("a\0b\xff\x80z", 6);
    for (const std::string& plain :
         {std::string("proxy password"), std::string(), binary, std::string(5000, 'x')}) {
        Buffer blob = protectData(bytes(plain));
        std::string raw = text(blob);
        EXPECT_GT(raw.size(), plain.size());
        if (!plain.empty()) {
            EXPECT_EQ(raw.find(plain), std::string::npos);
        }
        EXPECT_EQ(text(unprotectData(blob)), plain);
    }
}

TEST(WindowsDataProtection, DamagedBlobsAreRefusedWithTheSystemsErrorNumber) {
    Buffer blob = protectData(bytes("proxy password"));
    ASSERT_GT(blob.length(), 32u);
    struct Case {
        const char* name;
        Buffer damaged;
    };
    auto flipped = [&](uint32_t at) {
        Buffer copy(blob.data(), blob.length());
        copy.mutableData()[at] ^= 0x01;
        return copy;
    };
    // The encrypted text and the signature at the end; a truncated and an empty blob.
    const std::vector<Case> cases = {
        {"last byte", flipped(blob.length() - 1)},
        {"middle of the ciphertext", flipped(blob.length() - 40)},
        {"truncated", Buffer(blob.data(), blob.length() - 1)},
        {"empty", Buffer()},
        {"not a blob", bytes("c2VjcmV0 is not protected data")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture capture;
        EXPECT_THROW(unprotectData(c.damaged), EDataProtection);
        EXPECT_TRUE(loggedRefusal(capture));
    }
    // The original still unprotects.
    EXPECT_EQ(text(unprotectData(blob)), "proxy password");
}

}  // namespace
