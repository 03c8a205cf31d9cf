#include "vexlanclient/componentfetch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "sandbox.h"

using tessel::String;
using vexlan::testing::LogCapture;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

TEST(ComponentFetchTest, OnlyPlainFileNamesAreAccepted) {
    for (const char* good : {"hostchecker.zip", "vpn-2.4.1.zip", "a..b.zip", "x"}) {
        LogCapture capture;
        EXPECT_NO_THROW(checkDownloadFileName(good)) << good;
        EXPECT_TRUE(capture.entries().empty()) << good;
    }
    const std::string bad[] = {"",
                               ".",
                               "..",
                               ".hidden.zip",
                               "../x.zip",
                               "a/b.zip",
                               "/etc/cron.d/x",
                               "a\\..\\b.zip",
                               "..\\x.zip",
                               std::string("a\0/../x", 7)};
    for (const std::string& name : bad) {
        LogCapture capture;
        String text = String::copy(name);
        EXPECT_THROW(checkDownloadFileName(text), tessel::EClientConfiguration) << name;
        // (The log line ends at a zero byte.)
        std::string shown = name.substr(0, name.find('\0'));
        std::string expected =
            "ERROR DownloadManager.fetchFromConfig Refusing file name outside the component "
            "folder: \"" +
            shown;
        auto entries = capture.entries();
        ASSERT_EQ(entries.size(), 1u) << shown;
        EXPECT_EQ(entries[0].rfind(expected, 0), 0u) << entries[0];
    }
}

#ifndef _WIN32
// (The md5sum command is a Linux tool.)
TEST(ComponentFetchTest, Md5MatchesTheMd5sumCommand) {
    TempDir dir;
    std::string data(5000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 37 + (i >> 8));
    writeFile(dir.file("archive.zip"), data);
    std::string command = "md5sum " + dir.file("archive.zip") + " > " + dir.file("sum");
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::string expected = vexlan::testing::readFile(dir.file("sum")).substr(0, 32);

    EXPECT_EQ(fileMd5Hex(String::copy(dir.file("archive.zip"))).toStd(), expected);
    EXPECT_EQ(fileMd5Hex(String::copy(dir.file("absent.zip"))).toStd(),
              "d41d8cd98f00b204e9800998ecf8427e");
}
#endif

TEST(ComponentFetchTest, ReuseRule) {
    TempDir dir;
    writeFile(dir.file("a.zip"), "abc");
    const String path = String::copy(dir.file("a.zip"));
    struct Case {
        String path;
        const char* md5;
        bool reused;
    };
    const Case cases[] = {
        {path, "900150983cd24fb0d6963f7d28e17f72", true},
        {path, "", false},                                  // no expected digest: fetch again
        {path, "900150983CD24FB0D6963F7D28E17F72", false},  // compared byte for byte
        {path, "900150983cd24fb0d6963f7d28e17f7", false},
        {String::copy(dir.file("absent.zip")), "d41d8cd98f00b204e9800998ecf8427e", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isReusableDownload(c.path, c.md5), c.reused) << c.md5;
    }
}
