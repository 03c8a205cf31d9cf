#include "xml/writerkeywriter.h"

#include <gtest/gtest.h>

#include "base/buffer.h"
#include "base/serializers.h"
#include "base/stringwriter.h"
#include "xml/keyreader.h"
#include "xml/parser.h"

using tessel::Buffer;
using tessel::IKeyWriter;
using tessel::ISerialize;
using tessel::String;
using tessel::StringWriter;
using tessel::xml::WriterKeyWriter;

namespace {

// Calls a function with the keyed writer, like an object's write(IKeyWriter&).
template <class F>
class Writes : public ISerialize {
public:
    explicit Writes(F f) : m_f(f) {}
    void read(tessel::IKeyReader&) override {}
    void read(tessel::IReader&) override {}
    void write(IKeyWriter& writer) override { m_f(writer); }
    void write(tessel::IWriter&) override {}

private:
    F m_f;
};
template <class F>
Writes<F> writes(F f) {
    return Writes<F>(f);
}

// The document that XmlParser::save would write for `object` under `root`.
template <class F>
String render(const char* root, F f, bool escape = true) {
    String out;
    StringWriter sink(out);
    {
        WriterKeyWriter writer(sink, String(), escape);
        auto object = writes(f);
        writer.writeKey(root)->write(object);
    }
    return out;
}

TEST(WriterKeyWriter, SixLineLayout) {
    String out = render("settings", [](IKeyWriter& w) {
        w.writeKey("a")->write("1");
        auto inner = writes([](IKeyWriter& b) { b.writeKey("c")->write("2"); });
        w.writeKey("b")->write(inner);
    });
    EXPECT_EQ(out, "<settings>\r\n <a>1</a>\r\n <b>\r\n  <c>2</c>\r\n </b>\r\n</settings>");
}

TEST(WriterKeyWriter, ElementsWithoutValueAttributesAndEmptyObjects) {
    String out = render("r", [](IKeyWriter& w) {
        w.writeKey("none");
        w.writeKey("password")->writeAttribute("security", "1")->write("QUJD");
        tessel::List<String> empty("domains");
        w.writeKey("list")->write(empty);
    });
    EXPECT_EQ(out,
              "<r>\r\n <none></none>\r\n <password security=\"1\">QUJD</password>\r\n"
              " <list>\r\n </list>\r\n</r>");
}

TEST(WriterKeyWriter, TypedValues) {
    const unsigned char bytes[] = {'h', 'i', '!'};
    Buffer buffer(bytes, 3);
    String out = render("r", [&](IKeyWriter& w) {
        w.writeKey("t")->write(true);
        w.writeKey("f")->write(false);
        w.writeKey("i")->write(-5);
        w.writeKey("s")->write(static_cast<short>(-7));
        w.writeKey("u")->write(4000000000u);
        w.writeKey("us")->write(static_cast<unsigned short>(65535));
        w.writeKey("c")->write('x');
        w.writeKey("uc")->write(static_cast<unsigned char>(200));
        w.writeKey("b")->write(buffer);
        w.writeKey("bl")->write(buffer, 2);
        w.writeKey("raw")->write(static_cast<const void*>("a&b"), 3);
    });
    EXPECT_EQ(out,
              "<r>\r\n <t>true</t>\r\n <f>false</f>\r\n <i>-5</i>\r\n <s>-7</s>\r\n"
              " <u>4000000000</u>\r\n <us>65535</us>\r\n <c>x</c>\r\n <uc>200</uc>\r\n"
              " <b>aGkh</b>\r\n <bl>aGk=</bl>\r\n <raw>a&amp;b</raw>\r\n</r>");
}

TEST(WriterKeyWriter, EscapedTextReadsBackWithDecoding) {
    const char* hostile = "a<b & c>d &amp; </r>";
    String out = render("r", [&](IKeyWriter& w) {
        w.writeKey("v")->write(hostile);
        w.writeKey("c")->write('<');
    });
    EXPECT_EQ(out,
              "<r>\r\n <v>a&lt;b &amp; c&gt;d &amp;amp; &lt;/r&gt;</v>\r\n <c>&lt;</c>\r\n</r>");

    tessel::xml::ParserReader decoding(tessel::xml::StringParser::parse(out),
                                       tessel::xml::TextEntities::kDecode);
    String value;
    String c;
    decoding.getKey("r")->getKey("v")->read(value);
    decoding.getKey("r")->getKey("c")->read(c);
    EXPECT_EQ(value, hostile);
    EXPECT_EQ(c, "<");

    // A literal reader sees the text as it stands in the file.
    tessel::xml::ParserReader literal(tessel::xml::StringParser::parse(out));
    literal.getKey("r")->getKey("v")->read(value);
    EXPECT_EQ(value, "a&lt;b &amp; c&gt;d &amp;amp; &lt;/r&gt;");
}

TEST(WriterKeyWriter, UnescapedTextChangesTheDocument) {
    String out = render(
        "r", [](IKeyWriter& w) { w.writeKey("v")->write("x<y>z"); }, false);
    EXPECT_EQ(out, "<r>\r\n <v>x<y>z</v>\r\n</r>");
    tessel::xml::ParserReader reader(tessel::xml::StringParser::parse(out));
    String value;
    reader.getKey("r")->getKey("v")->read(value);
    EXPECT_EQ(value, "x");
}

TEST(WriterKeyWriter, FinishClosesEverythingOnce) {
    String out;
    StringWriter sink(out);
    WriterKeyWriter writer(sink, String());
    IKeyWriter* root = writer.writeKey("r");
    root->writeKey("a")->writeKey("b");
    writer.finish();
    String done = out;
    EXPECT_EQ(done, "<r>\r\n <a>\r\n  <b></b></a></r>");
    writer.finish();
    EXPECT_EQ(out, done);
}

}  // namespace
