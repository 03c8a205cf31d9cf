#include "xml/element.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/console.h"
#include "base/exception.h"
#include "xml/bytescan.h"
#include "xml/document.h"

namespace tessel {
namespace xml {
namespace {

using detail::is;
using detail::kNameStop;
using detail::kSpace;
using detail::kTagStop;
using detail::kValueStop;

inline bool isTrimmed(char c) {
    return c == 0 || is(c, kSpace);
}

// A bound of the document was passed: `before` + the bound + `after` goes to the log. Kept out
// of line, so that the checks cost the parser's loops nothing but a comparison.
[[noreturn]] void pastBound(const char* before, uint32_t bound, const char* after) {
    log(2, "xml.Element", "parse", before + String(bound) + after);
    TESSEL_THROW(xml::EXmlElement);
}

// memchr rather than a loop: names differ in length, and a byte loop pays a mispredicted exit
// per name.
inline uint32_t findColon(const String& name) {
    const void* hit = std::memchr(name.data(), ':', name.length());
    return hit ? static_cast<uint32_t>(static_cast<const char*>(hit) - name.data()) : String::npos;
}

template <uint32_t N>
inline bool equals(const String& s, const char (&literal)[N]) {
    return s.length() == N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

template <uint32_t N>
inline bool startsWith(const String& s, const char (&literal)[N]) {
    return s.length() >= N - 1 && std::memcmp(s.data(), literal, N - 1) == 0;
}

// Attribute values carry only two entities.
String decodeAttributeEntities(const String& value) {
    if (value.find('&') == String::npos)
        return value;
    return value.replace("&quot;", "\"").replace("&#39;", "'");
}

}  // namespace

namespace detail {

// The source text being parsed. With a document, slices are views into the source, which the
// document keeps; without one (the stand-alone parse operations) they are owning slices.
// The last quote searches are remembered: start tags with unbalanced quotes would otherwise
// scan to the same far quote again and again.
// The prefixes in scope are kept in a table as well as in the elements' shared chains, so that
// resolving a prefixed name costs the same however many declarations are in scope.
struct ParseCursor {
    ParseCursor(const String& source, Document* owner)
        : text(source), data(source.data()), length(source.length()), document(owner) {}

    uint32_t skipSpace(uint32_t p) const {
        while (p < length && is(data[p], kSpace))
            ++p;
        return p;
    }
    // memchr even for near bytes: a byte loop pays a mispredicted exit per search, which
    // costs more than the call.
    uint32_t find(char c, uint32_t from) const {
        if (from >= length)
            return String::npos;
        uint32_t at = detail::scanFor(c, data, from, length);
        return at == length ? String::npos : at;
    }
    // The first ":" of `name`, or npos. Names parsed from this text are scanned in place,
    // where the bytes before them are readable too.
    uint32_t findColon(const String& name) const {
        const char* begin = name.data();
        if (begin < data || begin + name.length() > data + length)
            return xml::findColon(name);
        uint32_t from = static_cast<uint32_t>(begin - data);
        uint32_t end = from + name.length();
        uint32_t at = detail::scanFor(':', data, from, end);
        return at == end ? String::npos : at - from;
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
    // The next "-->" from `from`. Remembered like the quotes: comments that end in "-- >" would
    // otherwise each search the rest of the text for a "-->" that is not there.
    uint32_t findCommentEnd(uint32_t from) {
        if (arrow.valid && from >= arrow.from &&
            (arrow.found == String::npos || from <= arrow.found)) {
            return arrow.found;
        }
        arrow.valid = true;
        arrow.from = from;
        arrow.found = text.find("-->", from);
        return arrow.found;
    }
    bool startsWith(uint32_t p, const char* prefix, uint32_t prefixLength) const {
        return p + prefixLength <= length && std::memcmp(data + p, prefix, prefixLength) == 0;
    }
    String slice(uint32_t from, uint32_t count) const {
        if (count == 0)
            return String();
        return document ? String(data + from, count) : text.substring(from, count);
    }
    // Narrows [from, to) to leave out whitespace and NUL bytes at either end.
    void trim(uint32_t& from, uint32_t& to) const {
        while (from < to && isTrimmed(data[from]))
            ++from;
        while (to > from && isTrimmed(data[to - 1]))
            --to;
    }
    // The slice [from, to) without whitespace and NUL bytes at either end.
    String trimmed(uint32_t from, uint32_t to) const {
        trim(from, to);
        return slice(from, to - from);
    }

    // The innermost declaration of `prefix` in scope at the element being read, or null.
    NamespaceScope* lookup(std::string_view prefix) const {
        if (bindings.empty())
            return nullptr;
        auto it = bindings.find(prefix);
        return it == bindings.end() ? nullptr : it->second;
    }

    struct Memo {
        bool valid = false;
        uint32_t from = 0;
        uint32_t found = 0;
    };

    const String& text;
    const char* data;
    uint32_t length;
    Document* document;
    // Whether a ">" follows `p`, from the last ">" of the text (searched once): a tag can end.
    bool gtFollows(uint32_t p) {
        if (!lastGtKnown) {
            lastGt = text.findLast('>');
            lastGtKnown = true;
        }
        return lastGt != String::npos && lastGt >= p;
    }
    uint32_t lastGt = 0;
    bool lastGtKnown = false;
    Memo single;
    Memo dual;
    Memo arrow;
    // Each prefix declared so far to its innermost declaration in scope (null once none is).
    std::unordered_map<std::string_view, NamespaceScope*> bindings;
    // Whether the name of the element whose start tag is being read may hold a colon.
    enum ColonHint { kColonMaybe, kColonNone };
    ColonHint nameColon = kColonMaybe;
    // The declarations marked as carried by the element being resolved.
    std::vector<NamespaceScope*> carried;
};

}  // namespace detail

using Cursor = detail::ParseCursor;

namespace {

uint32_t parseValue(Cursor& c, uint32_t p, AttributeValue& value) {
    char first = c.data[p];
    uint32_t from;
    uint32_t to;
    int quote;
    uint32_t after;
    if (first == '\'' || first == '"') {
        uint32_t close = c.findQuote(first, p + 1);
        if (close == String::npos) {
            log(2, "xml.AttributeValue", "parse", "Problem with element: " + c.text.substring(p));
            TESSEL_THROW(xml::EXmlAttributeValue);
        }
        quote = first == '\'' ? AttributeValue::kSingle : AttributeValue::kDouble;
        from = p + 1;
        to = close;
        after = close + 1;
    } else {
        uint32_t e = p;
        while (e < c.length && !is(c.data[e], kValueStop))
            ++e;
        quote = AttributeValue::kUnquoted;
        from = p;
        to = e;
        after = e;
    }
    c.trim(from, to);
    // Most values hold no entity: looked for in the text, in blocks.
    if (from == to || detail::scanFor('&', c.data, from, to) == to) {
        value.set(c.slice(from, to - from), quote);
    } else {
        value.set(decodeAttributeEntities(c.slice(from, to - from)), quote);
    }
    return after;
}

// Fills the three parts of an attribute (left as they are past what was parsed).
uint32_t parseAttribute(Cursor& c, uint32_t p, String& name, bool& hasValue, AttributeValue& value,
                        bool& end) {
    end = false;
    p = c.skipSpace(p);
    if (p >= c.length) {
        end = true;
        return c.length;
    }
    uint32_t q = p;
    while (q < c.length && !is(c.data[q], kNameStop))
        ++q;
    if (q == p) {
        end = true;
        return p;
    }
    name = c.slice(p, q - p);
    p = c.skipSpace(q);
    if (p >= c.length || c.data[p] != '=')
        return p;  // no value
    p = c.skipSpace(p + 1);
    if (p >= c.length) {
        log(2, "Attribute", "parse", "invalid attribute value (missing value with =)");
        TESSEL_THROW(xml::EXmlAttribute);
    }
    try {
        p = parseValue(c, p, value);
    } catch (const EXmlAttributeValue& e) {
        TESSEL_LOG_CATCH(e);
        TESSEL_THROW(xml::EXmlAttribute);
    }
    hasValue = true;
    p = c.skipSpace(p);
    if (p < c.length && (c.data[p] == '>' || c.data[p] == '/'))
        end = true;
    return p;
}

// A comment from `p` ("<!--" there is skipped): its trimmed text and the offset after it.
uint32_t parseComment(Cursor& c, uint32_t p, String& text) {
    uint32_t start = p;
    if (c.startsWith(p, "<!--", 4))
        p += 4;
    uint32_t end = c.findCommentEnd(p);
    uint32_t after = end == String::npos ? String::npos : end + 3;
    if (end == String::npos) {
        end = c.text.find("-- >", p);
        after = end == String::npos ? String::npos : end + 4;
    }
    if (end == String::npos) {
        log(0, "xml.Comment", "parse", "bad xml file format: " + c.text.substring(start));
        TESSEL_THROW(xml::EXmlComment);
    }
    text = c.trimmed(p, end);
    return after;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// AttributeValue, Attribute, Comment: the stand-alone parse operations give owning texts.

uint32_t AttributeValue::parse(const String& text, uint32_t offset) {
    Cursor cursor(text, nullptr);
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

Attribute::Attribute(const Attribute& other)
    : ISerialize(), m_name(other.name()), m_hasValue(other.m_hasValue), m_value(other.value()) {}

Attribute& Attribute::operator=(const Attribute& other) {
    if (this != &other) {
        m_name = other.name();
        m_hasValue = other.m_hasValue;
        m_value = other.value();
    }
    return *this;
}

String Attribute::name() const {
    return m_document ? m_document->own(m_name) : m_name;
}

AttributeValue Attribute::value() const {
    if (!m_document)
        return m_value;
    return AttributeValue(m_document->own(m_value.text()), m_value.quote());
}

void Attribute::read(IKeyReader&) {
    TESSEL_THROW(ENotImplemented);
}
void Attribute::write(IKeyWriter&) {
    TESSEL_THROW(ENotImplemented);
}

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
    Cursor cursor(text, nullptr);
    String name;
    bool hasValue = false;
    AttributeValue value;
    uint32_t next = parseAttribute(cursor, offset, name, hasValue, value, end);
    setName(name);
    if (hasValue)
        setValue(value.text(), value.quote());
    return next;
}

void Attribute::noteStored(const String& text) {
    if (m_inArena)
        m_document->noteStored(text);
}

void Attribute::setName(const String& name) {
    m_name = name;
    noteStored(name);
}

void Attribute::setValue(const String& text, int quote) {
    m_value.set(text, quote);
    m_hasValue = true;
    noteStored(text);
}

String Attribute::toXml() const {
    if (!m_hasValue)
        return name();
    if (equals(m_name, "xmlns") && m_value.text().isEmpty())
        return String();
    String out;
    if (!m_value.text().isEmpty() || m_value.quote() != AttributeValue::kUnquoted) {
        out.appendAll(m_name, '=', m_value.toXml());
    } else {
        out.appendAll(m_name, '=');
    }
    return out;
}

uint32_t Comment::parse(const String& text, uint32_t offset) {
    Cursor cursor(text, nullptr);
    String content;
    uint32_t after = parseComment(cursor, offset, content);
    m_text = content;
    return after;
}

// ---------------------------------------------------------------------------------------------
// Element: tree operations

void Element::DocumentRelease::operator()(Document* document) const noexcept {
    delete document;
}

Element::~Element() {
    if (m_ownedDocument && m_ownedDocument->plain()) {
        // Every node and attribute below lives in the arena and holds nothing to release:
        // the whole tree goes with the document.
        m_firstChild = nullptr;
        m_firstAttribute = nullptr;
        return;
    }
    clear();
}

void Element::setName(const String& name) {
    m_name = name;
    noteStored(name);
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
        if (attribute->m_inArena) {
            attribute->~Attribute();
        } else {
            delete attribute;
        }
        attribute = following;
    }
    m_firstAttribute = nullptr;
    m_lastAttribute = nullptr;
    m_attributeCount = 0;
    m_xmlns = nullptr;
}

void Element::noteForeignChild() {
    m_document->noteForeign();
}

Node* Element::firstText() const {
    for (Node* child = m_firstChild; child; child = child->next()) {
        if (child->type() == kTextNode)
            return child;
    }
    return nullptr;
}

void Element::appendAttribute(Attribute* attribute) {
    if (m_document && !attribute->m_inArena)
        m_document->noteForeign();
    attribute->m_previous = m_lastAttribute;
    attribute->m_next = nullptr;
    if (m_lastAttribute) {
        m_lastAttribute->m_next = attribute;
    } else {
        m_firstAttribute = attribute;
    }
    m_lastAttribute = attribute;
    ++m_attributeCount;
    if (!m_xmlns && equals(attribute->m_name, "xmlns"))
        m_xmlns = attribute;
}

Attribute* Element::findAttribute(const String& name) const {
    for (Attribute* attribute = m_firstAttribute; attribute; attribute = attribute->m_next) {
        if (attribute->m_name == name)
            return attribute;
    }
    return nullptr;
}

Attribute* Element::newAttribute(const String& name, const String& value) {
    if (m_document)
        return m_document->make<Attribute>(name, value, AttributeValue::kDouble);
    return new Attribute(name, value, AttributeValue::kDouble);
}

void Element::setNamespace(const String& uri) {
    if (m_xmlns) {
        m_xmlns->setValue(uri, m_xmlns->m_value.quote());
    } else {
        appendAttribute(newAttribute("xmlns", uri));
    }
}

String Element::namespaceUri(const String& prefix) const {
    std::string_view wanted(prefix.data(), prefix.length());
    for (const NamespaceScope* scope = m_namespaces; scope; scope = scope->outer) {
        if (scope->prefix() == wanted)
            return own(scope->uri);
    }
    return String();
}

void Element::declarePrefix(Cursor& c, const String& declaration, const String& uri) {
    // Called while parsing, so the element has a document; the texts are views into its source.
    if (m_namespaces && m_namespaces->inScope >= kMaxNamespaces) {
        pastBound("more than ", kMaxNamespaces, " namespace declarations in scope");
    }
    NamespaceScope* scope = m_document->declare(declaration, uri, m_namespaces);
    NamespaceScope*& binding = c.bindings[scope->prefix()];
    scope->hidden = binding;
    binding = scope;
    m_namespaces = scope;
}

void Element::leaveScope(Cursor& c, const NamespaceScope* outer) const {
    for (NamespaceScope* scope = m_namespaces; scope != outer; scope = scope->outer) {
        c.bindings.find(scope->prefix())->second = scope->hidden;
    }
}

void Element::resolveNames(Cursor& c) {
    // The tag name scan tells when the name has no colon.
    uint32_t colon = c.nameColon == Cursor::kColonNone ? String::npos : c.findColon(m_name);
    c.nameColon = Cursor::kColonMaybe;
    if (colon != String::npos) {
        const NamespaceScope* scope = c.lookup(std::string_view(m_name.data(), colon));
        if (!scope) {
            log(0, "Element", "parse", "non-defined qualified name for element");
        } else {
            setNamespace(scope->uri);
            m_name = m_name.substring(colon + 1);
        }
    }
    if (!m_firstAttribute || (m_firstAttribute == m_xmlns && m_attributeCount == 1))
        return;
    // Each prefix used by an attribute is declared on this element once: the declarations
    // appended are marked while the attributes are walked.
    Attribute* last = m_lastAttribute;
    for (Attribute* attribute = m_firstAttribute; attribute; attribute = attribute->m_next) {
        const String& name = attribute->m_name;
        // The "xmlns" attribute (often inherited, its name not in the text) has no prefix.
        uint32_t at = attribute == m_xmlns ? String::npos : c.findColon(name);
        if (at != String::npos && !(at == 5 && startsWith(name, "xmlns"))) {
            NamespaceScope* scope = c.lookup(std::string_view(name.data(), at));
            if (!scope) {
                log(0, "Element", "parse",
                    "non-defined qualified name for attribute : " + name.substring(0, at));
            } else if (!scope->carried) {
                scope->carried = true;
                c.carried.push_back(scope);
                appendAttribute(m_document->make<Attribute>(scope->declaration, scope->uri,
                                                            AttributeValue::kDouble));
            }
        }
        if (attribute == last)
            break;
    }
    for (NamespaceScope* scope : c.carried)
        scope->carried = false;
    c.carried.clear();
}

// ---------------------------------------------------------------------------------------------
// Element: parsing

uint32_t Element::parseStartTag(Cursor& c, uint32_t p, bool& empty) {
    if (p < c.length && c.data[p] == '>') {  // most start tags: a name and nothing else
        empty = p > 0 && c.data[p - 1] == '/';
        resolveNames(c);
        return p + 1;
    }
    // A tag without any ">" after it fails before its attributes are looked at.
    if (!c.gtFollows(p)) {
        log(0, "xml.Element", "parse", "cannot parse attributes");
        TESSEL_THROW(xml::EXmlElement);
    }
    Attribute* spare = nullptr;  // an arena attribute that was parsed but not kept
    uint32_t count = 0;
    for (;;) {
        // Most start tags end without attributes: no attribute is made for them.
        p = c.skipSpace(p);
        if (p >= c.length || is(c.data[p], kNameStop))
            break;
        Attribute* attribute = spare ? spare : c.document->make<Attribute>();
        spare = nullptr;
        bool end = false;
        try {
            p = parseAttribute(c, p, attribute->m_name, attribute->m_hasValue, attribute->m_value,
                               end);
        } catch (const EXmlAttribute& e) {
            TESSEL_LOG_CATCH(e);
            TESSEL_THROW(xml::EXmlElement);
        }
        const String& name = attribute->m_name;
        if (name.isEmpty())
            break;
        if (++count > kMaxAttributes) {
            pastBound("more than ", kMaxAttributes, " attributes in one element");
        }
        bool kept = false;
        if (equals(name, "xmlns")) {
            if (!m_defaultNamespaceSeen) {
                setNamespace(attribute->m_value.text().trim());
                m_defaultNamespaceSeen = true;
            } else {
                log(0, "Element", "parse", "redefinition of xmlns attribute");
            }
        } else if (startsWith(name, "xmlns:")) {
            declarePrefix(c, name, attribute->m_value.text());
        } else {
            c.document->noteStored(attribute->m_value.text());
            appendAttribute(attribute);
            kept = true;
        }
        if (!kept) {
            attribute->m_name = String();
            attribute->m_hasValue = false;
            attribute->m_value = AttributeValue();
            spare = attribute;
        }
        if (end)
            break;
    }
    // The tag ends at the first ">" after the attributes (a ">" inside a quoted value belongs
    // to the value); the attributes stop at or before the first ">" otherwise, so this is the
    // first ">" after the name in a tag without quoted ones.
    uint32_t gt = c.find('>', p);
    if (gt == String::npos) {
        log(0, "xml.Element", "parse", "cannot parse attributes");
        TESSEL_THROW(xml::EXmlElement);
    }
    empty = gt > 0 && c.data[gt - 1] == '/';
    resolveNames(c);
    return gt + 1;
}

uint32_t Element::parse(const String& text, uint32_t offset) {
    if (!m_document) {
        m_ownedDocument.reset(new Document());
        m_document = m_ownedDocument.get();
    }
    const String& source = m_document->keep(text.hasStorage() ? text : text.copy());
    Cursor c(source, m_document);
    Document& document = *m_document;
    // Declarations this element got before (it is being parsed again) stay in scope.
    for (NamespaceScope* scope = m_namespaces; scope; scope = scope->outer) {
        c.bindings.emplace(scope->prefix(), scope);
    }

    bool empty = false;
    uint32_t p = parseStartTag(c, offset, empty);
    if (empty) {
        m_end = p;
        return p;
    }
    // The open elements, innermost last: nesting costs heap, never stack.
    std::vector<Element*> open;
    open.push_back(this);
    // Names and texts are built in their node: a String built on the stack and moved in
    // would be copied in one wide load from two narrow stores, which stalls the store buffer.
    auto addText = [&c, &document](Element* to, uint32_t from, uint32_t end) {
        c.trim(from, end);
        if (from < end)
            to->appendChild(document.make<Text>(String(c.data + from, end - from)));
    };
    for (;;) {
        Element* current = open.back();
        // Most text between tags is indentation: skip it before looking for the next tag.
        uint32_t textStart = c.skipSpace(p);
        uint32_t lt =
            textStart < c.length && c.data[textStart] == '<' ? textStart : c.find('<', textStart);
        if (lt == String::npos) {
            log(0, "xml.Element", "fromXml", "no tag found: " + source.substring(p));
            addText(current, textStart, c.length);
            return kNone;
        }
        char marker = lt + 1 < c.length ? c.data[lt + 1] : '\0';
        // Text before a comment or a declaration is kept like text before a tag.
        if (marker == '!' && c.startsWith(lt, "<!--", 4)) {
            addText(current, textStart, lt);
            auto* comment = document.make<Comment>();
            current->appendChild(comment);
            try {
                String content;
                p = parseComment(c, lt, content);
                comment->setValue(content);
            } catch (const EXmlComment& e) {
                TESSEL_LOG_CATCH(e);
                p = c.length;  // the comment runs to the end of the text
            }
            continue;
        }
        if (marker == '?' && c.startsWith(lt, "<?xml", 5)) {
            addText(current, textStart, lt);
            uint32_t close = source.find("?>", lt + 5);
            if (close == String::npos) {
                log(0, "xml.Element", "parse", "bad xml file format: " + source.substring(lt));
                TESSEL_THROW(xml::EXmlElement);
            }
            p = close + 2;
            continue;
        }
        if (lt > textStart)
            addText(current, textStart, lt);
        // "</" starts a closing tag: "/" ends the (empty) name at once, no scan needed.
        bool closing = marker == '/';
        uint32_t nameEnd = lt + 1;
        uint32_t nameFrom = nameEnd;
        uint32_t nameTo = nameEnd;
        if (!closing) {
            bool colon = false;
            nameEnd =
                lt + 1 < c.length ? detail::scanTagName(c.data, lt + 1, c.length, colon) : c.length;
            c.nameColon = colon ? Cursor::kColonMaybe : Cursor::kColonNone;
            if (nameEnd >= c.length) {
                log(2, "xml.element", "parse", "bad xml file format: " + source.substring(lt));
                TESSEL_THROW(xml::EXmlElement);
            }
            nameTo = nameEnd;
            c.trim(nameFrom, nameTo);
            closing = nameFrom == nameTo && c.data[nameEnd] == '/';
        }
        if (closing) {
            // A closing tag; its name is not compared with the element's.
            uint32_t gt = c.find('>', nameEnd);
            if (gt == String::npos)
                return kNone;
            current->m_end = gt + 1;
            p = gt + 1;
            open.pop_back();
            if (open.empty())
                return p;
            if (current->m_namespaces != open.back()->m_namespaces) {
                current->leaveScope(c, open.back()->m_namespaces);
            }
            continue;
        }
        if (open.size() >= kMaxDepth) {
            pastBound("elements nested deeper than ", kMaxDepth, " levels");
        }
        auto* child = document.make<Element>(
            nameFrom == nameTo ? String() : String(c.data + nameFrom, nameTo - nameFrom));
        if (current->m_xmlns) {
            // The child's first attribute, so linked here directly (appendAttribute would
            // compare its name with "xmlns" again).
            static const String kXmlns("xmlns");
            Attribute* inherited =
                document.make<Attribute>(kXmlns, current->m_xmlns->m_value.text());
            child->m_firstAttribute = inherited;
            child->m_lastAttribute = inherited;
            child->m_xmlns = inherited;
            child->m_attributeCount = 1;
        }
        child->m_namespaces = current->m_namespaces;
        current->appendChild(child);
        child->m_start = lt;
        p = child->parseStartTag(c, nameEnd, empty);
        if (empty) {
            child->m_end = p;
            if (child->m_namespaces != current->m_namespaces) {
                child->leaveScope(c, current->m_namespaces);
            }
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
        for (Attribute* a = e->m_firstAttribute; a; a = a->m_next)
            out.appendAll(' ', a->toXml());
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
    if (open(this, 0))
        stack.push_back({this, m_firstChild, 0, false});
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
            out.append(static_cast<const Text*>(child)->textView());
            continue;
        }
        frame.anyNonText = true;
        out.append('\n');
        uint32_t depth = frame.depth + 1;
        if (child->type() == kElementNode) {
            auto* element = static_cast<const Element*>(child);
            if (open(element, depth))
                stack.push_back({element, element->m_firstChild, depth, false});
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
        for (Attribute* a = e->m_firstAttribute; a; a = a->m_next)
            a->write(writer);
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
    // Replaces name and attributes; returns the child count.
    auto header = [&reader](Element* e) {
        e->clear();
        String name;
        reader.read(name);
        e->setName(name);
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
