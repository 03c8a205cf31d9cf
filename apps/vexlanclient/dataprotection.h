// Protection of secrets for the current user of the machine, as the stored proxy password
// needs it: what one user protected only that user can unprotect, and a protected blob that
// was altered does not unprotect. Each platform implements the two operations in its own
// folder (unix/: AES-256-GCM under a random per-user key, created on first use and kept in the
// desktop keyring where one answers, else in $XDG_CONFIG_HOME/vexlan/protect.key; Windows: the
// system's per-user data protection).
// Both operations may be called from any thread.
#pragma once

#include "base/buffer.h"
#include "base/exception.h"

namespace vexlan {

using ExceptionBase = tessel::Exception;
TESSEL_DECLARE_EXCEPTION(EDataProtection, ExceptionBase);
// The user's key is kept by a service that does not answer now (a desktop keyring outside the
// desktop session, or locked): what it protected is intact and opens again once it answers.
TESSEL_DECLARE_EXCEPTION(EProtectionKeyUnavailable, EDataProtection);

// The protected form of `plain`. Raises EDataProtection (after a level 2 log line) when the
// user's key cannot be read or created or the data cannot be protected.
tessel::Buffer protectData(const tessel::Buffer& plain);

// The bytes that were protected. Raises EDataProtection (after a level 2 log line) when the
// blob was protected for another user or under another key, was altered, or the user's key
// is missing; EProtectionKeyUnavailable (after one level 2 log line) when the key's keeper
// does not answer. protectData raises that too rather than protect under a new key.
tessel::Buffer unprotectData(const tessel::Buffer& blob);

}  // namespace vexlan
