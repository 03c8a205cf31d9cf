#include "vexlanclient/sealedsecret.h"

#include <algorithm>
#include <string>

#include "base/console.h"
#include "tls/aesgcm.h"
#include "vexlanclient/dataprotection.h"

namespace vexlan {
namespace {

constexpr unsigned char kVersion = 1;

std::string associatedData(uint32_t userId) {
    return "vexlan-protect:" + std::to_string(kVersion) + ":uid=" + std::to_string(userId);
}

}  // namespace

tessel::Buffer sealSecret(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& plain) {
    tessel::Buffer sealed;
    if (!tessel::tls::aesGcmSeal(key, associatedData(userId), plain.data(), plain.length(),
                                 sealed)) {
        tessel::log(2, "DataProtection", "protect", "cannot encrypt");
        TESSEL_THROW(EDataProtection);
    }
    tessel::Buffer blob(1 + sealed.length());
    blob.mutableData()[0] = kVersion;
    std::copy(sealed.data(), sealed.data() + sealed.length(), blob.mutableData() + 1);
    return blob;
}

tessel::Buffer openSecret(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& blob) {
    if (blob.length() < 1 + tessel::tls::kAesGcmOverhead || blob.data()[0] != kVersion) {
        tessel::log(2, "DataProtection", "unprotect", "the protected data is damaged");
        TESSEL_THROW(EDataProtection);
    }
    tessel::Buffer plain;
    if (!tessel::tls::aesGcmOpen(key, associatedData(userId), blob.data() + 1, blob.length() - 1,
                                 plain)) {
        tessel::log(2, "DataProtection", "unprotect",
                    "the protected data belongs to another user or was altered");
        TESSEL_THROW(EDataProtection);
    }
    return plain;
}

}  // namespace vexlan
