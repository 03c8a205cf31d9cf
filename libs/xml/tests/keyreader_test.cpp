#include "xml/keyreader.h"

#include <gtest/gtest.h>

#include <string>

#include "base/serializers.h"
#include "sandbox.h"
#include "xml/parser.h"

using tessel::Buffer;
using tessel::IKeyReader;
using tessel::String;
using tessel::xml::KeyReader;
using tessel::xml::ParserReader;
using tessel::xml::StringParser;
using tessel::xml::TextEntities;
using vexlan::testing::LogCapture;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

ParserReader document(const char* text, TextEntities entities = TextEntities::kLiteral) {
    return ParserReader(StringParser::parse(text), entities);
}

TEST(KeyReader, RepeatedKeysComeBackInOrderAndAreConsumed) {
    ParserReader doc = document("<r><item>1</item><other/><item>2</item></r>");
    IKeyReader* root = doc.getKey("r");
    EXPECT_EQ(root->count("item"), 2);
    String first;
    String second;
    root->getKey("item")->read(first);
    EXPECT_EQ(root->count("item"), 1);
    root->getKey("item")->read(second);
    EXPECT_EQ(first, "1");
    EXPECT_EQ(second, "2");
    EXPECT_EQ(root->count("item"), 0);
    EXPECT_FALSE(root->hasKey("item"));
    LogCapture capture;
    EXPECT_THROW(root->getKey("item"), tessel::xml::EKeyReader);
    EXPECT_TRUE(capture.entries().empty());
    // Another key is still there.
    EXPECT_TRUE(root->hasKey("other"));
}

TEST(KeyReader, OneChildReaderIsReusedAndRebound) {
    ParserReader doc = document("<r><a>1</a><b>2</b></r>");
    IKeyReader* root = doc.getKey("r");
    IKeyReader* a = root->getKey("a");
    IKeyReader* b = root->getKey("b");
    EXPECT_EQ(a, b);
    String value;
    a->read(value);
    EXPECT_EQ(value, "2");
}

TEST(KeyReader, KeysMatchLowerCaseNamesOnly) {
    ParserReader doc = document("<r><Proxy>p</Proxy><!--proxy-->proxy</r>");
    IKeyReader* root = doc.getKey("r");
    EXPECT_EQ(root->count("Proxy"), 0);
    EXPECT_FALSE(root->hasKey("Proxy"));
    EXPECT_THROW(root->getKey("Proxy"), tessel::xml::EKeyReader);
    // Texts and comments are never keys.
    EXPECT_EQ(root->count("proxy"), 1);
    String value;
    root->getKey("proxy")->read(value);
    EXPECT_EQ(value, "p");
}

TEST(KeyReader, ValueIsTheFirstTextChild) {
    ParserReader doc = document("<r><a>text<b>inner</b></a><c><d/>later</c><e/><f></f></r>");
    IKeyReader* root = doc.getKey("r");
    const std::pair<const char*, const char*> cases[] = {
        {"a", "text"}, {"c", "later"}, {"e", ""}, {"f", ""}};
    for (const auto& c : cases) {
        String value = "unchanged";
        root->getKey(c.first)->read(value);
        EXPECT_EQ(value, c.second) << c.first;
    }
}

TEST(KeyReader, Booleans) {
    const std::pair<const char*, bool> accepted[] = {{"YES", true},  {"On", true},
                                                     {"true", true}, {"false", false},
                                                     {"No", false},  {"OFF", false}};
    for (const auto& c : accepted) {
        std::string text = std::string("<r><v>") + c.first + "</v></r>";
        ParserReader doc = document(text.c_str());
        bool value = !c.second;
        doc.getKey("r")->getKey("v")->read(value);
        EXPECT_EQ(value, c.second) << c.first;
    }
    for (const char* refused : {"1", "", "yes please"}) {
        std::string text = std::string("<r><v>") + refused + "</v></r>";
        ParserReader doc = document(text.c_str());
        LogCapture capture;
        bool value = true;
        EXPECT_THROW(doc.getKey("r")->getKey("v")->read(value), tessel::xml::EKeyReader);
        EXPECT_TRUE(capture.contains("TRACE xml.KeyReader.read cannot read boolean")) << refused;
    }
    // The document reader reads its root's text, under its own name and exception.
    ParserReader doc = document("<r>2</r>");
    LogCapture capture;
    bool value = false;
    EXPECT_THROW(doc.read(value), tessel::xml::EParserReader);
    EXPECT_TRUE(capture.contains("TRACE xml.ParserReader.read cannot read boolean"));
}

TEST(KeyReader, NumbersCharactersAndBuffers) {
    ParserReader doc = document(
        "<r><i>-12abc</i><s>70000</s><u>+5x</u><n>-1</n><us>65537</us><c>xyz</c><e/>"
        "<b>aGk=</b></r>");
    IKeyReader* root = doc.getKey("r");
    int i = 0;
    short s = 0;
    unsigned int u = 0;
    unsigned int n = 0;
    unsigned short us = 0;
    char c = 0;
    char e = 'e';
    unsigned char uc = 0;
    Buffer b;
    root->getKey("i")->read(i);
    root->getKey("s")->read(s);
    root->getKey("u")->read(u);
    root->getKey("n")->read(n);
    root->getKey("us")->read(us);
    root->getKey("c")->read(c);
    root->getKey("e")->read(e);
    EXPECT_THROW(root->getKey("c")->read(uc), tessel::xml::EKeyReader);  // "c" was consumed
    EXPECT_EQ(i, -12);
    EXPECT_EQ(s, static_cast<short>(70000));
    EXPECT_EQ(u, 5u);
    EXPECT_EQ(n, 0xffffffffu);
    EXPECT_EQ(us, 1);
    EXPECT_EQ(c, 'x');
    EXPECT_EQ(e, '\0');
    root->getKey("b")->read(b);
    EXPECT_EQ(String(b), "hi");
}

TEST(KeyReader, UnsupportedOperationsRaise) {
    ParserReader doc = document("<r><a x='1'>t</a></r>");
    IKeyReader* a = doc.getKey("r")->getKey("a");
    char raw[4];
    Buffer buffer;
    EXPECT_THROW(a->read(raw, 4), tessel::xml::EKeyReader);
    EXPECT_THROW(a->read(buffer, 4), tessel::xml::EKeyReader);
    EXPECT_THROW(a->available(), tessel::xml::EKeyReader);
    EXPECT_THROW(a->position(), tessel::xml::EKeyReader);
    EXPECT_THROW(a->seek(0), tessel::xml::EKeyReader);
    EXPECT_THROW(doc.read(raw, 4), tessel::xml::EParserReader);
    EXPECT_THROW(doc.seek(0), tessel::xml::EParserReader);
}

TEST(KeyReader, Attributes) {
    ParserReader doc = document("<r v='root'><a Security='1' x=\"&quot;&lt;\">t</a></r>");
    EXPECT_EQ(doc.getAttribute("v"), "root");
    IKeyReader* a = doc.getKey("r")->getKey("a");
    EXPECT_TRUE(a->hasAttribute("Security"));
    EXPECT_FALSE(a->hasAttribute("security"));
    EXPECT_EQ(a->getAttribute("Security"), "1");
    EXPECT_EQ(a->getAttribute("missing"), "");
    EXPECT_EQ(a->getAttribute("x"), "\"&lt;");
}

TEST(KeyReader, ListsReadThroughTheKeyedContract) {
    ParserReader doc = document(
        "<r><list><domains>a.example</domains><domains>b.example:8443</domains></list></r>");
    tessel::List<String> list("domains");
    doc.getKey("r")->getKey("list")->read(list);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front(), "a.example");
    EXPECT_EQ(list.back(), "b.example:8443");
}

TEST(KeyReader, EntityDecodingIsAnOption) {
    const char* text =
        "<r a='&lt;&quot;'><v>x &lt;&amp;&gt; &quot;&apos; &amp;lt; &unknown; &amp</v></r>";
    String literal;
    document(text).getKey("r")->getKey("v")->read(literal);
    EXPECT_EQ(literal, "x &lt;&amp;&gt; &quot;&apos; &amp;lt; &unknown; &amp");

    ParserReader decoding = document(text, TextEntities::kDecode);
    String decoded;
    decoding.getKey("r")->getKey("v")->read(decoded);
    EXPECT_EQ(decoded, "x <&> \"' &lt; &unknown; &amp");
    // Attribute values keep their own two entities only.
    EXPECT_EQ(decoding.getKey("r")->getAttribute("a"), "&lt;\"");
}

TEST(ParserReader, RootIsTheOnlyKey) {
    ParserReader doc = document("<DLL><name>n</name></DLL>");
    EXPECT_EQ(doc.count("dll"), 1);
    EXPECT_EQ(doc.count("DLL"), 0);
    EXPECT_EQ(doc.count("other"), 0);
    EXPECT_TRUE(doc.hasKey("dll"));
    IKeyReader* first = doc.getKey("dll");
    IKeyReader* second = doc.getKey("dll");
    EXPECT_EQ(first, second);
    EXPECT_EQ(static_cast<KeyReader*>(first)->element(), doc.root());
    EXPECT_THROW(doc.getKey("other"), tessel::xml::EParserReader);

    ParserReader empty{std::unique_ptr<tessel::xml::Element>()};
    EXPECT_THROW(empty.count("dll"), tessel::xml::EParserReader);
    EXPECT_THROW(empty.hasKey("dll"), tessel::xml::EParserReader);
    EXPECT_THROW(empty.getKey("dll"), tessel::xml::EParserReader);
}

TEST(ParserReader, Files) {
    TempDir dir;
    std::string good = dir.file("good.xml");
    writeFile(good, "<?xml version=\"1.0\"?>\n<settings><a>1</a></settings>\n");
    ParserReader reader(String::copy(good));
    String value;
    reader.getKey("settings")->getKey("a")->read(value);
    EXPECT_EQ(value, "1");

    LogCapture capture;
    EXPECT_THROW(ParserReader(String::copy(dir.file("missing.xml"))), tessel::xml::EParserReader);
    EXPECT_TRUE(capture.entries().empty());

    std::string bad = dir.file("bad.xml");
    writeFile(bad, "not xml");
    EXPECT_THROW(ParserReader(String::copy(bad)), tessel::xml::EXmlStringParser);
}

}  // namespace
