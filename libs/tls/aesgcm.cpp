#include "tls/aesgcm.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace tessel {
namespace tls {
namespace {

struct ContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextFree>;

}  // namespace

bool aesGcmSeal(const Buffer& key, const std::string& associated, const unsigned char* plain,
                uint32_t length, Buffer& sealed) {
    if (key.length() != kAesGcmKeyLength || length > UINT32_MAX - kAesGcmOverhead)
        return false;
    Buffer out(kAesGcmOverhead + length);
    unsigned char* nonce = out.mutableData();
    unsigned char* cipher = nonce + kAesGcmNonceLength;
    unsigned char* tag = cipher + length;
    if (!randomBytes(nonce, kAesGcmNonceLength))
        return false;
    Context context(EVP_CIPHER_CTX_new());
    int n = 0;
    bool ok =
        context &&
        EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kAesGcmNonceLength, nullptr) &&
        EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) &&
        EVP_EncryptUpdate(context.get(), nullptr, &n,
                          reinterpret_cast<const unsigned char*>(associated.data()),
                          static_cast<int>(associated.size()));
    if (ok && length > 0) {
        ok = EVP_EncryptUpdate(context.get(), cipher, &n, plain, static_cast<int>(length));
    }
    unsigned char rest[16];  // GCM writes nothing at the end; the room is only formal
    int last = 0;
    ok = ok && EVP_EncryptFinal_ex(context.get(), rest, &last) &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kAesGcmTagLength, tag);
    if (!ok) {
        ERR_clear_error();
        return false;
    }
    sealed = out;
    return true;
}

bool aesGcmOpen(const Buffer& key, const std::string& associated, const unsigned char* sealed,
                uint32_t length, Buffer& plain) {
    if (key.length() != kAesGcmKeyLength || length < kAesGcmOverhead)
        return false;
    uint32_t plainLength = length - kAesGcmOverhead;
    const unsigned char* nonce = sealed;
    const unsigned char* cipher = nonce + kAesGcmNonceLength;
    const unsigned char* tag = cipher + plainLength;
    Buffer out(plainLength);
    Context context(EVP_CIPHER_CTX_new());
    int n = 0;
    bool ok =
        context &&
        EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, kAesGcmNonceLength, nullptr) &&
        EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce) &&
        EVP_DecryptUpdate(context.get(), nullptr, &n,
                          reinterpret_cast<const unsigned char*>(associated.data()),
                          static_cast<int>(associated.size()));
    if (ok && plainLength > 0) {
        ok = EVP_DecryptUpdate(context.get(), out.mutableData(), &n, cipher,
                               static_cast<int>(plainLength));
    }
    unsigned char rest[16];  // GCM writes nothing at the end; the room is only formal
    int last = 0;
    ok = ok &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kAesGcmTagLength,
                             const_cast<unsigned char*>(tag)) &&
         EVP_DecryptFinal_ex(context.get(), rest, &last) > 0;
    if (!ok) {
        // Bytes decrypted before the tag failed are not to be seen.
        if (plainLength > 0)
            cleanse(out.mutableData(), plainLength);
        ERR_clear_error();
        return false;
    }
    plain = out;
    return true;
}

bool randomBytes(unsigned char* out, uint32_t length) {
    if (RAND_bytes(out, static_cast<int>(length)) == 1)
        return true;
    ERR_clear_error();
    return false;
}

void cleanse(void* data, size_t length) {
    OPENSSL_cleanse(data, length);
}

}  // namespace tls
}  // namespace tessel
