// WriterKeyWriter: keyed output as indented XML text, streamed at once into any IWriter (in
// practice a File). Each level is indented by one more blank; lines end with "\r\n"; no XML
// declaration is written.
//
// Element text is escaped ("&", "<" and ">" become "&amp;", "&lt;" and "&gt;") so that any
// text reads back the same through a KeyReader with entity decoding; a writer built with
// `escapeText` false writes texts as they are (for documents whose readers take text
// literally). Attribute values are always written as they are and must not hold double quotes.
//
// The writer returned by writeKey belongs to its parent and stays valid until the next
// writeKey on that parent. Not synchronised. Errors are those of the underlying writer.
#pragma once

#include <memory>

#include "base/serialize.h"
#include "base/string.h"

namespace tessel {
namespace xml {

class WriterKeyWriter : public IKeyWriter {
public:
    // `output` is not owned and must outlive the writer; `indent` is the indentation of the
    // elements that this writer opens.
    WriterKeyWriter(IWriter& output, const String& indent, bool escapeText = true);
    // Finishes every open element (see finish); a failure then is logged, not raised.
    ~WriterKeyWriter() override;
    WriterKeyWriter(const WriterKeyWriter&) = delete;
    WriterKeyWriter& operator=(const WriterKeyWriter&) = delete;

    // Completes the open start tag and closes every element still open below and at this
    // writer. Raises what the output raises.
    void finish();

    IKeyWriter* writeKey(const String& key) override;
    IKeyWriter* writeKey(const char* key) override { return writeKey(String(key)); }
    // Writes ` name="value"` as given; only meaningful before any content of the element.
    IKeyWriter* writeAttribute(const String& name, const String& value) override;

    using IKeyWriter::write;
    // The bytes as a text.
    void write(const void* data, int len) override;
    // The first `len` bytes, as Base64.
    void write(const Buffer& data, int len) override;
    // Completes the start tag, then object.write(IKeyWriter&) with this writer.
    void write(ISerialize& object) override;
    // Base64.
    void write(const Buffer& data) override;
    void write(const String& text) override;
    void write(char value) override;
    void write(unsigned char value) override;
    // "true" or "false".
    void write(bool value) override;
    void write(int value) override;
    void write(short value) override;
    void write(unsigned int value) override;
    void write(unsigned short value) override;
    void reserve(int) override {}

private:
    void put(const String& text) { m_output.write(text.data(), static_cast<int>(text.length())); }
    void completeStartTag();

    std::unique_ptr<WriterKeyWriter> m_child;
    IWriter& m_output;
    String m_indent;
    String m_name;
    bool m_nested = false;
    bool m_closed = true;
    bool m_escapeText;
};

}  // namespace xml
}  // namespace tessel
