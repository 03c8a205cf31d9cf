#include "base/stringwriter.h"

namespace tessel {

void StringWriter::write(const void* data, int len) {
    if (len > 0)
        m_target.append(static_cast<const char*>(data), static_cast<uint32_t>(len));
}

void StringWriter::write(const Buffer& data, int len) {
    // Never past the buffer's end; a negative count writes nothing.
    if (len <= 0)
        return;
    if (static_cast<uint32_t>(len) > data.length())
        len = static_cast<int>(data.length());
    write(data.data(), len);
}

void StringWriter::write(unsigned int value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                           static_cast<char>(value >> 8), static_cast<char>(value)};
    m_target.append(bytes, 4);
}

void StringWriter::write(unsigned short value) {
    const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value)};
    m_target.append(bytes, 2);
}

void StringWriter::reserve(int len) {
    if (len <= 0)
        return;
    // The reserved bytes stay outside the string; keep it terminated so that c_str() has
    // nothing to copy.
    *m_target.reserveAppend(static_cast<uint32_t>(len)) = '\0';
}

}  // namespace tessel
