// Component signature files: SignedDll::loadFromFile over an arbitrary file, then the check
// of a loaded record with the built-in key (what verifyComponentSignature does once it has
// loaded the key) against a fixed library whose SHA-256 the seeds carry, so that records
// reach the RSA check too. No input can be accepted.
#include <string>

#include "base/exception.h"
#include "fuzz_support.h"
#include "tls/rsa.h"
#include "vexlan_component_key.h"
#include "vexlanclient/signeddll.h"

using tessel::String;

namespace {

// The library next to the signature file. Its SHA-256, in Base64, is
// "Kq/41H7WJTWs9HMo9qoDr4oQqktP3vNqX4bo7GzisY4=" (the seeds use it).
const char kLibrary[] = "vexlan fuzz component\n";

struct Files {
    String library;
    String signature;
};

const Files& files() {
    static const Files f = [] {
        const auto& folder = vexlan::fuzz::scratchFolder();
        vexlan::fuzz::writeBytes(folder / "component.so",
                                 reinterpret_cast<const uint8_t*>(kLibrary), sizeof kLibrary - 1);
        return Files{vexlan::fuzz::toString(folder / "component.so"),
                     vexlan::fuzz::toString(folder / "component.so.sig")};
    }();
    return f;
}

const tessel::tls::RSA& key() {
    static const tessel::tls::RSA* k = [] {
        auto* rsa = new tessel::tls::RSA;
        FUZZ_CHECK(rsa->loadKey(builtinComponentKey(), "", true));
        return rsa;
    }();
    return *k;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    key();
    FUZZ_CHECK(SignedDll::hashFile(files().library) ==
               "Kq/41H7WJTWs9HMo9qoDr4oQqktP3vNqX4bo7GzisY4=");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Files& f = files();
    vexlan::fuzz::writeBytes(f.signature.c_str(), data, size);

    SignedDll record;
    try {
        record.loadFromFile(f.signature);
    } catch (const tessel::EBadSignature&) {
        return 0;
    }
    const DllInfos& i = record.m_infos;
    FUZZ_CHECK(record.signedMessage() == i.m_version + i.m_name + i.m_signdate + i.m_sha256);
    FUZZ_CHECK(!record.verify(key(), f.library));
    return 0;
}
