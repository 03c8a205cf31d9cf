// The user's protection key in the desktop keyring (a Secret Service on the session bus), as an
// item of the client's own schema. The client never makes the keyring ask the user anything: a
// locked keyring, or one without a default collection, counts as unavailable. Every call gives
// up after kKeyringTimeoutMs, so that a bus on which nothing answers cannot hold up a start.
#pragma once

#include <string>

#include "base/buffer.h"

namespace vexlan::detail {

constexpr int kKeyringTimeoutMs = 2000;

// The label under which a user finds the key in the keyring manager.
constexpr const char* kKeyringItemLabel = "Vexlan Client: protection key of the proxy password";

enum class KeyringAnswer {
    kFound,        // the key was read
    kAbsent,       // the keyring answers and holds no key of ours
    kUnavailable,  // no session bus, no service, locked, or no answer in time
};

// Reads the key. `reason` says why when the answer is kUnavailable.
KeyringAnswer keyringLookupKey(tessel::Buffer& key, std::string& reason);

// Stores `key` (replacing an item of ours) in the default collection, then reads it back.
// True only when the keyring now holds exactly `key`; `reason` says why not.
bool keyringStoreKey(const tessel::Buffer& key, std::string& reason);

}  // namespace vexlan::detail
