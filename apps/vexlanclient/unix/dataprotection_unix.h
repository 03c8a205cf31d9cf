// The parts of the Linux data protection that tests reach directly: the key file and the
// sealing of a blob for a given user id (normally the caller's own).
#pragma once

#include <cstdint>
#include <string>

#include "base/buffer.h"

namespace vexlan {
namespace unixprotection {

constexpr uint32_t kKeyLength = 32;

// $XDG_CONFIG_HOME/vexlan/protect.key (else ~/.config/...); empty when there is no home.
std::string keyFilePath();
// The user id bound into every blob: the real user id of the process.
uint32_t currentUserId();
// The user's key. With `create`, a missing key is made (random, mode 0600, never replacing a
// key that another process created meanwhile). Raises EDataProtection (logged).
tessel::Buffer loadKey(bool create);
// Blob layout: version byte 1, 12-byte nonce, ciphertext, 16-byte tag; the version and the
// user id are the associated data.
tessel::Buffer seal(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& plain);
// Raises EDataProtection (logged) when the blob does not open for this key and user id.
tessel::Buffer open(const tessel::Buffer& key, uint32_t userId, const tessel::Buffer& blob);

}  // namespace unixprotection
}  // namespace vexlan
