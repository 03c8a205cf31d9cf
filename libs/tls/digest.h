// Digest interfaces: IDigest is what a caller hashes with, whatever the algorithm; Digest is
// the common base of the implementations (tls::EVPDigest over OpenSSL's digest table).
#pragma once

#include "base/buffer.h"
#include "base/serialize.h"

namespace tessel {

class IDigest {
public:
    // Feeds the buffer's bytes.
    virtual void update(const Buffer& data) = 0;
    // The digest of everything fed since construction or the previous finish (as many bytes
    // as the algorithm produces); the object is then ready for a new input.
    virtual Buffer finish() = 0;
    // Feeds everything the reader has left (in chunks of at most 1024 bytes) and finishes.
    virtual Buffer digestAll(IReader& reader) = 0;
    virtual ~IDigest() = default;
};

class Digest : public IDigest {};

}  // namespace tessel
