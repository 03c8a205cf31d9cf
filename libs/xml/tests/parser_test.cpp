#include "xml/parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/file.h"
#include "sandbox.h"
#include "xmldump.h"

using tessel::String;
using tessel::xml::StringParser;
using tessel::xml::XmlParser;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

TEST(StringParser, SkipsCommentsAndDeclarationsBeforeTheRoot) {
    const std::pair<const char*, const char*> cases[] = {
        {"<!-- c --><?xml version='1.0'?><root/>", "root{}"},
        {"<?xml version=\"1.0\"?>\r\n<!-- c -->\r\n<root a='1'>t</root>", "root[a='1']{\"t\"}"},
        // Whatever follows the root is ignored.
        {"  <root/>trailing <x/>", "root{}"},
        {"<root>t</root><other>", "root{\"t\"}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        EXPECT_EQ(xmltest::dump(StringParser::parse(c.first).get()), c.second);
    }
}

TEST(StringParser, TheThreeWaysToFail) {
    struct Case {
        const char* text;
        const char* exception;
        const char* logged;  // or null
    };
    const Case cases[] = {
        {"no markup at all", "xml::EXmlStringParser", nullptr},
        {"<root", "xml::EXmlStringParser", nullptr},
        {"<?xml version='1.0'", "xml::EXmlStringParser", nullptr},
        {"<!-- never closed <root/>", "xml::EXmlComment",
         "TRACE xml.Comment.parse bad xml file format: <!-- never closed <root/>"},
        {"<root attribute", "xml::EXmlElement", "TRACE xml.Element.parse cannot parse attributes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture capture;
        try {
            StringParser::parse(c.text);
            ADD_FAILURE() << "no exception";
        } catch (const tessel::xml::XmlException& e) {
            EXPECT_EQ(e.message(), c.exception);
        }
        if (c.logged) {
            EXPECT_TRUE(capture.contains(c.logged));
        }
    }
}

TEST(StringParser, TreeOutlivesATextWithoutStorage) {
    char buffer[] = "<root a='1'>text</root>";
    std::unique_ptr<tessel::xml::Element> root;
    {
        String view(buffer, sizeof buffer - 1);  // not copied by the String
        root = StringParser::parse(view);
    }
    std::fill(buffer, buffer + sizeof buffer - 1, 'x');
    EXPECT_EQ(xmltest::dump(root.get()), "root[a='1']{\"text\"}");
}

// Writes a=1 and b holding c=2.
class Sample : public tessel::ISerialize {
public:
    void read(tessel::IKeyReader&) override {}
    void read(tessel::IReader&) override {}
    void write(tessel::IKeyWriter& writer) override {
        writer.writeKey("a")->write(1);
        writer.writeKey("b")->write(m_inner);
    }
    void write(tessel::IWriter&) override {}

private:
    class Inner : public tessel::ISerialize {
    public:
        void read(tessel::IKeyReader&) override {}
        void read(tessel::IReader&) override {}
        void write(tessel::IKeyWriter& writer) override { writer.writeKey("c")->write(2); }
        void write(tessel::IWriter&) override {}
    } m_inner;
};

// Writes one key, then fails as a protection or a disk error would.
class Failing : public tessel::ISerialize {
public:
    void read(tessel::IKeyReader&) override {}
    void read(tessel::IReader&) override {}
    void write(tessel::IKeyWriter& writer) override {
        writer.writeKey("a")->write("partial");
        TESSEL_THROW(tessel::EFile);
    }
    void write(tessel::IWriter&) override {}
};

std::vector<std::string> listFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

const char kSampleDocument[] =
    "<settings>\r\n <a>1</a>\r\n <b>\r\n  <c>2</c>\r\n </b>\r\n</settings>";

TEST(XmlParserSave, WritesTheDocumentAndReplacesTheOldFile) {
    TempDir dir;
    std::string path = dir.file("settings.xml");
    writeFile(path, "old content that is longer than the new document, by far, really");
    Sample sample;
    XmlParser::save(String::copy(path), "settings", sample);
    EXPECT_EQ(readFile(path), kSampleDocument);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"settings.xml"});
}

TEST(XmlParserSave, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    TempDir dir;
    std::string path = dir.file("settings.xml");
    writeFile(path, kSampleDocument);
    LogCapture capture;
    Failing failing;
    EXPECT_THROW(XmlParser::save(String::copy(path), "settings", failing), tessel::xml::EParser);
    EXPECT_EQ(readFile(path), kSampleDocument);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"settings.xml"});
    EXPECT_TRUE(capture.contains("ERROR XmlParser.save cannot save " + path));
}

TEST(XmlParserSave, AFileThatCannotBeCreatedIsReported) {
    TempDir dir;
    std::string path = dir.file("missing-folder/settings.xml");
    LogCapture capture;
    Sample sample;
    EXPECT_THROW(XmlParser::save(String::copy(path), "settings", sample), tessel::xml::EParser);
    bool reported = false;
    for (const std::string& entry : capture.entries()) {
        if (entry.rfind("ERROR XmlParser.save cannot open ", 0) == 0)
            reported = true;
    }
    EXPECT_TRUE(reported);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(XmlParserSave, ARenameOntoAFolderFailsCleanly) {
    TempDir dir;
    std::string path = dir.file("settings.xml");
    std::filesystem::create_directory(path);  // a folder stands where the file should go
    Sample sample;
    EXPECT_THROW(XmlParser::save(String::copy(path), "settings", sample), tessel::xml::EParser);
    EXPECT_EQ(listFolder(dir.path()), std::vector<std::string>{"settings.xml"});
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

}  // namespace
