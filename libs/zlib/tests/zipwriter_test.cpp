#include "zlib/zipwriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "sandbox.h"
#include "zlib/zip.h"

using tessel::String;
using tessel::zlib::ZipWriter;
using vexlan::testing::readFile;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

TEST(ZipWriterTest, ArchivesReadByTheUnzipCommandAndByUnzip) {
    TempDir dir;
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 7919) >> 3);
    writeFile(dir.file("lib.so"), big);

    ZipWriter zip;
    ASSERT_TRUE(zip.open(String::copy(dir.file("a.zip"))));
    ASSERT_TRUE(zip.addFile("vpn", String::copy(dir.file("lib.so"))));
    ASSERT_TRUE(zip.add("vpn.sig", "<dll/>", 6));
    EXPECT_FALSE(zip.addFile("missing", String::copy(dir.file("absent"))));
    ASSERT_TRUE(zip.close());
    EXPECT_FALSE(zip.close());
    EXPECT_FALSE(zip.add("late", "x", 1));

#ifndef _WIN32
    // The standard tool (Linux only) tests every entry's checksum and lists exactly the two
    // names.
    ASSERT_EQ(std::system(("unzip -tqq " + dir.file("a.zip")).c_str()), 0);
    ASSERT_EQ(std::system(("unzip -Z1 " + dir.file("a.zip") + " > " + dir.file("list")).c_str()),
              0);
    EXPECT_EQ(readFile(dir.file("list")), "vpn\nvpn.sig\n");
#endif

    ASSERT_TRUE(
        tessel::zlib::unzip(String::copy(dir.file("a.zip")), String::copy(dir.file("out"))));
    EXPECT_EQ(readFile(dir.file("out/vpn")), big);
    EXPECT_EQ(readFile(dir.file("out/vpn.sig")), "<dll/>");
}

TEST(ZipWriterTest, CannotCreateTheArchive) {
    TempDir dir;
    ZipWriter zip;
    EXPECT_FALSE(zip.open(String::copy(dir.file("no/such/folder/a.zip"))));
    EXPECT_FALSE(zip.add("x", "x", 1));
}
