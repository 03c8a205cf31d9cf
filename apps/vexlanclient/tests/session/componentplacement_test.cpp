// Component placement: the gateway's texts as paths, the native record, and the staged
// unpacking that never leaves half a component in the version folder.
#include "vexlanclient/componentplacement.h"

#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/file.h"
#include "sandbox.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/clientcurlsession.h"
#include "vexlanclient/componentfetch.h"
#include "zlib/zipwriter.h"

namespace vexlan {
namespace {

using testing::LogCapture;
using testing::Sandbox;

TEST(ComponentPlacementTest, PathComponentsThatLeaveTheFolderAreRefused) {
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        {"2.4.1", true}, {"hostchecker.so", true}, {"a..b", true},  {"", false},    {".", false},
        {"..", false},   {".hidden", false},       {"../x", false}, {"a/b", false}, {"a\\b", false},
        {"/abs", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        LogCapture log;
        if (c.accepted) {
            EXPECT_NO_THROW(checkPathComponent(c.text, "version", "Cls", "downloadDll"));
        } else {
            EXPECT_THROW(checkPathComponent(c.text, "version", "Cls", "downloadDll"),
                         tessel::EClientConfiguration);
            EXPECT_TRUE(log.contains(std::string("ERROR Cls.downloadDll Refusing version outside "
                                                 "the component folder: \"") +
                                     c.text + "\""));
        }
    }
    std::string withZero("a\0b", 3);
    EXPECT_THROW(checkPathComponent(tessel::String::copy(withZero), "pattern", "Cls", "m"),
                 tessel::EClientConfiguration);
}

TEST(ComponentPlacementTest, AbsentNativeRecordIsAnError) {
    Dlls dlls;
    LogCapture log;
    EXPECT_THROW(nativeComponent(dlls, "VexlanClientHostchecker", "downloadDll"),
                 tessel::EModuleLoader);
    EXPECT_TRUE(log.contains(
        "ERROR VexlanClientHostchecker.downloadDll No linux64 component in the configuration"));
    dlls.m_linux64.m_present = true;
    EXPECT_EQ(&dlls.m_linux64, &nativeComponent(dlls, "C", "m"));
}

class VersionedComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll.m_filename = "hc.zip";
        m_dll.m_urlpath = "https://127.0.0.1:1/components/";  // never reached: MD5 reuse
        m_dll.m_pattern = "hc.so";
        m_dll.m_version = "1.2";
        m_dll.m_present = true;
        m_directory = tessel::getProgramDirectory() + "/hostchecker";
        tessel::createDirectories(m_directory);
    }

    // An archive in the component folder whose MD5 the record expects, so that placement
    // reuses it without a transfer.
    void publish(bool withSignature) {
        std::string archive = m_directory.toStd() + "/hc.zip";
        tessel::zlib::ZipWriter zip;
        ASSERT_TRUE(zip.open(archive.c_str()));
        ASSERT_TRUE(zip.add("hc.so", "library", 7));
        if (withSignature) {
            ASSERT_TRUE(zip.add("hc.so.sig", "<dll/>", 6));
        }
        ASSERT_TRUE(zip.close());
        m_dll.m_md5 = fileMd5Hex(archive.c_str());
    }

    Sandbox m_sandbox;
    SharedLocalConfiguration m_settings;
    VexlanClientCurlSession m_session{&m_settings};
    Dll m_dll;
    tessel::String m_directory;
};

TEST_F(VersionedComponentTest, CompleteArchiveReplacesAPartialVersionFolder) {
    VersionedComponent component("VexlanClientHostchecker", m_directory, m_dll);
    EXPECT_EQ(m_directory.toStd() + "/1.2/hc.so", component.libraryPath().toStd());
    EXPECT_EQ(m_directory.toStd() + "/1.2/hc.so.sig", component.signaturePath().toStd());
    // What an extraction that stopped half way left behind.
    tessel::createDirectories(component.versionDirectory());
    testing::writeFile(component.libraryPath().toStd(), "half a libr");
    publish(true);
    EXPECT_TRUE(component.place(m_session, true));
    EXPECT_EQ("library", testing::readFile(component.libraryPath().toStd()));
    EXPECT_EQ("<dll/>", testing::readFile(component.signaturePath().toStd()));
    EXPECT_FALSE(tessel::isDirectory(m_directory + "/.unpack-1.2"));
}

TEST_F(VersionedComponentTest, IncompleteArchiveLeavesTheVersionFolderAlone) {
    VersionedComponent component("VexlanClientHostchecker", m_directory, m_dll);
    publish(false);
    LogCapture log;
    EXPECT_TRUE(component.place(m_session, true));
    EXPECT_FALSE(tessel::isFile(component.libraryPath()));
    EXPECT_FALSE(tessel::isDirectory(component.versionDirectory()));
    EXPECT_FALSE(tessel::isDirectory(m_directory + "/.unpack-1.2"));
}

TEST_F(VersionedComponentTest, PresentOrForbiddenMeansNoFetch) {
    VersionedComponent component("VexlanClientHostchecker", m_directory, m_dll);
    {
        LogCapture log;
        EXPECT_FALSE(component.place(m_session, false));
        EXPECT_TRUE(
            log.contains("TRACE VexlanClientHostchecker.downloadDll Not downloading dll "
                         "according to configuration"));
        EXPECT_TRUE(log.contains("TRACE VexlanClientHostchecker.downloadDll Using " +
                                 component.libraryPath().toStd() + " as dll"));
    }
    tessel::createDirectories(component.versionDirectory());
    testing::writeFile(component.libraryPath().toStd(), "old");
    testing::writeFile(component.signaturePath().toStd(), "old");
    LogCapture log;
    EXPECT_FALSE(component.place(m_session, true));
    EXPECT_TRUE(log.contains("TRACE VexlanClientHostchecker.downloadDll " +
                             component.libraryPath().toStd() + " and " +
                             component.signaturePath().toStd() + " are already present."));
    // A refresh unpacks again even so.
    publish(true);
    EXPECT_TRUE(component.place(m_session, true, true));
    EXPECT_EQ("library", testing::readFile(component.libraryPath().toStd()));
}

TEST_F(VersionedComponentTest, RecordTextsAreCheckedAtOnce) {
    m_dll.m_version = "../up";
    EXPECT_THROW(VersionedComponent("C", m_directory, m_dll), tessel::EClientConfiguration);
    m_dll.m_version = "1.2";
    m_dll.m_filename = "../hc.zip";
    EXPECT_THROW(VersionedComponent("C", m_directory, m_dll), tessel::EClientConfiguration);
}

}  // namespace
}  // namespace vexlan
