// Buffer: the reference-counted byte buffer for binary data and reply bodies. Same storage
// rules as String: copies share, appends copy on write.
#pragma once

#include <cstdint>

#include "base/gcobject.h"
#include "base/memoryblock.h"

namespace tessel {

class String;

class Buffer {
public:
    Buffer() noexcept = default;
    Buffer(const Buffer&) = default;
    Buffer& operator=(const Buffer&) = default;
    // Moving hands the storage over and leaves the source empty.
    Buffer(Buffer&& other) noexcept;
    Buffer& operator=(Buffer&& other) noexcept;
    // `size` bytes of owned, unspecified content.
    explicit Buffer(uint32_t size);
    // Copies the bytes.
    Buffer(const void* data, uint32_t length);
    static Buffer fromString(const String& text);

    const unsigned char* data() const noexcept { return m_data; }
    unsigned char* mutableData();
    uint32_t length() const noexcept { return m_length; }
    bool isEmpty() const noexcept { return m_length == 0; }

    Buffer& append(const void* data, uint32_t length);
    // Grows (new bytes unspecified) or cuts; the byte after the last stays 0.
    void setLength(uint32_t length);
    void clear() { setLength(0); }
    // Room for `n` more bytes; returns where they go (add them with setLength).
    unsigned char* reserveAppend(uint32_t n);

    // Two lower-case hexadecimal digits per byte.
    String hex() const;
    bool operator==(const Buffer& other) const noexcept;
    bool operator!=(const Buffer& other) const noexcept { return !(*this == other); }

private:
    gc::Pointer<MemoryBlock> m_storage;
    unsigned char* m_data = nullptr;
    uint32_t m_length = 0;
};

}  // namespace tessel
