// Component signature records. Every component library travels with a signature file (the
// library's path + ".sig"), an XML document with root "dll":
//
//   <dll>
//    <version>2.4.1</version><name>vpn</name><signdate>2024-05-06</signdate>
//    <sha256>Base64 of the library's SHA-256</sha256>
//    <signature>Base64 of the RSA signature</signature>
//   </dll>
//
// The signature is RSA PKCS#1 v1.5 over SHA-1 of version + name + signdate + sha256 (the
// texts concatenated, nothing between them), made with the private half of the key built
// into the client. A library is loaded only after verifyComponentSignature accepted it.
//
// Texts are read back literally (no entity decoding): signed texts must not hold "<", ">"
// or "&". Everything here runs on the calling thread and keeps no state between calls.
#pragma once

#include "base/serialize.h"
#include "base/string.h"

namespace tessel {
class ISign;
namespace tls {
class RSA;
}
}  // namespace tessel

// The signed part of a record: four texts, in this order.
class DllInfos : public tessel::ISerialize {
public:
    // Keys "version", "name", "signdate", "sha256", in that order; a missing key raises the
    // reader's EKeyReader.
    void read(tessel::IKeyReader& reader) override;
    // The four texts in the same order.
    void read(tessel::IReader& reader) override;
    void write(tessel::IKeyWriter& writer) override;
    void write(tessel::IWriter& writer) override;

    tessel::String m_version;
    tessel::String m_name;
    tessel::String m_signdate;
    tessel::String m_sha256;  // Base64 of the 32-byte digest: 44 characters
};

// A whole record: the infos, the Base64 signature, and the part that the signature covers
// (always the record's own infos).
class SignedDll : public tessel::ISerialize {
public:
    SignedDll();
    SignedDll(const SignedDll&) = delete;
    SignedDll& operator=(const SignedDll&) = delete;

    // Fills the record from the signature file at `path`. Every failure is logged at ERROR
    // ("SignedDll", "loadFromFile") and raised as EBadSignature.
    void loadFromFile(const tessel::String& path);
    // The hash check, then the signature check with `key`. False after an ERROR log line
    // ("FileSignature", "verify": "bad hash " or "bad signature").
    bool verify(const tessel::tls::RSA& key, const tessel::String& dllPath);

    // The bytes that the signature covers: the signed part written to a StringWriter.
    tessel::String signedMessage();
    // Base64 of the SHA-256 of the file's bytes (of no bytes when it cannot be opened).
    static tessel::String hashFile(const tessel::String& dllPath);
    // For publishers: sets sha256 from the library, then signs the infos with `key`. False
    // (signature left empty) when the key cannot sign.
    bool sign(tessel::ISign& key, const tessel::String& dllPath);

    // The infos through the same reader (their keys are siblings of "signature"), then
    // "signature".
    void read(tessel::IKeyReader& reader) override;
    void read(tessel::IReader& reader) override;
    void write(tessel::IKeyWriter& writer) override;
    void write(tessel::IWriter& writer) override;

    DllInfos m_infos;
    tessel::String m_signature;
    tessel::ISerialize& m_signedPart;
};

// Accepts the library at dllPath when the signature file at sigPath describes it and its
// signature verifies with the PEM public key `publicKeyPem`; raises EBadSignature otherwise,
// after logging "Bad dll signature for " + dllPath ("VexlanClient", "verifyDllSignature")
// when the check itself failed. A key that cannot be read refuses every library.
void verifyComponentSignature(const tessel::String& dllPath, const tessel::String& sigPath,
                              const tessel::String& publicKeyPem);

// What the gateway's component record says a library is: the name its publisher signed it
// with (the record's pattern) and its version.
struct ComponentIdentity {
    tessel::String name;
    tessel::String version;
};

// The check above, then the signed name and version must equal `expected`'s byte for byte: a
// genuine library signed as another component, or as another version of it, is refused with
// EBadSignature after one ERROR line ("VexlanClient", "verifyDllSignature") naming what
// differed. The sub-clients call this before every load, a library kept from an earlier run
// included.
void verifyComponentSignature(const tessel::String& dllPath, const tessel::String& sigPath,
                              const tessel::String& publicKeyPem,
                              const ComponentIdentity& expected);
