#include "http/downloadmanager.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "sandbox.h"
#include "servers.h"
#include "session.h"

namespace {

using tessel::String;
using tessel::http::DownloadManager::downloadFileTo;
using vexlan::testing::HttpsServer;
using vexlan::testing::LogCapture;
using vexlan::testing::TempDir;
using vexlan::testing::TestSession;

class DownloadManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_content.reserve(300000);
        for (int i = 0; i < 300000; ++i)
            m_content += static_cast<char>((i * 7 + i / 256) & 0xFF);
        m_server.addFile("a.bin", m_content);
        m_session.setGatewayAuthority(String::copy(m_server.authority()));
    }

    bool download(const std::string& url, const std::string& path) {
        return downloadFileTo(m_session, String::copy(url), String::copy(path));
    }

    HttpsServer m_server;
    TestSession m_session;
    TempDir m_dir;
    std::string m_content;
};

TEST_F(DownloadManagerTest, StoresTheBodyCreatingTheFolder) {
    std::string path = m_dir.file("components/x64/a.bin");
    LogCapture log;
    ASSERT_TRUE(download(m_server.url("/files/a.bin"), path));
    EXPECT_EQ(vexlan::testing::readFile(path), m_content);
    EXPECT_TRUE(log.contains("TRACE DownloadManager.downloadFileTo " +
                             m_server.url("/files/a.bin") + " -> " + path));
}

TEST_F(DownloadManagerTest, CompletesARelativeAddressFromTheGateway) {
    std::string path = m_dir.file("a.bin");
    ASSERT_TRUE(download("/files/a.bin", path));
    EXPECT_EQ(vexlan::testing::readFile(path), m_content);
    // Sent with https to the gateway's host and port.
    EXPECT_EQ(m_session.asked(), std::vector<std::string>{m_server.url("/files/a.bin")});
    ASSERT_EQ(m_server.requests().size(), 1u);
    EXPECT_NE(m_server.requests()[0].find("\"path\": \"/files/a.bin\""), std::string::npos);
}

TEST_F(DownloadManagerTest, KeepsPercentEncodingsOfTheAddress) {
    m_server.addFile("a b.bin", "blank\n");
    std::string path = m_dir.file("ab.bin");
    ASSERT_TRUE(download("/files/a%20b.bin", path));
    EXPECT_EQ(vexlan::testing::readFile(path), "blank\n");
}

TEST_F(DownloadManagerTest, AStatusOtherThan200FailsAndLeavesTheFile) {
    std::string path = m_dir.file("missing.bin");
    LogCapture log;
    EXPECT_FALSE(download(m_server.url("/files/missing.bin"), path));
    EXPECT_TRUE(log.contains("ERROR DownloadManager.downloadFileTo Error while downloding '" +
                             path + "' from '" + m_server.url("/files/missing.bin") + "'"));
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(DownloadManagerTest, ATransferErrorFails) {
    m_session.setVerify(true);  // the test server's certificate does not verify
    std::string path = m_dir.file("a.bin");
    LogCapture log;
    EXPECT_FALSE(download("/files/a.bin", path));
    EXPECT_TRUE(log.contains("ERROR DownloadManager.downloadFileTo Error while downloding '" +
                             path + "' from '" + m_server.url("/files/a.bin") + "'"));
}

TEST_F(DownloadManagerTest, AFileThatCannotBeOpenedFails) {
    std::filesystem::create_directories(m_dir.file("taken"));
    LogCapture log;
    EXPECT_FALSE(download(m_server.url("/files/a.bin"), m_dir.file("taken")));
    EXPECT_TRUE(log.contains("ERROR DownloadManager.downloadFileTo Cannot open file \"" +
                             m_dir.file("taken") + "\""));
    EXPECT_TRUE(m_server.requests().empty());
}

TEST_F(DownloadManagerTest, ABareFileNameLandsInTheCurrentFolder) {
    vexlan::testing::Sandbox sandbox;  // restores the current folder
    std::filesystem::current_path(m_dir.path());
    ASSERT_TRUE(download(m_server.url("/files/a.bin"), "bare.bin"));
    EXPECT_TRUE(std::filesystem::is_regular_file(m_dir.file("bare.bin")));
}

TEST_F(DownloadManagerTest, AddressesOfOtherSchemesAreRefusedBeforeAnythingIsWritten) {
    HttpsServer plain(false);
    plain.addFile("a.bin", "in clear\n");
    vexlan::testing::Listener service;
    const std::string local = "127.0.0.1:" + std::to_string(service.port());
    const struct {
        std::string url;
        const char* scheme;
    } cases[] = {
        {plain.url("/files/a.bin"), "http"},
        {"gopher://" + local + "/_SET%20x%201%0D%0A", "gopher"},
        {"dict://" + local + "/d:x", "dict"},
        {"file:///etc/passwd", "file"},
        {"file://localhost/etc/passwd", "file"},
        {"ftp://" + local + "/a.bin", "ftp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string path = m_dir.file("refused/a.bin");
        LogCapture log;
        EXPECT_FALSE(download(c.url, path));
        EXPECT_TRUE(log.contains("ERROR DownloadManager.downloadFileTo Refusing the scheme \"" +
                                 std::string(c.scheme) + "\" of '" + c.url + "' for '" + path +
                                 "': only https is allowed"));
        EXPECT_FALSE(std::filesystem::exists(m_dir.file("refused")));
    }
    EXPECT_TRUE(m_session.asked().empty());
    EXPECT_TRUE(plain.requests().empty());
    EXPECT_FALSE(service.connected());

    // https in any case, and an address without a scheme, are fetched with https.
    for (const std::string& url : {"HTTPS://" + m_server.authority() + "/files/a.bin",
                                   "//" + m_server.authority() + "/files/a.bin"}) {
        SCOPED_TRACE(url);
        std::string path = m_dir.file("accepted.bin");
        ASSERT_TRUE(download(url, path));
        EXPECT_EQ(vexlan::testing::readFile(path), m_content);
    }
}

TEST_F(DownloadManagerTest, ABodyPastTheCapFailsAndLeavesNoFile) {
    const uint64_t cap = 4096;
    m_session.setMaxDownload(cap);
    EXPECT_EQ(m_session.maxDownload(), cap);
    // Announced (Content-Length) and unannounced (ends with the connection) sizes.
    for (const char* extra : {"", "&unsized=1"}) {
        SCOPED_TRACE(extra);
        std::string exact = m_server.url("/large?size=4096" + std::string(extra));
        std::string path = m_dir.file("capped/a.bin");
        ASSERT_TRUE(download(exact, path));
        EXPECT_EQ(std::filesystem::file_size(path), cap);

        std::string over = m_server.url("/large?size=300000" + std::string(extra));
        LogCapture log;
        EXPECT_FALSE(download(over, path));
        EXPECT_TRUE(
            log.contains("ERROR CurlSession.requestToFile reply body larger than 4096 "
                         "bytes from " +
                         over));
        EXPECT_TRUE(log.contains("ERROR DownloadManager.downloadFileTo Error while downloding '" +
                                 path + "' from '" + over + "'"));
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(DownloadManagerTest, TheDefaultCapIs256MiB) {
    TestSession fresh;
    EXPECT_EQ(fresh.maxDownload(), 256u * 1024 * 1024);
    fresh.setMaxDownload(0);  // there is always a cap
    EXPECT_EQ(fresh.maxDownload(), 1u);
}

}  // namespace
