#include "base/credentials.h"

#include <gtest/gtest.h>

#include "base/stringwriter.h"
#include "sandbox.h"
#include "xml/keyreader.h"
#include "xml/parser.h"
#include "xml/writerkeywriter.h"

using tessel::Credentials;
using tessel::String;
using tessel::xml::ParserReader;
using tessel::xml::StringParser;

namespace {

Credentials readCredentials(const char* document) {
    ParserReader reader(StringParser::parse(document));
    Credentials credentials;
    reader.getKey("credentials")->read(static_cast<tessel::ISerialize&>(credentials));
    return credentials;
}

TEST(Credentials, KeyedReadTakesWhatIsPresent) {
    Credentials full = readCredentials(
        "<credentials><login>bob</login><password>pw</password><domain>CORP</domain>"
        "</credentials>");
    EXPECT_EQ(full, Credentials("bob", "pw", "CORP"));
    // "mediation" is read after "domain", into the domain.
    Credentials mediation = readCredentials(
        "<credentials><mediation>GW</mediation><domain>CORP</domain><login>bob</login>"
        "</credentials>");
    EXPECT_EQ(mediation, Credentials("bob", "", "GW"));
    EXPECT_EQ(readCredentials("<credentials/>"), Credentials());
}

TEST(Credentials, AKeyThatCannotBeReadDoesNotStopTheOthers) {
    // A reader on which the entry "password" cannot be taken.
    class NoPassword : public tessel::xml::KeyReader {
    public:
        using KeyReader::getKey;
        using KeyReader::KeyReader;
        tessel::IKeyReader* getKey(const String& key) override {
            if (key == "password")
                TESSEL_THROW(tessel::xml::EKeyReader);
            return KeyReader::getKey(key);
        }
    };
    auto root = StringParser::parse(
        "<c><login>a</login><password>b</password><mediation>m</mediation></c>");
    NoPassword reader(root.get());
    vexlan::testing::LogCapture capture;
    Credentials credentials("old", "old", "old");
    credentials.read(static_cast<tessel::IKeyReader&>(reader));
    EXPECT_EQ(credentials, Credentials("a", "old", "m"));
    int caught = 0;
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind("TRACE Exception.catch tessel::xml::EKeyReader:", 0) == 0 &&
            entry.find(" -> credentials:") != std::string::npos) {
            ++caught;
        }
    }
    EXPECT_EQ(caught, 1);
}

TEST(Credentials, KeyedAndSequentialWrite) {
    Credentials credentials("bob", "secret", "CORP");
    String keyed;
    tessel::StringWriter keyedSink(keyed);
    {
        tessel::xml::WriterKeyWriter writer(keyedSink, String());
        writer.writeKey("credentials")->write(credentials);
    }
    EXPECT_EQ(keyed,
              "<credentials>\r\n <login>bob</login>\r\n <password>secret</password>\r\n"
              " <domain>CORP</domain>\r\n</credentials>");
    String sequential;
    tessel::StringWriter sequentialSink(sequential);
    sequentialSink.write(static_cast<tessel::ISerialize&>(credentials));
    EXPECT_EQ(sequential, "bobsecretCORP");
}

TEST(Credentials, UserNames) {
    struct Case {
        const char* userName;
        const char* login;
        const char* domain;
    };
    const Case cases[] = {
        {"CORP\\bob", "bob", "CORP"},
        {"bob@corp.example", "bob", "corp.example"},
        {"CORP\\bob@corp.example", "bob@corp.example", "CORP"},  // the backslash wins
        {"bob", "bob", "kept"},                                  // the domain stays
        {"\\bob", "bob", ""},
    };
    for (const Case& c : cases) {
        Credentials credentials("old", "pw", "kept");
        credentials.setFromUserName(c.userName);
        EXPECT_EQ(credentials.login(), c.login) << c.userName;
        EXPECT_EQ(credentials.domain(), c.domain) << c.userName;
        EXPECT_EQ(credentials.password(), "pw");
    }
    Credentials withDomain("bob", "", "CORP");
    EXPECT_EQ(withDomain.userNameWithDomain(true), "bob@CORP");
    EXPECT_EQ(withDomain.userNameWithDomain(false), "CORP\\bob");
    EXPECT_EQ(Credentials("bob", "", "").userNameWithDomain(true), "bob");
}

}  // namespace
