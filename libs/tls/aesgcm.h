// AES-256-GCM: authenticated encryption of small secrets under a 32-byte key, and the
// cryptographic random generator it needs. Callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/buffer.h"

namespace tessel {
namespace tls {

constexpr uint32_t kAesGcmKeyLength = 32;
constexpr uint32_t kAesGcmNonceLength = 12;
constexpr uint32_t kAesGcmTagLength = 16;
// What sealing adds to the plain bytes: the nonce in front, the tag behind.
constexpr uint32_t kAesGcmOverhead = kAesGcmNonceLength + kAesGcmTagLength;

// Encrypts `length` bytes at `plain` under `key` with a fresh random nonce, authenticating
// `associated` as well. `sealed` receives nonce, ciphertext and tag. False (and `sealed`
// untouched) when the key has the wrong length or the library fails.
bool aesGcmSeal(const Buffer& key, const std::string& associated, const unsigned char* plain,
                uint32_t length, Buffer& sealed);

// Reverses aesGcmSeal. False (and `plain` untouched) when the bytes were altered, were sealed
// under another key or other associated data, or are too short to hold a nonce and a tag.
bool aesGcmOpen(const Buffer& key, const std::string& associated, const unsigned char* sealed,
                uint32_t length, Buffer& plain);

// Fills `out` from the cryptographic random generator; false when it cannot.
bool randomBytes(unsigned char* out, uint32_t length);

// Overwrites secret bytes in a way that the compiler does not optimise away.
void cleanse(void* data, size_t length);

}  // namespace tls
}  // namespace tessel
