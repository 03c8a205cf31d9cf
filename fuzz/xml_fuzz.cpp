// XML: StringParser over arbitrary text, the rendering of the tree (which must parse again
// to the same rendering), and the key reader walking the whole tree in both entity modes:
// every child element is reached by its lower-case name in document order, every value read
// in every form, every attribute looked up.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "fuzz_support.h"
#include "xml/element.h"
#include "xml/keyreader.h"
#include "xml/node.h"
#include "xml/parser.h"

using tessel::String;
using tessel::xml::Element;
using tessel::xml::KeyReader;
using tessel::xml::Node;
using tessel::xml::ParserReader;
using tessel::xml::StringParser;
using tessel::xml::TextEntities;

namespace {

constexpr int kMaxWalkDepth = 200;

std::string referenceEntities(const std::string& text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool done = false;
        for (const auto& e : kEntities) {
            size_t n = std::char_traits<char>::length(e.first);
            if (text.compare(i, n, e.first) == 0) {
                out.push_back(e.second);
                i += n;
                done = true;
                break;
            }
        }
        if (!done)
            out.push_back(text[i++]);
    }
    return out;
}

std::string expectedValue(const Element* element, TextEntities entities) {
    const Node* text = element->firstText();
    std::string value = text ? text->value().toStd() : std::string();
    return entities == TextEntities::kDecode ? referenceEntities(value) : value;
}

// Every value operation of a reader bound to `element`.
template <class ReaderException>
void readValues(tessel::IKeyReader& reader, const Element* element, TextEntities entities) {
    const std::string expected = expectedValue(element, entities);
    String text;
    reader.read(text);
    FUZZ_CHECK(text.toStd() == expected);
    char c = 1;
    reader.read(c);
    FUZZ_CHECK(c == (expected.empty() ? '\0' : expected[0]));
    bool b = false;
    try {
        reader.read(b);
        String lower = String::copy(expected).toLower();
        FUZZ_CHECK(lower == "true" || lower == "yes" || lower == "on" || lower == "false" ||
                   lower == "no" || lower == "off");
    } catch (const ReaderException&) {
    }
    int i = 0;
    short s = 0;
    unsigned int u = 0;
    unsigned short us = 0;
    reader.read(i);
    reader.read(s);
    reader.read(u);
    reader.read(us);
    tessel::Buffer bytes;
    reader.read(bytes);
    try {
        reader.available();
        FUZZ_CHECK(false);
    } catch (const ReaderException&) {
    }
    for (auto* a = element->firstAttribute(); a; a = a->next()) {
        String name = a->name();
        if (name.find('\0') != String::npos)
            continue;
        FUZZ_CHECK(reader.hasAttribute(name.c_str()));
        FUZZ_CHECK(reader.getAttribute(name.c_str()) ==
                   element->findAttribute(name)->value().text());
    }
}

// Takes every child element of `element` through `reader` in document order.
void walk(tessel::IKeyReader& reader, const Element* element, TextEntities entities, int depth) {
    readValues<tessel::EKeyReader>(reader, element, entities);
    if (depth >= kMaxWalkDepth)
        return;
    std::map<std::string, int> counts;
    for (const Node* n = element->firstChild(); n; n = n->next()) {
        if (n->type() == tessel::xml::kElementNode)
            ++counts[n->name().toLower().toStd()];
    }
    for (const auto& entry : counts) {
        String key = String::copy(entry.first);
        FUZZ_CHECK(reader.count(key) == entry.second);
        FUZZ_CHECK(reader.hasKey(key));
    }
    for (const Node* n = element->firstChild(); n; n = n->next()) {
        if (n->type() != tessel::xml::kElementNode)
            continue;
        String key = n->name().toLower();
        tessel::IKeyReader* child = reader.getKey(key);
        FUZZ_CHECK(static_cast<KeyReader*>(child)->element() == n);
        FUZZ_CHECK(reader.count(key) == --counts[key.toStd()]);
        walk(*child, static_cast<const Element*>(n), entities, depth + 1);
    }
    for (const auto& entry : counts) {
        String key = String::copy(entry.first);
        FUZZ_CHECK(!reader.hasKey(key));
        try {
            reader.getKey(key);
            FUZZ_CHECK(false);
        } catch (const tessel::xml::EKeyReader&) {
        }
    }
}

void readTree(const String& text, TextEntities entities) {
    std::unique_ptr<Element> root;
    try {
        root = StringParser::parse(text);
    } catch (const tessel::xml::XmlException&) {
        return;
    }
    FUZZ_CHECK(root);
    Element* rootElement = root.get();
    String key = rootElement->name().toLower();
    ParserReader document(std::move(root), entities);
    FUZZ_CHECK(document.count(key) == 1 && document.hasKey(key));
    readValues<tessel::xml::EParserReader>(document, rootElement, entities);
    tessel::IKeyReader* first = document.getKey(key);
    FUZZ_CHECK(document.getKey(key) == first);  // no consumption at the root
    FUZZ_CHECK(static_cast<KeyReader*>(first)->element() == rootElement);
    walk(*first, rootElement, entities, 0);
    String other = key + "x";
    FUZZ_CHECK(document.count(other) == 0);
    try {
        document.getKey(other);
        FUZZ_CHECK(false);
    } catch (const tessel::xml::EParserReader&) {
    }
}

bool nameLike(const String& name) {
    if (name.isEmpty())
        return false;
    for (uint32_t i = 0; i < name.length(); ++i) {
        char c = name[i];
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '_' || c == '.' || c == ':';
        if (!ok)
            return false;
    }
    return true;
}

// The parser takes any bytes as names (a name may start with "!--", hold a "<" or a zero
// byte); the rendering reads back the same only for ordinary names (and see below).
bool ordinaryNames(const Element* root) {
    std::vector<const Element*> pending{root};
    while (!pending.empty()) {
        const Element* e = pending.back();
        pending.pop_back();
        if (!nameLike(e->name()))
            return false;
        for (auto* a = e->firstAttribute(); a; a = a->next()) {
            if (!nameLike(a->name()))
                return false;
        }
        // An unquoted value runs up to a blank or ">": written last before "/>", it takes
        // the "/" in when read again (as it did in the text parsed first).
        const auto* last = e->lastAttribute();
        if (!e->firstChild() && last && last->hasValue() &&
            last->value().quote() == tessel::xml::AttributeValue::kUnquoted) {
            return false;
        }
        for (const Node* n = e->firstChild(); n; n = n->next()) {
            if (n->type() == tessel::xml::kElementNode) {
                pending.push_back(static_cast<const Element*>(n));
            }
        }
    }
    return true;
}

// The rendering of a tree with ordinary names parses again, and renders the same from the
// second round on (an empty comment renders as nothing, so the first round may lose it).
void checkRendering(const Element& root) {
    String rendered = root.toXml(String());
    if (!ordinaryNames(&root))
        return;
    std::unique_ptr<Element> again;
    try {
        again = StringParser::parse(rendered);
    } catch (const tessel::xml::XmlException&) {
        FUZZ_CHECK(false);
    }
    String renderedAgain = again->toXml(String());
    if (!ordinaryNames(again.get()))
        return;
    std::unique_ptr<Element> third = StringParser::parse(renderedAgain);
    String renderedThird = third->toXml(String());
    if (renderedThird != renderedAgain) {
        std::fprintf(stderr, "rendered:\n%s\nagain:\n%s\nthird:\n%s\n", rendered.c_str(),
                     renderedAgain.c_str(), renderedThird.c_str());
    }
    FUZZ_CHECK(renderedThird == renderedAgain);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexlan::fuzz::Input input(data, size);
    const String text = input.string();

    std::unique_ptr<Element> root;
    try {
        root = StringParser::parse(text);
    } catch (const tessel::xml::XmlException&) {
        return 0;
    }
    FUZZ_CHECK(root);
    checkRendering(*root);
    root.reset();

    readTree(text, TextEntities::kLiteral);
    readTree(text, TextEntities::kDecode);
    return 0;
}
