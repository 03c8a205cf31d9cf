// The stored form of a secret protected with a per-user key (how the proxy password is kept
// where the system offers no per-user data protection): version byte 1, then the AES-256-GCM
// nonce, ciphertext and tag. The version and the user id are authenticated with it, so that a
// blob copied to another account does not open there and any alteration fails.
#pragma once

#include <cstdint>

#include "base/buffer.h"

namespace vexlan {

constexpr uint32_t kSecretKeyLength = 32;

// Raises EDataProtection (after a level 2 log line) when the key has the wrong length or the
// random generator fails.
tessel::Buffer sealSecret(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& plain);

// Raises EDataProtection (after a level 2 log line) when the blob does not open for this key
// and user id.
tessel::Buffer openSecret(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& blob);

}  // namespace vexlan
