// ISign: something that signs data with a private key (tls::RSA).
#pragma once

#include "base/buffer.h"

namespace tessel {

class ISign {
public:
    virtual ~ISign() = default;
    // The signature of `data`, or an empty buffer when it cannot be computed.
    virtual Buffer sign(const Buffer& data) = 0;
};

}  // namespace tessel
