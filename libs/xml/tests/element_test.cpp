#include "xml/element.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "base/console.h"
#include "memoryarchive.h"
#include "sandbox.h"
#include "xml/keyreader.h"
#include "xml/parser.h"
#include "xmldump.h"

using tessel::String;
using tessel::xml::Attribute;
using tessel::xml::AttributeValue;
using tessel::xml::Element;
using tessel::xml::StringParser;
using vexlan::testing::LogCapture;
using xmltest::dump;

namespace {

std::string parseAndDump(const std::string& text) {
    return dump(StringParser::parse(String::copy(text)).get());
}

struct ParseCase {
    const char* text;
    const char* tree;
};

TEST(ElementParse, Table) {
    const ParseCase cases[] = {
        // Attribute kinds in order: single, double, unquoted, without value.
        {"<a x='1' y=\"2\" z=3 w/>", "a[x='1' y=\"2\" z=3 w]{}"},
        {"<a x = \"1\"\t/>", "a[x=\"1\"]{}"},
        // Values are trimmed inside their quotes; two entities are decoded, no other.
        {"<a x=\" v \"/>", "a[x=\"v\"]{}"},
        {"<a x=\"&quot;hi&#39;\"/>", "a[x=\"\"hi'\"]{}"},
        {"<a x='&amp;'/>", "a[x='&amp;']{}"},
        // An unquoted value runs up to ">"; a ">" or "/>" inside quotes belongs to the value.
        {"<a x=1>t</a>", "a[x=1]{\"t\"}"},
        {"<a x='1>2'>t</a>", "a[x='1>2']{\"t\"}"},
        {"<r a=\"x>y\" b=\"2\"/>", "r[a=\"x>y\" b=\"2\"]{}"},
        {"<r a=\"x/>y\">t</r>", "r[a=\"x/>y\"]{\"t\"}"},
        // Text is trimmed; blank text disappears; entities in text stay as written.
        {"<a> hello </a>", "a{\"hello\"}"},
        {"<a> \r\n\t </a>", "a{}"},
        {"<a>&lt;b&gt;</a>", "a{\"&lt;b&gt;\"}"},
        {"<a>t1<b/>t2</a>", "a{\"t1\",b{},\"t2\"}"},
        // A closing tag closes the open element whatever its name.
        {"<a><b>x</c>y</a>", "a{b{\"x\"},\"y\"}"},
        // Comments are children; text before a comment or a declaration is kept.
        {"<a><!-- c --><b/></a>", "a{!c!,b{}}"},
        {"<a><!-- c -- ></a>", "a{!c!}"},
        {"<a>x<!--c-->y</a>", "a{\"x\",!c!,\"y\"}"},
        {"<a>x<?xml version=\"1.0\"?><b/></a>", "a{\"x\",b{}}"},
        // The text ends inside elements: what was read stays.
        {"<a><b>tail", "a{b{\"tail\"}}"},
        {"<a><!-- never closed", "a{!!}"},
        // Names end at whitespace, "/" or ">".
        {"<a\n/>", "a{}"},
        {"<a><b\tc='1'></b></a>", "a{b[c='1']{}}"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseAndDump(c.text), c.tree);
    }
}

TEST(ElementParse, OffsetsAndEnd) {
    String text = String::copy(std::string("<a><b/> <c></c></a>tail"));
    auto root = StringParser::parse(text);
    EXPECT_EQ(root->startOffset(), 0u);
    EXPECT_EQ(root->endOffset(), 19u);
    auto* b = static_cast<Element*>(root->firstChild());
    EXPECT_EQ(b->offset(), 3u);
    EXPECT_EQ(b->endOffset(), 7u);
    auto* c = static_cast<Element*>(b->next());
    EXPECT_EQ(c->startOffset(), 8u);
    EXPECT_EQ(c->endOffset(), 15u);
    EXPECT_EQ(root->lastChild(), c);
    EXPECT_EQ(c->previous(), b);
    EXPECT_EQ(root->childCount(), 2u);

    // Parsing from just after a name returns the offset after the element, or none.
    Element e("a");
    EXPECT_EQ(e.parse("<a x='1'>t</a>rest", 2), 14u);
    Element open("a");
    EXPECT_EQ(open.parse("<a><b>", 2), tessel::xml::kNone);
}

TEST(ElementParse, TextEndingInsideIsLogged) {
    LogCapture capture;
    auto root = StringParser::parse("<a><b>tail ");
    EXPECT_TRUE(capture.contains("TRACE xml.Element.fromXml no tag found: tail "));
}

struct ErrorCase {
    const char* text;
    const char* exception;
    std::vector<std::string> logged;
};

TEST(ElementParse, Errors) {
    const ErrorCase cases[] = {
        {"<a x", "xml::EXmlElement", {"TRACE xml.Element.parse cannot parse attributes"}},
        {"<a x='1>",
         "xml::EXmlElement",
         {"ERROR xml.AttributeValue.parse Problem with element: '1>"}},
        {"<a><b", "xml::EXmlElement", {"ERROR xml.element.parse bad xml file format: <b"}},
        {"<a><?xml x",
         "xml::EXmlElement",
         {"TRACE xml.Element.parse bad xml file format: <?xml x"}},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture capture;
        try {
            StringParser::parse(c.text);
            ADD_FAILURE() << "no exception";
        } catch (const tessel::xml::XmlException& e) {
            EXPECT_EQ(e.message(), c.exception);
        }
        for (const std::string& line : c.logged)
            EXPECT_TRUE(capture.contains(line)) << line;
    }
}

TEST(ElementParse, BadQuotedValueIsChainedToElement) {
    LogCapture capture;
    EXPECT_THROW(StringParser::parse("<a x=\"1 />"), tessel::xml::EXmlElement);
    // Value, attribute and element: one error line, then each level's catch line.
    int catches = 0;
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind("TRACE Exception.catch xml::EXmlAttribute:", 0) == 0)
            ++catches;
        if (entry.rfind("TRACE Exception.catch xml::EXmlAttributeValue:", 0) == 0)
            ++catches;
    }
    EXPECT_EQ(catches, 2);
}

TEST(AttributeParse, EqualsWithoutValue) {
    LogCapture capture;
    Attribute attribute;
    bool end = false;
    EXPECT_THROW(attribute.parse(" x=  ", 0, end), tessel::xml::EXmlAttribute);
    EXPECT_TRUE(
        capture.contains("ERROR Attribute.parse invalid attribute value (missing value with =)"));
}

TEST(AttributeParse, ReportsWhereTheNextStarts) {
    Attribute attribute;
    bool end = true;
    String text = " a='1'  b>";
    EXPECT_EQ(attribute.parse(text, 0, end), 8u);
    EXPECT_FALSE(end);
    EXPECT_EQ(attribute.name(), "a");
    EXPECT_EQ(attribute.value().text(), "1");
    Attribute second;
    EXPECT_EQ(second.parse(text, 8, end), 9u);
    EXPECT_FALSE(second.hasValue());
    Attribute none;
    none.parse(text, 9, end);
    EXPECT_TRUE(end);
    EXPECT_TRUE(none.name().isEmpty());
}

TEST(ElementNamespaces, Table) {
    const ParseCase cases[] = {
        // The default namespace passes to the children as their own "xmlns" attribute.
        {"<r xmlns=\" u \"><c/></r>", "r[xmlns=\"u\"]{c[xmlns=\"u\"]{}}"},
        {"<r xmlns=\"u\"><c xmlns=\"v\"/></r>", "r[xmlns=\"u\"]{c[xmlns=\"v\"]{}}"},
        // Prefixes: the declaration is not kept; a prefixed element takes the URI as xmlns and
        // its local name; an element keeps the declarations its attributes use.
        {"<r xmlns:p=\"u\"><p:c p:x=\"1\" y=\"2\"/></r>",
         "r{c[p:x=\"1\" y=\"2\" xmlns=\"u\" xmlns:p=\"u\"]{}}"},
        {"<p:a xmlns:p='u' p:x='1' p:y='2'/>", "a[p:x='1' p:y='2' xmlns=\"u\" xmlns:p=\"u\"]{}"},
        // Each element declares the prefixes its attributes use once, whoever declared them.
        {"<a xmlns:p='u' xmlns:q='v' p:x='1' q:y='2' p:z='3'/>",
         "a[p:x='1' q:y='2' p:z='3' xmlns:p=\"u\" xmlns:q=\"v\"]{}"},
        {"<r xmlns:p='u' p:a='1'><c p:b='2'/></r>",
         "r[p:a='1' xmlns:p=\"u\"]{c[p:b='2' xmlns:p=\"u\"]{}}"},
        // A declaration on one child does not reach its siblings, nor past its own end.
        {"<r xmlns:p=\"u\"><c xmlns:p=\"v\"/><p:d/></r>", "r{c{},d[xmlns=\"u\"]{}}"},
        {"<r xmlns:p='u'><c xmlns:p='v' xmlns:p='w'><p:e/></c><p:d/></r>",
         "r{c{e[xmlns=\"w\"]{}},d[xmlns=\"u\"]{}}"},
        {"<r><c xmlns:p='v'><p:e/></c><p:d/></r>", "r{c{e[xmlns=\"v\"]{}},p:d{}}"},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseAndDump(c.text), c.tree);
    }
}

TEST(ElementNamespaces, MapAndLogs) {
    LogCapture capture;
    auto root = StringParser::parse("<r xmlns:p='u' xmlns='d' xmlns='e'><q:a/><b q:x='1'/></r>");
    EXPECT_EQ(root->namespaceUri("p"), "u");
    EXPECT_EQ(root->namespaceUri("q"), "");
    EXPECT_EQ(static_cast<Element*>(root->lastChild())->namespaceUri("p"), "u");
    EXPECT_TRUE(root->defaultNamespaceSeen());
    EXPECT_EQ(root->findAttribute("xmlns")->value().text(), "d");
    auto* a = static_cast<Element*>(root->firstChild());
    EXPECT_EQ(a->name(), "q:a");
    EXPECT_TRUE(capture.contains("TRACE Element.parse redefinition of xmlns attribute"));
    EXPECT_TRUE(capture.contains("TRACE Element.parse non-defined qualified name for element"));
    EXPECT_TRUE(
        capture.contains("TRACE Element.parse non-defined qualified name for attribute : q"));
}

TEST(ElementNamespaces, ScopesAfterParsing) {
    auto root = StringParser::parse(
        "<r xmlns:p='u'><c xmlns:q='v' xmlns:p='w'><e xmlns:s='x'/></c><d/></r>");
    auto* c = static_cast<Element*>(root->firstChild());
    auto* e = static_cast<Element*>(c->firstChild());
    auto* d = static_cast<Element*>(root->lastChild());
    struct Case {
        const Element* element;
        const char* prefix;
        const char* uri;
    };
    const Case cases[] = {
        {root.get(), "p", "u"}, {root.get(), "q", ""}, {c, "p", "w"}, {c, "q", "v"}, {e, "p", "w"},
        {e, "q", "v"},          {e, "s", "x"},         {d, "p", "u"}, {d, "q", ""},  {d, "s", ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.element->name().toStd() + " " + k.prefix);
        EXPECT_EQ(k.element->namespaceUri(k.prefix), k.uri);
    }
}

// Generated documents at and past the bounds of one document (kMaxDepth, kMaxAttributes,
// kMaxNamespaces), and the hostile shapes that these bounds refuse.
namespace bounds {

using tessel::xml::kMaxAttributes;
using tessel::xml::kMaxDepth;
using tessel::xml::kMaxNamespaces;

std::string n(uint32_t i) {
    return std::to_string(i);
}

// `levels` elements nested in one another, each with `attribute` (numbered), then `inner`.
std::string nested(uint32_t levels, const std::string& attribute, const std::string& inner) {
    std::string text;
    for (uint32_t i = 0; i < levels; ++i) {
        text += "<a";
        if (!attribute.empty())
            text += " " + attribute + n(i) + "='u'";
        text += ">";
    }
    text += inner;
    for (uint32_t i = 0; i < levels; ++i)
        text += "</a>";
    return text;
}

// One element with `count` attributes `name` + number, then `tail` inside the start tag.
std::string attributes(uint32_t count, const std::string& name, const std::string& tail = "") {
    std::string text = "<a";
    for (uint32_t i = 0; i < count; ++i)
        text += " " + name + n(i) + "='1'";
    return text + tail + "/>";
}

// A root declaring `rootPrefixes` prefixes, with `children` children declaring one more each.
std::string wide(uint32_t rootPrefixes, uint32_t children) {
    std::string text = "<r";
    for (uint32_t i = 0; i < rootPrefixes; ++i)
        text += " xmlns:p" + n(i) + "='u" + n(i) + "'";
    text += ">";
    for (uint32_t i = 0; i < children; ++i) {
        text += "<q" + n(i) + ":c xmlns:q" + n(i) + "='v" + n(i) + "' p0:x='1'/>";
    }
    return text + "</r>";
}

const std::string kTooDeep = "ERROR xml.Element.parse elements nested deeper than 100000 levels";
const std::string kTooManyAttributes =
    "ERROR xml.Element.parse more than 1000 attributes in one element";
const std::string kTooManyNamespaces =
    "ERROR xml.Element.parse more than 1000 namespace declarations in scope";

}  // namespace bounds

TEST(ElementBounds, AtTheBoundParsesOnePastIsASyntaxError) {
    using namespace bounds;
    static_assert(kMaxDepth == 100000 && kMaxAttributes == 1000 && kMaxNamespaces == 1000,
                  "the expected log texts name the bounds");
    struct Case {
        const char* what;
        std::string text;
        std::string refusal;  // empty: the document parses
    };
    const Case cases[] = {
        {"deepest nesting", nested(kMaxDepth, "", ""), ""},
        {"one level more", nested(kMaxDepth, "", "<b/>"), kTooDeep},
        {"most attributes", attributes(kMaxAttributes, "x"), ""},
        {"one attribute more", attributes(kMaxAttributes + 1, "x"), kTooManyAttributes},
        {"declarations count as attributes", attributes(kMaxAttributes, "x", " xmlns:p='u'"),
         kTooManyAttributes},
        {"most declarations in scope", nested(kMaxNamespaces, "xmlns:p", "<p0:b/>"), ""},
        {"one declaration more in scope", nested(kMaxNamespaces, "xmlns:p", "<b xmlns:q='v'/>"),
         kTooManyNamespaces},
        // Declarations leave the scope with their element: siblings never add up.
        {"many declarations, few in scope", wide(kMaxNamespaces - 1, 3 * kMaxNamespaces), ""},
        {"a full scope and a sibling more", wide(kMaxNamespaces, 1), kTooManyNamespaces},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture capture;
        if (c.refusal.empty()) {
            EXPECT_NO_THROW(StringParser::parse(String::copy(c.text)));
        } else {
            EXPECT_THROW(StringParser::parse(String::copy(c.text)), tessel::xml::EXmlElement);
            EXPECT_TRUE(capture.contains(c.refusal));
        }
    }
}

TEST(ElementBounds, SharedScopesResolveEveryElement) {
    using tessel::xml::kMaxNamespaces;
    auto root = StringParser::parse(String::copy(bounds::wide(kMaxNamespaces - 1, 2000)));
    ASSERT_EQ(root->childCount(), 2000u);
    uint32_t i = 0;
    for (auto* node = root->firstChild(); node; node = node->next(), ++i) {
        auto* child = static_cast<Element*>(node);
        std::string own = std::to_string(i);
        ASSERT_EQ(child->name(), "c");
        ASSERT_EQ(child->findAttribute("xmlns")->value().text(), String::copy("v" + own));
        ASSERT_EQ(child->findAttribute("xmlns:p0")->value().text(), "u0");
        ASSERT_EQ(child->namespaceUri(String::copy("q" + own)), String::copy("v" + own));
        ASSERT_EQ(child->namespaceUri("p998"), "u998");
    }
    EXPECT_EQ(root->namespaceUri("q0"), "");
}

// The shapes that made the parser copy every prefix into every element (gigabytes from a few
// hundred kilobytes) now stop at a bound, early in the document.
TEST(ElementBounds, HostileNamespaceShapesAreSyntaxErrors) {
    using namespace bounds;
    std::string prefixedAttributes = "<r xmlns:p='u'";
    for (int i = 0; i < 100000; ++i)
        prefixedAttributes += " p:a" + n(i) + "='1'";
    prefixedAttributes += "/>";
    struct Case {
        const char* what;
        std::string text;
        std::string refusal;
    };
    const Case cases[] = {
        {"8000 prefixes on the root, one more on each of 8000 children", wide(8000, 8000),
         kTooManyAttributes},
        {"8000 nested elements declaring a prefix each", nested(8000, "xmlns:p", ""),
         kTooManyNamespaces},
        {"100000 prefixed attributes", prefixedAttributes, kTooManyAttributes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture capture;
        EXPECT_THROW(StringParser::parse(String::copy(c.text)), tessel::xml::EXmlElement);
        EXPECT_TRUE(capture.contains(c.refusal));
    }
}

// Comments that end in "-- >", before the root and inside it: each used to search the rest of
// the document for a "-->", which took minutes for a megabyte of them. A "-->" further on
// still ends the comment that it follows.
TEST(ElementComments, ManyCommentsEndingWithASpacedArrow) {
    std::string comments;
    for (int i = 0; i < 100000; ++i)
        comments += "<!-- c -- >";
    auto before = StringParser::parse(String::copy(comments + "<a/>"));
    EXPECT_EQ(before->name(), "a");
    auto inside = StringParser::parse(String::copy("<a>" + comments + "</a>"));
    EXPECT_EQ(inside->childCount(), 100000u);
    EXPECT_EQ(inside->lastChild()->value(), "c");
    EXPECT_EQ(parseAndDump("<a><!-- x -- ><!-- y -- > z --><b/></a>"),
              "a{!x -- ><!-- y -- > z!,b{}}");
    EXPECT_EQ(parseAndDump("<a><!-- x --><!-- y -- ><b/></a>"), "a{!x!,!y!,b{}}");
    EXPECT_EQ(parseAndDump("<!-- x -- > <b/> --><a/>"), "a{}");
    EXPECT_EQ(parseAndDump("<!-- x --><!-- y -- ><a/>"), "a{}");
}

// Each edit on its own tree: an edit that the tree forgot to release would show as a leak
// under the address sanitizer.
TEST(ElementTree, ParsedTreesCanBeEdited) {
    using tessel::xml::Comment;
    using tessel::xml::Text;
    auto own = [](const char* text) { return String::copy(std::string(text)); };
    struct Case {
        std::function<void(Element&)> edit;
        const char* tree;
    };
    const Case cases[] = {
        {[&](Element& r) { static_cast<Text*>(r.firstChild()->next())->setValue(own("new")); },
         "r[a='1']{b{},\"new\",!c!}"},
        {[&](Element& r) { static_cast<Comment*>(r.lastChild())->setValue(own("note")); },
         "r[a='1']{b{},\"t\",!note!}"},
        {[&](Element& r) { static_cast<Element*>(r.firstChild())->setName(own("renamed")); },
         "r[a='1']{renamed{},\"t\",!c!}"},
        {[&](Element& r) { r.firstAttribute()->setValue(own("2"), AttributeValue::kSingle); },
         "r[a='2']{b{},\"t\",!c!}"},
        {[&](Element& r) { r.firstAttribute()->setName(own("k")); }, "r[k='1']{b{},\"t\",!c!}"},
        {[&](Element& r) { r.appendChild(new Text(own("added"))); },
         "r[a='1']{b{},\"t\",!c!,\"added\"}"},
        {[&](Element& r) {
             static_cast<Element*>(r.firstChild())->appendAttribute(new Attribute("x", own("y")));
         },
         "r[a='1']{b[x=\"y\"]{},\"t\",!c!}"},
    };
    for (const Case& c : cases) {
        auto root = StringParser::parse(own("<r a='1'><b/>t<!--c--></r>"));
        c.edit(*root);
        EXPECT_EQ(dump(root.get()), c.tree);
    }
}

// The storage of parsed trees is recycled per thread; a thread that ends gives it back (a
// leak here shows under the address sanitizer), and a tree may be freed on another thread.
TEST(ElementTree, TreesOnSeveralThreads) {
    std::unique_ptr<Element> crossing;
    std::thread worker([&crossing] {
        std::string text = "<r>";
        for (int i = 0; i < 5000; ++i)
            text += "<e a='1'>text</e>";
        text += "</r>";
        crossing = StringParser::parse(String::copy(text));
        for (int round = 0; round < 3; ++round)
            StringParser::parse(String::copy(text));
    });
    worker.join();
    EXPECT_EQ(crossing->childCount(), 5000u);
    crossing.reset();
}

TEST(ElementTree, AccessorsHandOutOwnedTexts) {
    auto root = StringParser::parse(String::copy(std::string("<r k='v'><e>text</e></r>")));
    String name = root->firstChild()->name();
    String value = static_cast<Element*>(root->firstChild())->firstChild()->value();
    String attribute = root->findAttribute("k")->value().text();
    String attributeName = root->firstAttribute()->name();
    root.reset();
    EXPECT_EQ(name, "e");
    EXPECT_EQ(value, "text");
    EXPECT_EQ(attribute, "v");
    EXPECT_EQ(attributeName, "k");
    EXPECT_TRUE(name.hasStorage());
}

TEST(ElementRender, StartTagRoundTrip) {
    auto root = StringParser::parse("<a x='1' y=\"2\" z=3 w/>");
    String xml = root->toXml("");
    EXPECT_EQ(xml, "<a x='1' y=\"2\" z=3 w/>");
    EXPECT_EQ(dump(StringParser::parse(xml).get()), dump(root.get()));
}

TEST(ElementRender, ChildrenIndentedWithTabs) {
    auto root = StringParser::parse("<r><a>t</a><!--c--><b k=\"v\"><d/></b>tail</r>");
    EXPECT_EQ(root->toXml(" "),
              " <r>\n"
              " \t<a>t</a>\n"
              " \t<!--\n \tc\n \t-->\n"
              " \t<b k=\"v\">\n \t\t<d/>\n \t</b>tail\n"
              " </r>");
    // Rendering, parsing and rendering again gives the same text.
    EXPECT_EQ(StringParser::parse(root->toXml(""))->toXml(""), root->toXml(""));
}

TEST(ElementRender, AttributeForms) {
    struct Case {
        Attribute attribute;
        const char* form;
    };
    const Case cases[] = {
        {Attribute("x", "it's", AttributeValue::kSingle), "x='it&#39;s'"},
        {Attribute("x", "say \"hi\"", AttributeValue::kDouble), "x=\"say &quot;hi&quot;\""},
        {Attribute("x", "a'b\"c", AttributeValue::kUnquoted), "x=a&#39;b&quot;c"},
        {Attribute("x", "", AttributeValue::kDouble), "x=\"\""},
        {Attribute("x", "", AttributeValue::kUnquoted), "x="},
        {Attribute("xmlns", "", AttributeValue::kDouble), ""},
        {Attribute("w"), "w"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.attribute.toXml(), c.form);
}

TEST(ElementRender, CommentForms) {
    tessel::xml::Comment comment("note");
    EXPECT_EQ(comment.toXml("\t"), "\t<!--\n\tnote\n\t-->");
    EXPECT_EQ(comment.toScript(), "<!--\r\nnote\r\n// -->");
    EXPECT_EQ(tessel::xml::Comment().toXml("\t"), "");
}

TEST(ElementBinary, RoundTrip) {
    auto root = StringParser::parse("<a x='1' y=\"2\" z=3 w>t<!--c--><b><d>e</d></b></a>");
    xmltest::MemoryArchive archive;
    root->write(static_cast<tessel::IWriter&>(archive));
    Element copy;
    copy.read(static_cast<tessel::IReader&>(archive));
    // Attributes come back double-quoted; everything else as it was.
    EXPECT_EQ(dump(&copy), "a[x=\"1\" y=\"2\" z=\"3\" w=\"\"]{\"t\",!c!,b{d{\"e\"}}}");
    EXPECT_EQ(archive.available(), 0);
}

TEST(ElementBinary, BadTypeCodes) {
    struct Case {
        unsigned int code;
        const char* exception;
        std::vector<std::string> logged;
    };
    const Case cases[] = {
        {5,
         "xml::EXmlElement",
         {"TRACE xml.Node.create cannot create for type: 5",
          "TRACE xml.Element.write cannot create node"}},
        {12, "xml::XmlException", {"TRACE Node::Factory.create 12: invalid xml type"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        xmltest::MemoryArchive archive;
        archive.write(String("a"));
        archive.write(0u);  // attributes
        archive.write(1u);  // children
        archive.write(c.code);
        LogCapture capture;
        Element element;
        try {
            element.read(static_cast<tessel::IReader&>(archive));
            ADD_FAILURE() << "no exception";
        } catch (const tessel::xml::XmlException& e) {
            EXPECT_EQ(e.message(), c.exception);
        }
        for (const std::string& line : c.logged)
            EXPECT_TRUE(capture.contains(line)) << line;
    }
}

TEST(ElementBinary, KeyedFormsAreNotImplemented) {
    Element element("a");
    tessel::xml::KeyReader reader(&element);
    tessel::xml::Text text("t");
    Attribute attribute("x", "1");
    EXPECT_THROW(element.read(static_cast<tessel::IKeyReader&>(reader)), tessel::ENotImplemented);
    EXPECT_THROW(text.read(static_cast<tessel::IKeyReader&>(reader)), tessel::ENotImplemented);
    EXPECT_THROW(attribute.read(static_cast<tessel::IKeyReader&>(reader)), tessel::ENotImplemented);
}

// Nesting and list lengths that would overflow the stack of a recursive parser, renderer,
// serialiser or destructor.
constexpr int kDeep = 100000;

TEST(ElementDeep, NestedDocumentParsesWritesAndDeletes) {
    std::string text;
    for (int i = 0; i < kDeep; ++i)
        text += "<a>";
    text += "x";
    for (int i = 0; i < kDeep; ++i)
        text += "</a>";
    auto root = StringParser::parse(String::copy(text));
    int depth = 1;
    const Element* e = root.get();
    while (e->firstChild() && e->firstChild()->type() == tessel::xml::kElementNode) {
        e = static_cast<const Element*>(e->firstChild());
        ++depth;
    }
    EXPECT_EQ(depth, kDeep);
    EXPECT_EQ(e->firstChild()->value(), "x");
    EXPECT_EQ(root->endOffset(), text.size());

    xmltest::MemoryArchive archive;
    root->write(static_cast<tessel::IWriter&>(archive));
    Element copy;
    copy.read(static_cast<tessel::IReader&>(archive));
    EXPECT_EQ(dump(&copy), dump(root.get()));
}

TEST(ElementDeep, UnclosedNestingAndLongSiblingLists) {
    std::string open;
    for (int i = 0; i < kDeep; ++i)
        open += "<a>";
    LogCapture capture;
    auto deep = StringParser::parse(String::copy(open));
    int noTag = 0;
    for (const std::string& entry : capture.entries()) {
        if (entry.find("no tag found") != std::string::npos)
            ++noTag;
    }
    EXPECT_EQ(noTag, 1);
    deep.reset();

    std::string wide = "<r>";
    for (int i = 0; i < 3 * kDeep; ++i)
        wide += "<b/>";
    wide += "</r>";
    auto root = StringParser::parse(String::copy(wide));
    EXPECT_EQ(root->childCount(), 3u * kDeep);
    root.reset();

    // A long list of siblings built by hand.
    Element holder;
    for (int i = 0; i < 3 * kDeep; ++i)
        holder.appendChild(new tessel::xml::Text("n"));
}

TEST(ElementDeep, NestedRenderingRoundTrips) {
    // Rendering repeats the indentation on every line, so the output grows with the square of
    // the depth: the depth stays moderate here.
    std::string text;
    for (int i = 0; i < 500; ++i)
        text += "<a>";
    for (int i = 0; i < 500; ++i)
        text += "</a>";
    auto root = StringParser::parse(String::copy(text));
    String xml = root->toXml("");
    EXPECT_EQ(dump(StringParser::parse(xml).get()), dump(root.get()));
}

}  // namespace
