#include "tls/evpdigest.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <algorithm>

#include "base/console.h"

namespace tessel {
namespace tls {

struct EVPDigest::Context {
    EVP_MD* md = nullptr;
    EVP_MD_CTX* ctx = nullptr;
    ~Context() {
        EVP_MD_CTX_free(ctx);
        EVP_MD_free(md);
    }
};

EVPDigest::EVPDigest(const String& name) : m_context(new Context) {
    initByName(name);
}

EVPDigest::~EVPDigest() = default;

void EVPDigest::initByName(const String& name) {
    EVP_MD* md = name.isEmpty() ? nullptr : EVP_MD_fetch(nullptr, name.c_str(), nullptr);
    if (!md) {
        ERR_clear_error();  // the failed lookup must not linger in this thread's error queue
        log(2, "EVPDigest", "initByName", "Cannot retrive digest \"" + name + "\".");
        TESSEL_THROW(EEVPDigest);
    }
    m_context->md = md;
    m_context->ctx = EVP_MD_CTX_new();
    if (!m_context->ctx || EVP_DigestInit_ex(m_context->ctx, md, nullptr) != 1) {
        ERR_clear_error();
        log(2, "EVPDigest", "initByName", "Cannot retrive digest \"" + name + "\".");
        TESSEL_THROW(EEVPDigest);
    }
}

void EVPDigest::update(const Buffer& data) {
    update(data.data(), data.length());
}

void EVPDigest::update(const void* data, uint32_t length) {
    if (length > 0)
        EVP_DigestUpdate(m_context->ctx, data, length);
}

Buffer EVPDigest::finish() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->ctx, out, &length);
    // Ready for the next input with the same algorithm.
    EVP_DigestInit_ex(m_context->ctx, m_context->md, nullptr);
    return Buffer(out, length);
}

Buffer EVPDigest::digestAll(IReader& reader) {
    Buffer chunk;
    for (int left = reader.available(); left > 0; left = reader.available()) {
        int n = std::min(left, 1024);
        reader.read(chunk, n);
        update(chunk);
    }
    return finish();
}

int EVPDigest::size() const {
    return EVP_MD_get_size(m_context->md);
}

}  // namespace tls
}  // namespace tessel
