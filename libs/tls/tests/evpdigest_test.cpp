#include "tls/evpdigest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/file.h"
#include "sandbox.h"

using tessel::Buffer;
using tessel::String;
using tessel::tls::EVPDigest;

namespace {

struct Vector {
    const char* name;
    std::string input;
    const char* hex;
};

// Published test vectors of each algorithm.
const Vector kVectors[] = {
    {"sha256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"sha256", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"SHA256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"md5", "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"md5", "", "d41d8cd98f00b204e9800998ecf8427e"},
    {"sha1", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
};

// A sequential reader over a string that records the size of every read.
class RecordingReader : public tessel::IReader {
public:
    explicit RecordingReader(std::string data) : m_data(std::move(data)) {}
    using tessel::IReader::read;
    void read(void* data, int len) override {
        ASSERT_LE(static_cast<size_t>(len), m_data.size() - m_at);
        std::copy_n(m_data.data() + m_at, len, static_cast<char*>(data));
        m_at += static_cast<size_t>(len);
        sizes.push_back(len);
    }
    void read(Buffer& data, int len) override {
        Buffer fresh(static_cast<uint32_t>(len));
        read(fresh.mutableData(), len);
        data = fresh;
    }
    void read(tessel::ISerialize&) override { FAIL(); }
    void read(Buffer&) override { FAIL(); }
    void read(String&) override { FAIL(); }
    void read(char&) override { FAIL(); }
    void read(unsigned char&) override { FAIL(); }
    void read(bool&) override { FAIL(); }
    void read(int&) override { FAIL(); }
    void read(short&) override { FAIL(); }
    void read(unsigned int&) override { FAIL(); }
    void read(unsigned short&) override { FAIL(); }
    int available() override { return static_cast<int>(m_data.size() - m_at); }
    int position() override { return static_cast<int>(m_at); }
    void seek(int position) override { m_at = static_cast<size_t>(position); }

    std::vector<int> sizes;

private:
    std::string m_data;
    size_t m_at = 0;
};

std::string patterned(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + 7) & 0xff);
    return s;
}

}  // namespace

TEST(EVPDigestTest, KnownVectors) {
    for (const Vector& v : kVectors) {
        EVPDigest digest(v.name);
        digest.update(Buffer(v.input.data(), static_cast<uint32_t>(v.input.size())));
        EXPECT_EQ(digest.finish().hex().toStd(), v.hex) << v.name << " '" << v.input << "'";
    }
}

TEST(EVPDigestTest, FinishStartsANewInput) {
    EVPDigest digest("sha256");
    digest.update(Buffer("ab", 2));
    digest.update(Buffer("c", 1));
    Buffer first = digest.finish();
    digest.update(Buffer("abc", 3));
    EXPECT_EQ(digest.finish(), first);
    EXPECT_EQ(first.length(), 32u);
    EXPECT_EQ(digest.size(), 32);
}

TEST(EVPDigestTest, UnknownNameIsLoggedAndRaised) {
    for (const char* name : {"no-such-digest", ""}) {
        vexlan::testing::LogCapture capture;
        EXPECT_THROW(EVPDigest digest(name), tessel::tls::EEVPDigest);
        std::string expected =
            std::string("ERROR EVPDigest.initByName Cannot retrive digest \"") + name + "\".";
        EXPECT_TRUE(capture.contains(expected)) << expected;
    }
}

TEST(EVPDigestTest, DigestAllReadsChunksOfAtMost1024Bytes) {
    std::string data = patterned(3 * 1024 + 17);
    RecordingReader reader(data);
    EVPDigest all("sha256");
    Buffer viaReader = all.digestAll(reader);

    EVPDigest once("sha256");
    once.update(Buffer(data.data(), static_cast<uint32_t>(data.size())));
    EXPECT_EQ(viaReader, once.finish());
    EXPECT_EQ(reader.sizes, (std::vector<int>{1024, 1024, 1024, 17}));
}

TEST(EVPDigestTest, DigestAllOverFiles) {
    vexlan::testing::TempDir dir;
    std::string data = patterned(70000);
    vexlan::testing::writeFile(dir.file("lib.so"), data);

    tessel::File file;
    ASSERT_TRUE(file.open(String::copy(dir.file("lib.so")), tessel::File::kRead));
    EVPDigest md5("md5");
    EVPDigest once("md5");
    once.update(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(md5.digestAll(file), once.finish());

    // A file that could not be opened has nothing available: the digest of empty input.
    tessel::File missing;
    EXPECT_FALSE(missing.open(String::copy(dir.file("absent.so")), tessel::File::kRead));
    EXPECT_EQ(md5.digestAll(missing).hex().toStd(), "d41d8cd98f00b204e9800998ecf8427e");
}
