// tls::EVPDigest: a digest chosen by its OpenSSL name ("sha256", "md5", "sha1", ...).
// One object hashes one input at a time; it is not shared between threads.
#pragma once

#include <cstdint>
#include <memory>

#include "base/exception.h"
#include "base/string.h"
#include "tls/digest.h"

namespace tessel {
namespace tls {

// Raised when OpenSSL does not know a digest name (after an ERROR log line).
TESSEL_DECLARE_EXCEPTION(EEVPDigest, Exception);

class EVPDigest : public Digest {
public:
    // Looks the digest up and prepares its context (initByName); EEVPDigest when unknown.
    explicit EVPDigest(const String& name);
    ~EVPDigest() override;
    EVPDigest(const EVPDigest&) = delete;
    EVPDigest& operator=(const EVPDigest&) = delete;

    void update(const Buffer& data) override;
    // The same for raw bytes.
    void update(const void* data, uint32_t length);
    Buffer finish() override;
    Buffer digestAll(IReader& reader) override;

    // Size of the digest in bytes.
    int size() const;

private:
    void initByName(const String& name);

    struct Context;
    std::unique_ptr<Context> m_context;
};

}  // namespace tls
}  // namespace tessel
