#include "xml/element.h"

#include <cstring>
#include <memory>
#include <vector>

#include "base/console.h"
#include "base/exception.h"

namespace tessel {
namespace xml {
namespace {

// Byte classes of the scanner.
enum : unsigned char {
    kSpace = 1,      // blank, tab, line feed, carriage return
    kTagStop = 2,    // ends a tag name: blank, CR, LF, tab, "/", ">"
    kNameStop = 4,   // ends an attribute name: ">", "/", "=", blank, CR, tab, LF
    kValueStop = 8,  // ends an unquoted value: blank, CR, LF, tab, ">"
};

struct ByteClasses {
    unsigned char of[256];
    constexpr ByteClasses() : of() {
        for (unsigned char c : {' ', '\t', '\n', '\r'}) {
            of[c] = kSpace | kTagStop | kNameStop | kValueStop;
        }
        of[static_cast<unsigned char>('/')] = kTagStop | kNameStop;
        of[static_cast<unsigned char>('>')] = kTagStop | kNameStop | kValueStop;
        of[static_cast<unsigned char>('=')] = kNameStop;
    }
};
constexpr ByteClasses kClasses;

inline bool is(char c, unsigned char cls) {
    return (kClasses.of[static_cast<unsigned char>(c)] & cls) != 0;
}

inline bool isTrimmed(char c) { return c == 0 || is(c, kSpace); }

// Attribute values carry only two entities.
String decodeAttributeEntities(const String& value) {
    if (value.find('&') == String::npos) return value;
    return value.replace("&quot;", "\"").replace("&#39;", "'");
}

}  // namespace

// The source text being parsed, with the last quote searches remembered: start tags whose
// quotes are unbalanced would otherwise scan to the same far quote again and again.
namespace detail {

struct ParseCursor {
    explicit ParseCursor(const String& source)
        : text(source), data(source.data()), length(source.length()) {}

    uint32_t skipSpace(uint32_t p) const {
        while (p < length && is(data[p], kSpace)) ++p;
        return p;
    }
    uint32_t find(char c, uint32_t from) const {
        if (from >= length) return String::npos;
        const void* hit = std::memchr(data + from, c, length - from);
        return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - data) : String::npos;
    }
    uint32_t findQuote(char quote, uint32_t from) {
        Memo& memo = quote == '\'' ? single : dual;
        if (memo.valid && from >= memo.from && (memo.found == String::npos || from <= memo.found)) {
            return memo.found;
        }
        memo.valid = true;
        memo.from = from;
        memo.found = find(quote, from);
        return memo.found;
    }
    bool startsWith(uint32_t p, const char* prefix, uint32_t prefixLength) const {
        return p + prefixLength <= length && std::memcmp(data + p, prefix, prefixLength) == 0;
    }
    // The slice [from, to) without whitespace and NUL bytes at either end.
    String trimmed(uint32_t from, uint32_t to) const {
        while (from < to && isTrimmed(data[from])) ++from;
        while (to > from && isTrimmed(data[to - 1])) --to;
        return from == to ? String() : text.substring(from, to - from);
    }

    struct Memo {
        bool valid = false;
        uint32_t from = 0;
        uint32_t found = 0;
    };

    const String& text;
    const char* data;
    uint32_t length;
    Memo single;
    Memo dual;
};

}  // namespace detail

using Cursor = detail::ParseCursor;

namespace {

uint32_t parseValue(Cursor& c, uint32_t p, AttributeValue& value);
uint32_t parseAttribute(Cursor& c, uint32_t p, Attribute& attribute, bool& end);

}  // namespace

// ---------------------------------------------------------------------------------------------
// AttributeValue

uint32_t AttributeValue::parse(const String& text, uint32_t offset) {
    Cursor cursor(text);
    return parseValue(cursor, offset, *this);
}

String AttributeValue::toXml() const {
    String out;
    switch (m_quote) {
        case kSingle:
            out.appendAll('\'', m_text.replace("'", "&#39;"), '\'');
            break;
        case kDouble:
            out.appendAll('"', m_text.replace("\"", "&quot;"), '"');
            break;
        default:
            out = m_text.replace("'", "&#39;").replace("\"", "&quot;");
            break;
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Attribute

void Attribute::read(IKeyReader&) { TESSEL_THROW(ENotImplemented); }
void Attribute::write(IKeyWriter&) { TESSEL_THROW(ENotImplemented); }

void Attribute::read(IReader& reader) {
    String name;
    String value;
    reader.read(name);
    reader.read(value);
    m_name = name;
    setValue(value, AttributeValue::kDouble);
}

void Attribute::write(IWriter& writer) {
    writer.write(m_name);
    writer.write(m_value.text());
}

uint32_t Attribute::parse(const String& text, uint32_t offset, bool& end) {
    Cursor cursor(text);
    return parseAttribute(cursor, offset, *this, end);
}

String Attribute::toXml() const {
    if (!m_hasValue) return m_name;
    if (m_name == "xmlns" && m_value.text().isEmpty()) return String();
    String out;
    if (!m_value.text().isEmpty() || m_value.quote() != AttributeValue::kUnquoted) {
        out.appendAll(m_name, '=', m_value.toXml());
    } else {
        out.appendAll(m_name, '=');
    }
    return out;
}

namespace {

uint32_t parseValue(Cursor& c, uint32_t p, AttributeValue& value) {
    char first = c.data[p];
    String raw;
    int quote;
    uint32_t after;
    if (first == '\'' || first == '"') {
        uint32_t close = c.findQuote(first, p + 1);
        if (close == String::npos) {
            log(2, "xml.AttributeValue", "parse", "Problem with element: " + c.text.substring(p));
            TESSEL_THROW(xml::EXmlAttributeValue);
        }
        quote = first == '\'' ? AttributeValue::kSingle : AttributeValue::kDouble;
        raw = c.trimmed(p + 1, close);
        after = close + 1;
    } else {
        uint32_t e = p;
        while (e < c.length && !is(c.data[e], kValueStop)) ++e;
        quote = AttributeValue::kUnquoted;
        raw = c.trimmed(p, e);
        after = e;
    }
    value.set(decodeAttributeEntities(raw), quote);
    return after;
}

uint32_t parseAttribute(Cursor& c, uint32_t p, Attribute& attribute, bool& end) {
    end = false;
    p = c.skipSpace(p);
    if (p >= c.length) {
        end = true;
        return c.length;
    }
    uint32_t q = p;
    while (q < c.length && !is(c.data[q], kNameStop)) ++q;
    if (q == p) {
        end = true;
        return p;
    }
    attribute.setName(c.text.substring(p, q - p));
    p = c.skipSpace(q);
    if (p >= c.length || c.data[p] != '=') return p;  // no value
    p = c.skipSpace(p + 1);
    if (p >= c.length) {
        log(2, "Attribute", "parse", "invalid attribute value (missing value with =)");
        TESSEL_THROW(xml::EXmlAttribute);
    }
    AttributeValue value;
    try {
        p = parseValue(c, p, value);
    } catch (const EXmlAttributeValue& e) {
        TESSEL_LOG_CATCH(e);
        TESSEL_THROW(xml::EXmlAttribute);
    }
    attribute.setValue(value.text(), value.quote());
    p = c.skipSpace(p);
    if (p < c.length && (c.data[p] == '>' || c.data[p] == '/')) end = true;
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Element: tree operations

Element::~Element() {
    Node* children = m_firstChild;
    m_firstChild = nullptr;
    m_lastChild = nullptr;
    deleteList(children);
    Attribute* attribute = m_firstAttribute;
    while (attribute) {
        Attribute* following = attribute->m_next;
        delete attribute;
        attribute = following;
    }
}

void Element::clear() {
    Node* children = m_firstChild;
    m_firstChild = nullptr;
    m_lastChild = nullptr;
    m_childCount = 0;
    deleteList(children);
    Attribute* attribute = m_firstAttribute;
    while (attribute) {
        Attribute* following = attribute->m_next;
        delete attribute;
        attribute = following;
    }
    m_firstAttribute = nullptr;
    m_lastAttribute = nullptr;
    m_attributeCount = 0;
}

void Element::appendChild(Node* child) {
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

Node* Element::firstText() const {
    for (Node* child = m_firstChild; child; child = child->next()) {
        if (child->type() == kTextNode) return child;
    }
    return nullptr;
}

void Element::appendAttribute(Attribute* attribute) {
    attribute->m_previous = m_lastAttribute;
    attribute->m_next = nullptr;
    if (m_lastAttribute) {
        m_lastAttribute->m_next = attribute;
    } else {
        m_firstAttribute = attribute;
    }
    m_lastAttribute = attribute;
    ++m_attributeCount;
}

Attribute* Element::findAttribute(const String& name) const {
    for (Attribute* attribute = m_firstAttribute; attribute; attribute = attribute->m_next) {
        if (attribute->m_name == name) return attribute;
    }
    return nullptr;
}

void Element::setNamespace(const String& uri) {
    Attribute* xmlns = findAttribute("xmlns");
    if (xmlns) {
        xmlns->setValue(uri, xmlns->value().quote());
    } else {
        appendAttribute(new Attribute("xmlns", uri, AttributeValue::kDouble));
    }
}

void Element::declarePrefix(const String& prefix, const String& uri) {
    if (!m_namespaces) {
        m_namespaces = new NamespaceMap;
    } else if (m_namespaces.refCount() > 1) {
        // Shared with the parent: declarations of this element go to its own copy.
        gc::Pointer<NamespaceMap> copy = new NamespaceMap;
        copy->entries = m_namespaces->entries;
        m_namespaces = copy;
    }
    m_namespaces->entries[prefix] = uri;
}

void Element::resolveNames() {
    uint32_t colon = m_name.find(':');
    if (colon != String::npos) {
        String prefix = m_name.substring(0, colon);
        const String* uri = nullptr;
        if (m_namespaces) {
            auto it = m_namespaces->entries.find(prefix);
            if (it != m_namespaces->entries.end()) uri = &it->second;
        }
        if (!uri) {
            log(0, "Element", "parse", "non-defined qualified name for element");
        } else {
            setNamespace(*uri);
            m_name = m_name.substring(colon + 1);
        }
    }
    // Each prefix used by an attribute is declared on this element once.
    Attribute* last = m_lastAttribute;
    for (Attribute* attribute = m_firstAttribute; attribute; attribute = attribute->m_next) {
        uint32_t at = attribute->m_name.find(':');
        if (at != String::npos) {
            String prefix = attribute->m_name.substring(0, at);
            if (prefix != "xmlns") {
                const String* uri = nullptr;
                if (m_namespaces) {
                    auto it = m_namespaces->entries.find(prefix);
                    if (it != m_namespaces->entries.end()) uri = &it->second;
                }
                if (!uri) {
                    log(0, "Element", "parse",
                        "non-defined qualified name for attribute : " + prefix);
                } else {
                    String declaration = "xmlns:" + prefix;
                    if (!findAttribute(declaration)) {
                        appendAttribute(new Attribute(declaration, *uri, AttributeValue::kDouble));
                    }
                }
            }
        }
        if (attribute == last) break;
    }
}

// ---------------------------------------------------------------------------------------------
// Element: parsing

uint32_t Element::parseStartTag(Cursor& c, uint32_t p, bool& empty) {
    uint32_t gt = c.find('>', p);
    if (gt == String::npos) {
        log(0, "xml.Element", "parse", "cannot parse attributes");
        TESSEL_THROW(xml::EXmlElement);
    }
    empty = gt > 0 && c.data[gt - 1] == '/';
    uint32_t attributesEnd = empty ? gt - 1 : gt;
    while (p < attributesEnd) {
        auto attribute = std::make_unique<Attribute>();
        bool end = false;
        try {
            p = parseAttribute(c, p, *attribute, end);
        } catch (const EXmlAttribute& e) {
            TESSEL_LOG_CATCH(e);
            TESSEL_THROW(xml::EXmlElement);
        }
        const String& name = attribute->name();
        if (name.isEmpty()) break;
        if (name == "xmlns") {
            if (!m_defaultNamespaceSeen) {
                setNamespace(attribute->value().text().trim());
                m_defaultNamespaceSeen = true;
            } else {
                log(0, "Element", "parse", "redefinition of xmlns attribute");
            }
        } else if (name.startsWith("xmlns:")) {
            declarePrefix(name.substring(6), attribute->value().text());
        } else {
            appendAttribute(attribute.release());
        }
        if (end) break;
    }
    resolveNames();
    return gt + 1;
}

uint32_t Element::parse(const String& text, uint32_t offset) {
    Cursor c(text);
    bool empty = false;
    uint32_t p = parseStartTag(c, offset, empty);
    if (empty) {
        m_end = p;
        return p;
    }
    // The open elements, innermost last: nesting costs heap, never stack.
    std::vector<Element*> open;
    open.push_back(this);
    auto addText = [&c](Element* to, uint32_t from, uint32_t end) {
        String content = c.trimmed(from, end);
        if (!content.isEmpty()) to->appendChild(new Text(content));
    };
    for (;;) {
        Element* current = open.back();
        uint32_t lt = c.find('<', p);
        if (lt == String::npos) {
            log(0, "xml.Element", "fromXml", "no tag found: " + text.substring(p));
            addText(current, p, c.length);
            return kNone;
        }
        // Text before a comment or a declaration is kept like text before a tag.
        if (c.startsWith(lt, "<!--", 4)) {
            addText(current, p, lt);
            auto* comment = new Comment;
            current->appendChild(comment);
            try {
                p = comment->parse(text, lt);
            } catch (const EXmlComment& e) {
                TESSEL_LOG_CATCH(e);
                p = c.length;  // the comment runs to the end of the text
            }
            continue;
        }
        if (c.startsWith(lt, "<?xml", 5)) {
            addText(current, p, lt);
            uint32_t close = text.find("?>", lt + 5);
            if (close == String::npos) {
                log(0, "xml.Element", "parse", "bad xml file format: " + text.substring(lt));
                TESSEL_THROW(xml::EXmlElement);
            }
            p = close + 2;
            continue;
        }
        addText(current, p, lt);
        uint32_t nameEnd = lt + 1;
        while (nameEnd < c.length && !is(c.data[nameEnd], kTagStop)) ++nameEnd;
        if (nameEnd >= c.length) {
            log(2, "xml.element", "parse", "bad xml file format: " + text.substring(lt));
            TESSEL_THROW(xml::EXmlElement);
        }
        String name = c.trimmed(lt + 1, nameEnd);
        if (name.isEmpty() && c.data[nameEnd] == '/') {
            // A closing tag; its name is not compared with the element's.
            uint32_t gt = c.find('>', nameEnd);
            if (gt == String::npos) return kNone;
            current->m_end = gt + 1;
            p = gt + 1;
            open.pop_back();
            if (open.empty()) return p;
            continue;
        }
        auto* child = new Element(name);
        Attribute* xmlns = current->m_attributeCount ? current->findAttribute("xmlns") : nullptr;
        if (xmlns) child->appendAttribute(new Attribute("xmlns", xmlns->value().text()));
        child->m_namespaces = current->m_namespaces;
        current->appendChild(child);
        child->m_start = lt;
        p = child->parseStartTag(c, nameEnd, empty);
        if (empty) {
            child->m_end = p;
        } else {
            open.push_back(child);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Element: rendering and the sequential form

String Element::toXml(const String& indent) const {
    String out;
    auto putIndent = [&](uint32_t depth) {
        out.append(indent);
        out.appendRepeat('\t', depth);
    };
    // Writes the start tag; true when the element has children to write.
    auto open = [&](const Element* e, uint32_t depth) {
        putIndent(depth);
        out.appendAll('<', e->m_name);
        for (Attribute* a = e->m_firstAttribute; a; a = a->m_next) out.appendAll(' ', a->toXml());
        if (!e->m_firstChild) {
            out.append("/>", 2);
            return false;
        }
        out.append('>');
        return true;
    };
    struct Frame {
        const Element* element;
        const Node* child;
        uint32_t depth;
        bool anyNonText;
    };
    std::vector<Frame> stack;
    if (open(this, 0)) stack.push_back({this, m_firstChild, 0, false});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const Node* child = frame.child;
        if (!child) {
            if (frame.anyNonText) {
                out.append('\n');
                putIndent(frame.depth);
            }
            out.appendAll("</", frame.element->m_name, '>');
            stack.pop_back();
            continue;
        }
        frame.child = child->next();
        if (child->type() == kTextNode) {
            out.append(child->value());
            continue;
        }
        frame.anyNonText = true;
        out.append('\n');
        uint32_t depth = frame.depth + 1;
        if (child->type() == kElementNode) {
            auto* element = static_cast<const Element*>(child);
            if (open(element, depth)) stack.push_back({element, element->m_firstChild, depth, false});
        } else {
            String childIndent = indent;
            childIndent.appendRepeat('\t', depth);
            out.append(child->toXml(childIndent));
        }
    }
    return out;
}

void Element::write(IWriter& writer) {
    auto header = [&writer](Element* e) {
        writer.write(e->m_name);
        writer.write(static_cast<unsigned int>(e->m_attributeCount));
        for (Attribute* a = e->m_firstAttribute; a; a = a->m_next) a->write(writer);
        writer.write(static_cast<unsigned int>(e->m_childCount));
    };
    header(this);
    std::vector<Node*> pending;  // the next child to write at each open level
    pending.push_back(m_firstChild);
    while (!pending.empty()) {
        Node* child = pending.back();
        if (!child) {
            pending.pop_back();
            continue;
        }
        pending.back() = child->next();
        writer.write(static_cast<unsigned int>(child->type()));
        if (child->type() == kElementNode) {
            auto* element = static_cast<Element*>(child);
            header(element);
            pending.push_back(element->m_firstChild);
        } else {
            child->write(writer);
        }
    }
}

void Element::read(IReader& reader) {
    // Reads name, attributes and the child count; returns the count.
    auto header = [&reader](Element* e) {
        e->clear();
        reader.read(e->m_name);
        unsigned int attributes = 0;
        reader.read(attributes);
        for (unsigned int i = 0; i < attributes; ++i) {
            auto attribute = std::make_unique<Attribute>();
            attribute->read(reader);
            e->appendAttribute(attribute.release());
        }
        unsigned int children = 0;
        reader.read(children);
        return children;
    };
    struct Frame {
        Element* element;
        unsigned int left;
    };
    std::vector<Frame> stack;
    stack.push_back({this, header(this)});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.left == 0) {
            stack.pop_back();
            continue;
        }
        --frame.left;
        Element* parent = frame.element;
        unsigned int code = 0;
        reader.read(code);
        Node* child = Factory::create(code);
        if (!child) {
            log(0, "xml.Element", "write", "cannot create node");
            TESSEL_THROW(xml::EXmlElement);
        }
        parent->appendChild(child);
        if (child->type() == kElementNode) {
            auto* element = static_cast<Element*>(child);
            unsigned int children = header(element);
            stack.push_back({element, children});  // `frame` is not used past this point
        } else {
            child->read(reader);
        }
    }
}

}  // namespace xml
}  // namespace tessel
