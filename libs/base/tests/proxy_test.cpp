// Proxy (libs/base/proxy.h), read and written through the XML key reader and writer; kept
// with the HTTP tests because the base library's tests cannot reach the XML library.
#include "base/proxy.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/file.h"
#include "base/stringwriter.h"
#include "sandbox.h"
#include "xml/keyreader.h"
#include "xml/parser.h"
#include "xml/writerkeywriter.h"

namespace {

using tessel::Proxy;
using tessel::String;

TEST(Proxy, TypeNames) {
    const std::tuple<uint16_t, const char*, const char*> cases[] = {
        {0, "socks4", "socks4"},
        {1, "socks5", "socks5"},
        {2, "https", "https"},
        {3, "none", "no"},
        {4, "", ""},
    };
    for (const auto& [type, name, plugin] : cases) {
        EXPECT_EQ(Proxy::typeName(type), name) << type;
        EXPECT_EQ(Proxy::pluginTypeName(type), plugin) << type;
    }
    const std::pair<const char*, int> texts[] = {
        {"no-proxy", 3}, {"no", 3},   {"none", 3},    {"socks4", 0}, {"socks5", 1}, {"connect", 2},
        {"https", 2},    {"http", 2}, {"SOCKS5", -1}, {"socks", -1}, {"", -1},      {"https ", -1},
    };
    for (const auto& [text, expected] : texts) {
        Proxy proxy(1, "a:1");
        proxy.setType(String(text));
        EXPECT_EQ(proxy.type(), expected < 0 ? 1 : expected) << "'" << text << "'";
    }
}

tessel::xml::ParserReader parse(const std::string& text) {
    return tessel::xml::ParserReader(tessel::xml::StringParser::parse(String::copy(text)),
                                     tessel::xml::TextEntities::kDecode);
}

void readFrom(const std::string& document, Proxy& proxy) {
    tessel::xml::ParserReader reader = parse(document);
    reader.getKey("proxy")->read(static_cast<tessel::ISerialize&>(proxy));
}

TEST(Proxy, KeyedReadTakesEveryKeyItFinds) {
    const struct {
        const char* document;
        const char* expected;  // type address login password domain
    } cases[] = {
        {"<proxy/>", "3|||"},
        {"<proxy><type>connect</type><address>p.example:3128</address></proxy>",
         "2|p.example:3128|||"},
        {"<proxy><type>bogus</type></proxy>", "1|before|||"},  // unknown name: type kept
        {"<proxy><type>socks4</type><login>u</login><password>p</password><domain>d</domain>"
         "</proxy>",
         "0|before|u|p|d"},
        {"<proxy><login>flat</login><credentials><login>nested</login><password>pw</password>"
         "</credentials></proxy>",
         "3|before|nested|pw|"},
    };
    for (const auto& c : cases) {
        Proxy proxy(1, "before");
        readFrom(c.document, proxy);
        std::string got = std::to_string(proxy.type()) + "|" + proxy.address().toStd() + "|" +
                          proxy.credentials().login().toStd() + "|" +
                          proxy.credentials().password().toStd() + "|" +
                          proxy.credentials().domain().toStd();
        std::string expected = c.expected;
        if (expected == "3|||")
            expected = "3|before|||";
        EXPECT_EQ(got, expected) << c.document;
    }
}

TEST(Proxy, KeyedAndSequentialFormsReadBackWhatTheyWrite) {
    Proxy original(Proxy::kSocks5, "s.example:1080");
    original.setCredentials(tessel::Credentials("user", "p<w>&", "corp"));

    String text;
    {
        tessel::StringWriter out(text);
        tessel::xml::WriterKeyWriter writer(out, "");
        writer.writeKey("proxy")->write(static_cast<tessel::ISerialize&>(original));
        writer.finish();
    }
    // One key, "credentials", in both directions.
    EXPECT_NE(text.toStd().find("<credentials>"), std::string::npos) << text.toStd();
    EXPECT_NE(text.toStd().find("<type>socks5</type>"), std::string::npos) << text.toStd();
    Proxy keyed;
    readFrom(text.toStd(), keyed);
    EXPECT_EQ(keyed.type(), Proxy::kSocks5);
    EXPECT_EQ(keyed.address(), "s.example:1080");
    EXPECT_TRUE(keyed.credentials() == original.credentials());

    vexlan::testing::TempDir dir;
    String path = String::copy(dir.file("proxy.bin"));
    {
        tessel::File file;
        ASSERT_TRUE(file.open(path, tessel::File::kWrite));
        original.write(static_cast<tessel::IWriter&>(file));
    }
    Proxy sequential;
    tessel::File file;
    ASSERT_TRUE(file.open(path, tessel::File::kRead));
    sequential.read(static_cast<tessel::IReader&>(file));
    EXPECT_EQ(sequential.type(), Proxy::kSocks5);
    EXPECT_EQ(sequential.address(), "s.example:1080");
    EXPECT_TRUE(sequential.credentials() == original.credentials());
}

// A key reader whose entries are texts, and whose entry `failing` raises when it is read.
class MapReader : public tessel::IKeyReader {
public:
    using IKeyReader::read;
    MapReader(std::map<std::string, std::string> entries, std::string failing)
        : m_entries(std::move(entries)), m_failing(std::move(failing)) {}

    int count(const String& key) override { return hasKey(key) ? 1 : 0; }
    int count(const char* key) override { return count(String(key)); }
    bool hasKey(const String& key) override { return m_entries.count(key.toStd()) > 0; }
    bool hasKey(const char* key) override { return hasKey(String(key)); }
    IKeyReader* getKey(const String& key) override {
        if (key.toStd() == m_failing)
            TESSEL_THROW(tessel::EKeyReader);
        m_child = std::make_unique<MapReader>(std::map<std::string, std::string>{}, "");
        m_child->m_value = m_entries.at(key.toStd());
        return m_child.get();
    }
    IKeyReader* getKey(const char* key) override { return getKey(String(key)); }
    bool hasAttribute(const char*) override { return false; }
    String getAttribute(const char*) override { return String(); }
    void read(String& text) override { text = String::copy(m_value); }
    void read(tessel::ISerialize& object) override { object.read(*this); }
    void read(void*, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(tessel::Buffer&, int) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(tessel::Buffer&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(char&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned char&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(bool&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(int&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(short&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned int&) override { TESSEL_THROW(tessel::ENotImplemented); }
    void read(unsigned short&) override { TESSEL_THROW(tessel::ENotImplemented); }
    int available() override { return 0; }
    int position() override { return 0; }
    void seek(int) override {}

private:
    std::map<std::string, std::string> m_entries;
    std::string m_failing;
    std::string m_value;
    std::unique_ptr<MapReader> m_child;
};

TEST(Proxy, AnUnreadableKeyIsLoggedAndReadingGoesOn) {
    for (const char* failing : {"type", "address", "login"}) {
        MapReader reader(
            {{"type", "https"}, {"address", "p.example:1"}, {"login", "u"}, {"password", "pw"}},
            failing);
        vexlan::testing::LogCapture log;
        Proxy proxy(0, "before");
        proxy.read(static_cast<tessel::IKeyReader&>(reader));
        EXPECT_EQ(proxy.type(), std::string(failing) == "type" ? 0 : 2) << failing;
        EXPECT_EQ(proxy.address(), std::string(failing) == "address" ? "before" : "p.example:1")
            << failing;
        EXPECT_EQ(proxy.credentials().login(), std::string(failing) == "login" ? "" : "u")
            << failing;
        EXPECT_EQ(proxy.credentials().password(), "pw") << failing;
        bool logged = false;
        for (const std::string& entry : log.entries()) {
            if (entry.rfind("TRACE Exception.catch ", 0) == 0 &&
                entry.find("EKeyReader:") != std::string::npos &&
                entry.find(" -> proxy:") != std::string::npos) {
                logged = true;
            }
        }
        EXPECT_TRUE(logged) << failing;
    }
}

}  // namespace
