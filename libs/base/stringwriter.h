// StringWriter: a sequential writer that appends to a caller's String. Integers go most
// significant byte first, booleans as one byte, strings and buffers without length or
// terminator: this is the exact byte sequence that component signatures cover.
#pragma once

#include "base/serialize.h"

namespace tessel {

class StringWriter : public IWriter {
public:
    // `target` is the caller's and must outlive the writer.
    explicit StringWriter(String& target) : m_target(target) {}

    using IWriter::write;
    void write(const void* data, int len) override;
    void write(const Buffer& data, int len) override;
    void write(ISerialize& object) override { object.write(static_cast<IWriter&>(*this)); }
    void write(const Buffer& data) override { write(data.data(), static_cast<int>(data.length())); }
    void write(const String& text) override { m_target.append(text); }
    void write(char value) override { m_target.append(value); }
    void write(unsigned char value) override { m_target.append(static_cast<char>(value)); }
    void write(bool value) override { m_target.append(value ? '\1' : '\0'); }
    void write(int value) override { write(static_cast<unsigned int>(value)); }
    void write(short value) override { write(static_cast<unsigned short>(value)); }
    void write(unsigned int value) override;
    void write(unsigned short value) override;
    // Grows the string's capacity by `len`.
    void reserve(int len) override;

private:
    String& m_target;
};

}  // namespace tessel
