#include "vexlanclient/readahead.h"

#include <gtest/gtest.h>

#include <string>

#include "base/exception.h"
#include "sandbox.h"
#include "tls/evpdigest.h"

using tessel::String;
using vexlan::testing::TempDir;

namespace {

std::string patterned(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 2654435761u) >> 13);
    return s;
}

}  // namespace

TEST(ReadAheadReaderTest, HandsOutTheFileExactlyAcrossBlocks) {
    TempDir dir;
    const int block = ReadAheadReader::kBlock;
    for (int size : {0, 1, 1023, block - 1, block, block + 1, 3 * block + 517}) {
        std::string content = patterned(static_cast<size_t>(size));
        vexlan::testing::writeFile(dir.file("f"), content);
        tessel::File file;
        ASSERT_TRUE(file.open(String::copy(dir.file("f")), tessel::File::kRead));
        ReadAheadReader reader(file);
        EXPECT_EQ(reader.available(), size);

        // Pieces of odd sizes, as a digest or a parser would ask for them.
        std::string got;
        int piece = 1;
        while (reader.available() > 0) {
            int n = std::min(piece, reader.available());
            tessel::Buffer b;
            reader.read(b, n);
            got.append(reinterpret_cast<const char*>(b.data()), b.length());
            EXPECT_EQ(reader.position(), static_cast<int>(got.size()));
            piece = piece * 3 % 1500 + 1;
        }
        EXPECT_EQ(got, content) << size;
        char byte;
        EXPECT_THROW(reader.read(&byte, 1), tessel::EFile) << size;
    }
}

TEST(ReadAheadReaderTest, DigestsMatchReadingTheFileDirectly) {
    TempDir dir;
    vexlan::testing::writeFile(dir.file("lib.so"), patterned(300001));
    tessel::tls::EVPDigest sha("sha256");
    tessel::File direct;
    ASSERT_TRUE(direct.open(String::copy(dir.file("lib.so")), tessel::File::kRead));
    tessel::Buffer expected = sha.digestAll(direct);

    tessel::File file;
    ASSERT_TRUE(file.open(String::copy(dir.file("lib.so")), tessel::File::kRead));
    ReadAheadReader reader(file);
    EXPECT_EQ(sha.digestAll(reader), expected);

    // A file that is not open reads as empty.
    tessel::File closed;
    ReadAheadReader none(closed);
    EXPECT_EQ(none.available(), 0);
    String s;
    EXPECT_THROW(none.read(s), tessel::ENotImplemented);
}
