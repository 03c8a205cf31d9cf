// The storage of the user's protection key on Linux, which tests reach directly.
#pragma once

#include <cstdint>
#include <string>

#include "base/buffer.h"
#include "vexlanclient/sealedsecret.h"

namespace vexlan {
namespace unixprotection {

constexpr uint32_t kKeyLength = kSecretKeyLength;

// $XDG_CONFIG_HOME/vexlan/protect.key (else ~/.config/...); empty when there is no home.
std::string keyFilePath();
// Beside the key file: says that the key is in the desktop keyring (the file is gone then).
std::string markerFilePath();
// The user id bound into every blob: the real user id of the process.
uint32_t currentUserId();
// The user's key, from the keyring when the marker is there, else from the key file (which is
// moved into the keyring when one answers). With `create`, a missing key is made: in the
// keyring when one answers, else in the file (random, mode 0600, never replacing a key that
// another process created meanwhile). Raises EDataProtection (logged), and
// EProtectionKeyUnavailable when the marker is there and the keyring does not answer.
tessel::Buffer loadKey(bool create);

}  // namespace unixprotection
}  // namespace vexlan
