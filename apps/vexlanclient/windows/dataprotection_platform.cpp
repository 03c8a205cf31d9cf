// Windows data protection: the system's per-user protection of secrets, with no description,
// no additional entropy and no prompt. A blob of another user or an altered one does not
// unprotect.
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <string>

#include "base/console.h"
#include "vexlanclient/dataprotection.h"

namespace vexlan {
namespace {

// The detail of a failure, logged before EDataProtection is thrown.
[[noreturn]] void fail(const char* method, const char* what) {
    DWORD error = GetLastError();  // before the log can change it
    tessel::log(2, "DataProtection", method,
                tessel::String::copy(std::string(what) + ": #" + std::to_string(error)));
    TESSEL_THROW(EDataProtection);
}

// Copies what the system returned and frees it, wiping the system's copy of a secret first.
tessel::Buffer takeBlob(DATA_BLOB& out, bool secret) {
    tessel::Buffer result(out.pbData, out.cbData);
    if (secret)
        SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return result;
}

DATA_BLOB input(const tessel::Buffer& bytes) {
    // An empty buffer may have no storage: the system refuses a null pointer even for no bytes
    // (an empty proxy password is protected like any other).
    static BYTE none = 0;
    DATA_BLOB in;
    in.cbData = bytes.length();
    in.pbData = bytes.data() ? const_cast<BYTE*>(bytes.data()) : &none;
    return in;
}

}  // namespace

tessel::Buffer protectData(const tessel::Buffer& plain) {
    DATA_BLOB in = input(plain);
    DATA_BLOB out{};
    if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, 0, &out))
        fail("protect", "cannot protect the data");
    return takeBlob(out, false);
}

tessel::Buffer unprotectData(const tessel::Buffer& blob) {
    DATA_BLOB in = input(blob);
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &out))
        fail("unprotect", "cannot unprotect the data");
    return takeBlob(out, true);
}

}  // namespace vexlan
