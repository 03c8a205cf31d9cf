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
// The user id bound into every blob: the real user id of the process.
uint32_t currentUserId();
// The user's key. With `create`, a missing key is made (random, mode 0600, never replacing a
// key that another process created meanwhile). Raises EDataProtection (logged).
tessel::Buffer loadKey(bool create);

}  // namespace unixprotection
}  // namespace vexlan
