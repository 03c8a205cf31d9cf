// tls::RSA: one RSA key read from PEM text, for PKCS#1 v1.5 signatures over SHA-1 (the
// component signature format). It also generates keys and writes them as PEM, for the
// publisher's signing tool. An object is used by one thread at a time.
#pragma once

#include "base/buffer.h"
#include "base/string.h"
#include "tls/sign.h"

namespace tessel {
namespace tls {

class RSA : public ISign {
public:
    // No key: every check fails and sign gives an empty buffer.
    RSA();
    ~RSA() override;
    RSA(const RSA&) = delete;
    RSA& operator=(const RSA&) = delete;

    Buffer sign(const Buffer& data) override;

    // Reads one PEM key: with isPublic a public key block (SubjectPublicKeyInfo), otherwise
    // a private key block, encrypted ones being opened with `password`. Only RSA keys are
    // taken. False (and no key kept, a previous one included) when none can be read.
    bool loadKey(const String& pem, const String& password, bool isPublic);
    // True when `signature` is a PKCS#1 v1.5 signature of SHA-1(data[0, length)) by this key.
    // The signature must be exactly the modulus size; anything else is refused.
    bool verifySignature(const void* data, int length, const Buffer& signature) const;

    bool hasKey() const { return m_key != nullptr; }
    // The modulus size in bytes (the signature size), 0 without a key.
    int size() const;
    // The modulus size in bits, 0 without a key.
    int bits() const;

    // Replaces the key by a fresh key pair of `bits` bits.
    bool generate(int bits);
    // The public half as a PEM public key block (SubjectPublicKeyInfo); empty without a key.
    String publicKeyPem() const;
    // The private key as an unencrypted PKCS#8 PEM block; empty without a private key.
    String privateKeyPem() const;

private:
    void reset();

    struct Key;
    Key* m_key;
};

}  // namespace tls
}  // namespace tessel
