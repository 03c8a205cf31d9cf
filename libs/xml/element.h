// XML elements with their attributes, and the element parser: start tags with attributes and
// namespace declarations, then content (texts, comments, child elements) up to the closing tag.
//
// The parser is iterative: nesting depth costs heap memory, never stack. Parsed names, texts and
// values share the storage of the source text, and elements share the namespace declarations
// in scope, so a document costs time and memory in proportion to its length. Errors raise the
// XmlException family after the log line listed with each operation.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "xml/node.h"

namespace tessel {
namespace xml {

class Document;

namespace detail {
struct ParseCursor;
}

// An attribute value and the way it was quoted.
class AttributeValue {
public:
    enum Quote : int {
        kSingle = 0,    // 'value'
        kDouble = 1,    // "value"
        kUnquoted = 2,  // value
    };

    AttributeValue() = default;
    AttributeValue(const String& text, int quote) : m_text(text), m_quote(quote) {}

    const String& text() const noexcept { return m_text; }
    int quote() const noexcept { return m_quote; }
    void set(const String& text, int quote) {
        m_text = text;
        m_quote = quote;
    }

    // Parses a value from its first character (not whitespace) and returns the offset after
    // it. Quoted values run to the matching quote, others to the first blank, carriage return,
    // line feed, tab or ">". The value is trimmed, then "&quot;" and "&#39;" are decoded.
    // A missing closing quote: logged, EXmlAttributeValue.
    uint32_t parse(const String& text, uint32_t offset);
    // The quoted form; the quote characters inside are written as entities.
    String toXml() const;

private:
    String m_text;
    int m_quote = kDouble;
};

// One attribute of an element; attributes are kept in document order.
class Attribute : public ISerialize {
public:
    Attribute() = default;
    explicit Attribute(const String& name) : m_name(name) {}
    Attribute(const String& name, const String& value, int quote = AttributeValue::kDouble)
        : m_name(name), m_hasValue(true), m_value(value, quote) {}
    // Copies name and value only (not the place in a list).
    Attribute(const Attribute& other);
    Attribute& operator=(const Attribute& other);

    // The sequential form: the name, then the value (read back double-quoted). The keyed
    // forms raise ENotImplemented.
    void read(IKeyReader& reader) override;
    void read(IReader& reader) override;
    void write(IKeyWriter& writer) override;
    void write(IWriter& writer) override;

    String name() const;
    bool hasValue() const noexcept { return m_hasValue; }
    AttributeValue value() const;
    // Name and value without taking a reference: valid while the tree lives.
    const String& nameView() const noexcept { return m_name; }
    const AttributeValue& valueView() const noexcept { return m_value; }
    void setName(const String& name);
    void setValue(const String& text, int quote = AttributeValue::kDouble);

    Attribute* next() const noexcept { return m_next; }
    Attribute* previous() const noexcept { return m_previous; }

    // Parses one attribute from `offset`: whitespace, the name, and "=" with a value when
    // there is one. Returns where the next attribute starts; `end` tells that the start tag
    // ends there (an empty name, the end of the text, or ">" or "/" after the value).
    // Raises EXmlAttribute on a "=" without value and on a bad value (both logged).
    uint32_t parse(const String& text, uint32_t offset, bool& end);
    // name, name="value" (with its own quotes), or nothing for an empty "xmlns".
    String toXml() const;

private:
    friend class Element;
    friend class Document;
    void noteStored(const String& text);

    String m_name;
    bool m_hasValue = false;
    bool m_inArena = false;  // destroyed with its document, never deleted
    AttributeValue m_value;
    Attribute* m_next = nullptr;
    Attribute* m_previous = nullptr;
    Document* m_document = nullptr;
};

// Bounds on what one parsed document may hold, far above any settings or signature file; past
// them the parser logs at level 2 and raises EXmlElement, like any other syntax error.
constexpr uint32_t kMaxDepth = 100000;     // elements nested in one another, the root included
constexpr uint32_t kMaxAttributes = 1000;  // attributes of one start tag, declarations included
constexpr uint32_t kMaxNamespaces = 1000;  // prefix declarations in scope at one element

// One namespace prefix declaration of a parsed tree (internal to libs/xml).
struct NamespaceScope;

class Element : public Node {
public:
    // Inline: the parser makes one element per tag, and an out-of-line call would take the
    // name through memory.
    explicit Element(String name = String()) : Node(kElementNode), m_name(std::move(name)) {}
    // Deletes the children and attributes (iteratively).
    ~Element() override;

    // The sequential form: name, attribute count, attributes, child count, then per child
    // its type code and the child. Reading replaces the content; a code without creator
    // raises EXmlElement, a code above 11 XmlException (both logged).
    void read(IReader& reader) override;
    void write(IWriter& writer) override;
    using Node::read;
    using Node::write;

    String name() const override { return own(m_name); }
    // The name without taking a reference: valid while the tree lives.
    const String& nameView() const noexcept { return m_name; }
    String toXml(const String& indent) const override;
    uint32_t offset() const override { return m_start; }

    // Parses the element from `offset`, just after its name in `text`: attributes, then the
    // content and the closing tag, whatever its name. Returns the offset after the element, or
    // kNone when the text ended inside it. The element keeps the text (copied first when it
    // has no storage of its own) and the parsed nodes for as long as it lives.
    // A ">" inside a quoted attribute value belongs to the value. Past kMaxDepth,
    // kMaxAttributes or kMaxNamespaces: logged at level 2, EXmlElement.
    virtual uint32_t parse(const String& text, uint32_t offset);

    void setName(const String& name);
    uint32_t startOffset() const noexcept { return m_start; }
    uint32_t endOffset() const noexcept { return m_end; }
    void setStartOffset(uint32_t offset) noexcept { m_start = offset; }

    Node* firstChild() const noexcept { return m_firstChild; }
    Node* lastChild() const noexcept { return m_lastChild; }
    uint32_t childCount() const noexcept { return m_childCount; }
    // Appends `child` (taken over; it must not belong to a list yet).
    void appendChild(Node* child) {
        if (m_document && !child->m_inArena)
            noteForeignChild();
        child->m_previous = m_lastChild;
        child->m_next = nullptr;
        if (m_lastChild) {
            m_lastChild->m_next = child;
        } else {
            m_firstChild = child;
        }
        m_lastChild = child;
        ++m_childCount;
    }
    // The first text child, or null.
    Node* firstText() const;

    Attribute* firstAttribute() const noexcept { return m_firstAttribute; }
    Attribute* lastAttribute() const noexcept { return m_lastAttribute; }
    uint32_t attributeCount() const noexcept { return m_attributeCount; }
    // Appends `attribute` (taken over).
    void appendAttribute(Attribute* attribute);
    // Exact, case-sensitive lookup; null when absent.
    Attribute* findAttribute(const String& name) const;
    // Sets the "xmlns" attribute, creating it (double-quoted) when absent.
    void setNamespace(const String& uri);
    // The URI of a namespace prefix known to this element (declared on it or passed down by
    // its parent); empty when unknown. Walks the declarations in scope (kMaxNamespaces at most).
    String namespaceUri(const String& prefix) const;
    bool defaultNamespaceSeen() const noexcept { return m_defaultNamespaceSeen; }

private:
    using Cursor = detail::ParseCursor;

    // Start tag from just after the name: attributes and namespaces. Returns the offset after
    // ">" and tells whether the element was empty ("/>").
    uint32_t parseStartTag(Cursor& cursor, uint32_t offset, bool& empty);
    void declarePrefix(Cursor& cursor, const String& declaration, const String& uri);
    void resolveNames(Cursor& cursor);
    // Takes this element's own prefix declarations out of the parser's view of the scope.
    void leaveScope(Cursor& cursor, const NamespaceScope* outer) const;
    void clear();
    void noteForeignChild();
    Attribute* newAttribute(const String& name, const String& value);

    // Frees a document where its type is complete, so that the constructor can be inline.
    struct DocumentRelease {
        void operator()(Document* document) const noexcept;
    };
    // Declared first so that it goes last: the nodes of a parsed tree live in it.
    std::unique_ptr<Document, DocumentRelease> m_ownedDocument;
    String m_name;
    // The declarations in scope, own ones first, then those of the enclosing elements (a chain
    // shared with them); owned by the document.
    NamespaceScope* m_namespaces = nullptr;
    Attribute* m_xmlns = nullptr;  // the "xmlns" attribute, when there is one
    Node* m_firstChild = nullptr;
    Node* m_lastChild = nullptr;
    Attribute* m_firstAttribute = nullptr;
    Attribute* m_lastAttribute = nullptr;
    uint32_t m_start = kNone;
    uint32_t m_end = kNone;
    uint32_t m_childCount = 0;
    uint32_t m_attributeCount = 0;
    bool m_defaultNamespaceSeen = false;

    friend class Node;
};

}  // namespace xml
}  // namespace tessel
