// Keyed reading of XML documents: ParserReader parses a file and offers its root element as
// the only key; KeyReader walks an element's child elements as keys (matched by their names in
// lower case) and reads the first text child as the value.
//
// Each getKey consumes the element it returns, so repeated keys come back one after the other
// in document order. A reader returned by getKey belongs to its parent and is re-bound by the
// next getKey on that parent. The tree belongs to the ParserReader. Not synchronised.
//
// Texts are taken literally by default. With TextEntities::kDecode, "&lt;", "&gt;", "&amp;",
// "&quot;" and "&apos;" in element text are decoded (documents written by WriterKeyWriter);
// attribute values always keep their own two entities only (see AttributeValue).
#pragma once

#include <memory>

#include "base/exception.h"
#include "base/serialize.h"
#include "xml/element.h"

namespace tessel {
namespace xml {

enum class TextEntities {
    kLiteral,  // element text as it stands
    kDecode,   // the five predefined entities of element text are decoded
};

// `text` with "&lt;", "&gt;", "&amp;", "&quot;" and "&apos;" decoded in one pass; any other
// "&" stays as it is.
String decodeTextEntities(const String& text);

// The value operations shared by both readers, over one element.
class ElementValueReader : public IKeyReader {
public:
    using IKeyReader::read;
    // Raw reads and positions are not supported: the reader's exception.
    void read(void* data, int len) override;
    void read(Buffer& data, int len) override;
    int available() override;
    int position() override;
    void seek(int position) override;

    // object.read(IKeyReader&) with this reader.
    void read(ISerialize& object) override;
    // The value text decoded from Base64.
    void read(Buffer& data) override;
    // The text of the first text child, or empty.
    void read(String& text) override;
    // The first character of the value, 0 when it is empty.
    void read(char& value) override;
    void read(unsigned char& value) override;
    // "true", "yes", "on" / "false", "no", "off" in any case; anything else is logged
    // ("cannot read boolean") and raises.
    void read(bool& value) override;
    // atol of the value.
    void read(int& value) override;
    void read(short& value) override;
    // Optional sign, then digits up to the first other byte.
    void read(unsigned int& value) override;
    void read(unsigned short& value) override;

    bool hasAttribute(const char* name) override;
    // The attribute's value, or empty.
    String getAttribute(const char* name) override;

    Element* element() const noexcept { return m_element; }
    TextEntities textEntities() const noexcept { return m_entities; }

protected:
    ElementValueReader(Element* element, TextEntities entities, const char* logName)
        : m_element(element), m_entities(entities), m_logName(logName) {}
    // Throws the reader's own exception (EKeyReader or EParserReader) for the shared
    // operations above; the derived readers' own failures throw at their sites.
    [[noreturn]] virtual void raise() const = 0;

    Element* m_element;
    TextEntities m_entities;

private:
    String valueText();
    const char* m_logName;
};

class KeyReader : public ElementValueReader {
public:
    // `element` is not owned (null: bind before use).
    explicit KeyReader(Element* element = nullptr, TextEntities entities = TextEntities::kLiteral);
    ~KeyReader() override;
    KeyReader(const KeyReader&) = delete;
    KeyReader& operator=(const KeyReader&) = delete;

    // Points the reader at another element.
    void bind(Element* element);

    // Unconsumed child elements whose lower-case name equals `key`.
    int count(const String& key) override;
    int count(const char* key) override { return count(String(key)); }
    bool hasKey(const String& key) override;
    bool hasKey(const char* key) override { return hasKey(String(key)); }
    // Consumes the first such child and returns the child reader bound to it; raises
    // xml::EKeyReader (without logging) when there is none.
    IKeyReader* getKey(const String& key) override;
    IKeyReader* getKey(const char* key) override { return getKey(String(key)); }

protected:
    [[noreturn]] void raise() const override;

private:
    Element* findKey(const String& key) const;

    std::unique_ptr<KeyReader> m_child;
    // The child returned last: every matching child up to it is consumed, so the next search
    // for the same key starts after it.
    Element* m_lastTaken = nullptr;
};

class ParserReader : public ElementValueReader {
public:
    // Parses the file at `path`. A missing file raises EParserReader; a file that cannot be
    // read raises EFile; the parser's exceptions pass unchanged.
    explicit ParserReader(const String& path, TextEntities entities = TextEntities::kLiteral);
    // Reads an already parsed tree (taken over).
    explicit ParserReader(std::unique_ptr<Element> root,
                          TextEntities entities = TextEntities::kLiteral);
    ~ParserReader() override;
    ParserReader(const ParserReader&) = delete;
    ParserReader& operator=(const ParserReader&) = delete;

    // The only key is the root element (its lower-case name). getKey returns the element
    // reader bound to the root, every time (no consumption), or raises EParserReader. All
    // three raise EParserReader when there is no root.
    int count(const String& key) override;
    int count(const char* key) override { return count(String(key)); }
    bool hasKey(const String& key) override;
    bool hasKey(const char* key) override { return hasKey(String(key)); }
    IKeyReader* getKey(const String& key) override;
    IKeyReader* getKey(const char* key) override { return getKey(String(key)); }

    Element* root() const noexcept { return m_root.get(); }

protected:
    [[noreturn]] void raise() const override;

private:
    bool rootMatches(const String& key);

    std::unique_ptr<Element> m_root;
    KeyReader m_reader;
};

}  // namespace xml
}  // namespace tessel
