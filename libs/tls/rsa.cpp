#include "tls/rsa.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstring>

#include "base/console.h"

namespace tessel {
namespace tls {

struct RSA::Key {
    EVP_PKEY* pkey = nullptr;
    ~Key() { EVP_PKEY_free(pkey); }
};

namespace {

// Hands OpenSSL the password when it fits its buffer (with room for a terminator).
int passwordCallback(char* buffer, int size, int /*rwflag*/, void* userData) {
    const String* password = static_cast<const String*>(userData);
    int length = static_cast<int>(password->length());
    if (size < length + 1)
        return 0;
    std::memcpy(buffer, password->data(), static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

// A memory BIO's content as a String.
String bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? String::copy(data, static_cast<uint32_t>(length)) : String();
}

struct MdContext {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~MdContext() { EVP_MD_CTX_free(ctx); }
};

}  // namespace

RSA::RSA() : m_key(nullptr) {}

RSA::~RSA() {
    reset();
}

void RSA::reset() {
    delete m_key;
    m_key = nullptr;
}

bool RSA::loadKey(const String& pem, const String& password, bool isPublic) {
    reset();
    if (pem.isEmpty())
        return false;
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.length()));
    if (!bio)
        return false;
    String pass = password;
    EVP_PKEY* pkey = isPublic ? PEM_read_bio_PUBKEY(bio, nullptr, passwordCallback, &pass)
                              : PEM_read_bio_PrivateKey(bio, nullptr, passwordCallback, &pass);
    BIO_free(bio);
    if (!pkey || EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) {
        EVP_PKEY_free(pkey);
        ERR_clear_error();  // a failed read must not linger in this thread's error queue
        return false;
    }
    m_key = new Key;
    m_key->pkey = pkey;
    return true;
}

int RSA::size() const {
    return m_key ? EVP_PKEY_get_size(m_key->pkey) : 0;
}

int RSA::bits() const {
    return m_key ? EVP_PKEY_get_bits(m_key->pkey) : 0;
}

bool RSA::verifySignature(const void* data, int length, const Buffer& signature) const {
    if (!m_key || length < 0 || (length > 0 && !data))
        return false;
    // Exactly one modulus worth of bytes: a shorter or longer decoded text is refused here,
    // before OpenSSL sees it.
    int modulus = size();
    if (modulus <= 0 || signature.length() != static_cast<uint32_t>(modulus))
        return false;

    MdContext md;
    EVP_PKEY_CTX* pctx = nullptr;  // belongs to md.ctx
    bool ok =
        md.ctx && EVP_DigestVerifyInit(md.ctx, &pctx, EVP_sha1(), nullptr, m_key->pkey) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
        EVP_DigestVerify(md.ctx, signature.data(), signature.length(),
                         static_cast<const unsigned char*>(data), static_cast<size_t>(length)) == 1;
    if (!ok)
        ERR_clear_error();
    return ok;
}

Buffer RSA::sign(const Buffer& data) {
    Buffer result;
    if (m_key) {
        MdContext md;
        EVP_PKEY_CTX* pctx = nullptr;
        size_t length = static_cast<size_t>(size());
        Buffer out(static_cast<uint32_t>(length));
        if (md.ctx && EVP_DigestSignInit(md.ctx, &pctx, EVP_sha1(), nullptr, m_key->pkey) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
            EVP_DigestSign(md.ctx, out.mutableData(), &length, data.data(), data.length()) == 1) {
            out.setLength(static_cast<uint32_t>(length));
            result = out;
        }
    }
    if (result.isEmpty()) {
        ERR_clear_error();
        log(0, "tls.RSA", "sign", "Cannot compute signature!");
    }
    return result;
}

bool RSA::generate(int bits) {
    reset();
    if (bits < 1024 || bits > 16384)
        return false;
    EVP_PKEY* pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
    if (!pkey) {
        ERR_clear_error();
        return false;
    }
    m_key = new Key;
    m_key->pkey = pkey;
    return true;
}

String RSA::publicKeyPem() const {
    if (!m_key)
        return String();
    BIO* bio = BIO_new(BIO_s_mem());
    String text;
    if (bio && PEM_write_bio_PUBKEY(bio, m_key->pkey) == 1)
        text = bioText(bio);
    BIO_free(bio);
    ERR_clear_error();
    return text;
}

String RSA::privateKeyPem() const {
    if (!m_key)
        return String();
    BIO* bio = BIO_new(BIO_s_mem());
    String text;
    // PEM_write_bio_PrivateKey writes PKCS#8 ("PRIVATE KEY"); a public-only key fails.
    if (bio &&
        PEM_write_bio_PrivateKey(bio, m_key->pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1) {
        text = bioText(bio);
    }
    BIO_free(bio);
    ERR_clear_error();
    return text;
}

}  // namespace tls
}  // namespace tessel
