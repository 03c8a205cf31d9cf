#include "xml/writerkeywriter.h"

#include "base/base64.h"
#include "base/console.h"
#include "base/exception.h"

namespace tessel {
namespace xml {
namespace {

String escapeText(const String& text) {
    uint32_t at = text.findFirstOf("&<>");
    if (at == String::npos)
        return text;
    String out;
    out.append(text.data(), at);
    for (uint32_t i = at; i < text.length(); ++i) {
        char c = text[i];
        switch (c) {
            case '&':
                out.append("&amp;", 5);
                break;
            case '<':
                out.append("&lt;", 4);
                break;
            case '>':
                out.append("&gt;", 4);
                break;
            default:
                out.append(c);
                break;
        }
    }
    return out;
}

}  // namespace

WriterKeyWriter::WriterKeyWriter(IWriter& output, const String& indent, bool escape)
    : m_output(output), m_indent(indent), m_escapeText(escape) {}

WriterKeyWriter::~WriterKeyWriter() {
    try {
        finish();
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH(e);
    } catch (...) {
        log(0, "xml.WriterKeyWriter", "finish", "unexpected exception");
    }
}

void WriterKeyWriter::completeStartTag() {
    if (!m_closed) {
        m_closed = true;
        put(">");
    }
}

void WriterKeyWriter::finish() {
    completeStartTag();
    bool nested = false;
    if (m_child) {
        nested = m_child->m_nested;
        m_child->finish();
    }
    String name = m_name;
    m_nested = false;
    m_name = String();
    if (!name.isEmpty()) {
        String text;
        if (nested)
            text.appendAll("\r\n", m_indent);
        text.appendAll("</", name, '>');
        put(text);
    }
}

IKeyWriter* WriterKeyWriter::writeKey(const String& key) {
    completeStartTag();
    bool nested = false;
    if (m_child) {
        nested = m_child->m_nested;
        m_child->finish();
    }
    String text;
    if (!m_name.isEmpty()) {
        if (nested)
            text.appendAll("\r\n", m_indent);
        text.appendAll("</", m_name, '>');
    }
    if (!m_indent.isEmpty())
        text.appendAll("\r\n", m_indent);
    if (!m_child) {
        String childIndent = m_indent;
        childIndent.append(' ');
        m_child = std::make_unique<WriterKeyWriter>(m_output, childIndent, m_escapeText);
    }
    m_name = key;
    text.appendAll('<', key);
    m_child->m_closed = false;
    put(text);
    return m_child.get();
}

IKeyWriter* WriterKeyWriter::writeAttribute(const String& name, const String& value) {
    String text;
    text.appendAll(' ', name, "=\"", value, '"');
    put(text);
    return this;
}

void WriterKeyWriter::write(const String& text) {
    completeStartTag();
    put(m_escapeText ? escapeText(text) : text);
}

void WriterKeyWriter::write(ISerialize& object) {
    completeStartTag();
    object.write(static_cast<IKeyWriter&>(*this));
    m_nested = true;
}

void WriterKeyWriter::write(const void* data, int len) {
    if (len <= 0 || !data) {
        write(String());
        return;
    }
    write(String(static_cast<const char*>(data), static_cast<uint32_t>(len)));
}

void WriterKeyWriter::write(const Buffer& data, int len) {
    uint32_t n = len < 0 ? 0 : static_cast<uint32_t>(len);
    if (n > data.length())
        n = data.length();
    write(base64Encode(data.data(), n));
}

void WriterKeyWriter::write(const Buffer& data) {
    write(base64Encode(data));
}
void WriterKeyWriter::write(char value) {
    write(String(value));
}
void WriterKeyWriter::write(unsigned char value) {
    write(String(static_cast<uint8_t>(value)));
}
void WriterKeyWriter::write(bool value) {
    write(String(value ? "true" : "false"));
}
void WriterKeyWriter::write(int value) {
    write(String(static_cast<int32_t>(value)));
}
void WriterKeyWriter::write(short value) {
    write(String(static_cast<int16_t>(value)));
}
void WriterKeyWriter::write(unsigned int value) {
    write(String(static_cast<uint32_t>(value)));
}
void WriterKeyWriter::write(unsigned short value) {
    write(String(static_cast<uint16_t>(value)));
}

}  // namespace xml
}  // namespace tessel
