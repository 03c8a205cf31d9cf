// The plugin sub-clients' pieces that run without a gateway: the placement of a plugin
// library under its pattern and version (archives reused by their MD5, so no transfer), and
// the splitting of the plugin's commands.
#include "vexlanclient/pluginclient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/exception.h"
#include "base/file.h"
#include "sandbox.h"
#include "vexlanclient/clientconfiguration.h"
#include "vexlanclient/clientcurlsession.h"
#include "vexlanclient/componentfetch.h"
#include "vexlanclient/componentplacement.h"
#include "zlib/zipwriter.h"

namespace vexlan {
namespace {

using testing::LogCapture;
using testing::Sandbox;

// The names in `folder`, sorted, hidden ones included.
std::vector<std::string> folderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(VexlanClientPluginDllTest, CommandsAreSplitAtEverySemicolon) {
    const struct {
        const char* text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", {""}},
        {"stats", {"stats"}},
        {"stats;writelog tunnel.log", {"stats", "writelog tunnel.log"}},
        {";", {"", ""}},
        {"a;;b;", {"a", "", "b", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::string> pieces;
        for (const tessel::String& piece : VexlanClientPluginDll::splitCommands(c.text))
            pieces.push_back(piece.toStd());
        EXPECT_EQ(c.pieces, pieces);
    }
}

class PluginComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dll.m_filename = "vpn.zip";
        m_dll.m_urlpath = "https://127.0.0.1:1/components/";  // never reached: MD5 reuse
        m_dll.m_pattern = "vpn";
        m_dll.m_version = "2.4.1";
        m_dll.m_present = true;
        m_directory = pluginDirectory();
        tessel::createDirectories(m_directory);
    }

    // An archive in the plugin folder whose MD5 the record expects.
    void publish(const char* library, bool withSignature) {
        std::string archive = m_directory.toStd() + "/vpn.zip";
        tessel::zlib::ZipWriter zip;
        ASSERT_TRUE(zip.open(archive.c_str()));
        ASSERT_TRUE(zip.add("vpn", library, static_cast<uint32_t>(std::string(library).size())));
        if (withSignature) {
            ASSERT_TRUE(zip.add("vpn.sig", "<dll/>", 6));
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

// The system's library suffix in the names the placement gives.
#ifdef _WIN32
#define LIBRARY_SUFFIX ".dll"
#else
#define LIBRARY_SUFFIX ".so"
#endif

TEST_F(PluginComponentTest, LibraryNameIsPatternAndVersion) {
    const struct {
        const char* version;
        const char* name;
    } cases[] = {{"2.4.1", "vpn_2_4_1" LIBRARY_SUFFIX},
                 {"1.0", "vpn_1_0" LIBRARY_SUFFIX},
                 {"7", "vpn_7" LIBRARY_SUFFIX}};
    for (const auto& c : cases) {
        m_dll.m_version = c.version;
        PluginComponent component("VexlanClientPluginDll", m_directory, m_dll);
        EXPECT_EQ(m_directory.toStd() + "/" + c.name, component.libraryPath().toStd());
        EXPECT_EQ(m_directory.toStd() + "/" + c.name + ".sig", component.signaturePath().toStd());
    }
}

TEST_F(PluginComponentTest, ArchiveIsUnpackedAndRenamed) {
    PluginComponent component("VexlanClientPluginDllNoTunnel", m_directory, m_dll);
    // Stale files under every name the placement uses.
    for (const char* name : {"vpn_2_4_1" LIBRARY_SUFFIX, "vpn", "vpn.sig"})
        testing::writeFile(m_directory.toStd() + "/" + name, "stale");
    publish("library", true);
    LogCapture log;
    EXPECT_TRUE(component.place(m_session, true));
    EXPECT_TRUE(
        log.contains("TRACE VexlanClientPluginDllNoTunnel.downloadDllWindows "
                     "Downloading dll."));
    EXPECT_EQ("library", testing::readFile(component.libraryPath().toStd()));
    EXPECT_EQ("<dll/>", testing::readFile(component.signaturePath().toStd()));
    EXPECT_FALSE(tessel::isFile(m_directory + "/vpn"));
    EXPECT_FALSE(tessel::isFile(m_directory + "/vpn.sig"));

    // Both present: used as they are.
    publish("newer library", true);
    LogCapture second;
    EXPECT_FALSE(component.place(m_session, true));
    EXPECT_TRUE(second.contains("TRACE VexlanClientPluginDllNoTunnel.downloadDllWindows " +
                                component.libraryPath().toStd() + " and " +
                                component.signaturePath().toStd() + " are already present."));
    EXPECT_EQ("library", testing::readFile(component.libraryPath().toStd()));
    // A refresh places the archive again.
    EXPECT_TRUE(component.place(m_session, true, true));
    EXPECT_EQ("newer library", testing::readFile(component.libraryPath().toStd()));
}

TEST_F(PluginComponentTest, ArchiveWithoutSignatureFailsAtTheRename) {
    PluginComponent component("VexlanClientPluginDllNoTunnel", m_directory, m_dll);
    publish("library", false);
    LogCapture log;
    EXPECT_THROW(component.place(m_session, true), tessel::EFile);
    // The ERROR lines always name the tunnel sub-client.
    EXPECT_TRUE(log.contains("ERROR VexlanClientPluginDll.downloadDllWindows missing " +
                             m_directory.toStd() +
                             "/.unpack-vpn_2_4_1" LIBRARY_SUFFIX "/vpn.sig in archive"));
    EXPECT_FALSE(tessel::isFile(component.signaturePath()));
    // Neither the library alone nor the staging folder is left behind.
    EXPECT_FALSE(tessel::isFile(component.libraryPath()));
    EXPECT_FALSE(tessel::isDirectory(m_directory + "/.unpack-vpn_2_4_1" LIBRARY_SUFFIX));
}

TEST_F(PluginComponentTest, ArchivePastTheUnpackLimitsLeavesNothing) {
    PluginComponent component("VexlanClientPluginDll", m_directory, m_dll);
    std::string library(5000, 'x');
    publish(library.c_str(), true);
    const struct {
        uint64_t bytes;
        uint32_t entries;
        const char* refusal;
    } cases[] = {
        {4096, 10, " unpacks to more than 4096 bytes: extraction stopped"},
        {1 << 20, 1, " holds more than 1 entries: extraction stopped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal);
        tessel::zlib::UnpackLimits limits;
        limits.maxBytes = c.bytes;
        limits.maxEntries = c.entries;
        LogCapture log;
        EXPECT_THROW(component.place(m_session, true, false, limits), tessel::zlib::EZip);
        EXPECT_TRUE(log.contains("ERROR Zip.unzip Archive " + m_directory.toStd() + "/vpn.zip" +
                                 c.refusal));
        // Only the archive stays (its MD5 decides about it next time).
        EXPECT_EQ(std::vector<std::string>{"vpn.zip"}, folderNames(m_directory.toStd()));
    }
    // Within the limits the same archive is placed.
    tessel::zlib::UnpackLimits enough;
    enough.maxBytes = 5006;
    enough.maxEntries = 2;
    EXPECT_TRUE(component.place(m_session, true, false, enough));
    EXPECT_EQ(library, testing::readFile(component.libraryPath().toStd()));
}

TEST_F(PluginComponentTest, DownloadsForbiddenUseWhatIsThere) {
    PluginComponent component("VexlanClientPluginDll", m_directory, m_dll);
    publish("library", true);
    LogCapture log;
    EXPECT_FALSE(component.place(m_session, false));
    EXPECT_EQ(log.entries(),
              (std::vector<std::string>{
                  "TRACE VexlanClientPluginDll.downloadDllWindows Not downloading dll according "
                  "to configuration",
                  "TRACE VexlanClientPluginDll.downloadDllWindows Using " +
                      component.libraryPath().toStd() + " as dll"}));
    EXPECT_FALSE(tessel::isFile(component.libraryPath()));
}

TEST_F(PluginComponentTest, RecordTextsAreCheckedAtOnce) {
    for (const char* field : {"pattern", "version", "filename"}) {
        SCOPED_TRACE(field);
        Dll dll = m_dll;
        tessel::String bad = "../up";
        if (std::string(field) == "pattern")
            dll.m_pattern = bad;
        if (std::string(field) == "version")
            dll.m_version = bad;
        if (std::string(field) == "filename")
            dll.m_filename = bad;
        LogCapture log;
        EXPECT_THROW(PluginComponent("VexlanClientPluginDll", m_directory, dll),
                     tessel::EClientConfiguration);
        EXPECT_EQ(1u, log.entries().size());
    }
}

}  // namespace
}  // namespace vexlan
