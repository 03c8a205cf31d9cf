#include "zlib/zip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "base/exception.h"
#include "sandbox.h"
#include "zlib/zipwriter.h"

namespace fs = std::filesystem;
using tessel::String;
using tessel::zlib::ZipWriter;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

String text(const std::string& s) {
    return String::copy(s);
}

#ifndef _WIN32
// The zip command line tool exists on Linux only.
void run(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}
#endif

// The form in which unzip logs a path: "/" between all parts, also on Windows.
std::string logged(std::string path) {
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

std::string patterned(size_t n, unsigned seed) {
    std::string s(n, '\0');
    unsigned v = seed;
    for (size_t i = 0; i < n; ++i) {
        v = v * 1103515245u + 12345u;
        s[i] = static_cast<char>(v >> 16);
    }
    return s;
}

// Every path below `root`, relative, folders ending in "/".
std::set<std::string> tree(const std::string& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).generic_string();
        out.insert(e.is_directory() && !e.is_symlink() ? rel + "/" : rel);
    }
    return out;
}

struct Entry {
    std::string name;
    std::string content;
};

// An archive with exactly these stored names, written by our own writer.
void makeArchive(const std::string& path, std::initializer_list<Entry> entries) {
    ZipWriter zip;
    ASSERT_TRUE(zip.open(text(path)));
    for (const Entry& e : entries) {
        ASSERT_TRUE(
            zip.add(text(e.name), e.content.data(), static_cast<uint32_t>(e.content.size())));
    }
    ASSERT_TRUE(zip.close());
}

// The archive lives in root, the destination is root/out: anything written beside "out"
// or above root escaped.
class UnzipTest : public ::testing::Test {
protected:
    std::string archive() const { return m_root.file("a.zip"); }
    std::string dest() const { return m_root.file("out"); }
    std::set<std::string> outside() const {
        std::set<std::string> all = tree(m_root.path());
        std::set<std::string> rest;
        for (const std::string& p : all) {
            if (p != "a.zip" && p != "out/" && p.rfind("out/", 0) != 0 && p.rfind("src", 0) != 0) {
                rest.insert(p);
            }
        }
        return rest;
    }
    TempDir m_root;
};

}  // namespace

TEST(SanitizeEntryNameTest, Rules) {
    struct Case {
        const char* stored;
        const char* safe;
        bool climbs;
    };
    const Case cases[] = {
        {"x/y.so", "x/y.so", false},
        {"C:\\x\\y.dll", "x\\y.dll", false},
        {"/y.dll", "y.dll", false},
        {"a\\..\\y.dll", "y.dll", false},
        {"a/../y.dll", "y.dll", false},
        {"a\\../y.dll", "y.dll", false},
        {"a/..\\y.dll", "y.dll", false},
        {"a/b/../c", "c", false},
        {"\\\\server\\share\\f", "server\\share\\f", false},
        {"C:/D:/x", "x", false},
        {"/../etc/passwd", "../etc/passwd", true},
        {"x/../../../y.dll", "y.dll", false},
        {"a/..//etc/passwd", "etc/passwd", false},
        {"..a/b..", "..a/b..", false},
        {"a\\..\\..\\y.dll", "..\\y.dll", true},
        {"a/../../y.dll", "../y.dll", true},
        {"C:..\\y", "..\\y", true},
        {"..", "..", true},
        {"../y", "../y", true},
        {"a/..", "a/..", true},
        {"", "", false},
    };
    for (const Case& c : cases) {
        String safe = tessel::zlib::sanitizeEntryName(c.stored);
        EXPECT_EQ(safe.toStd(), c.safe) << c.stored;
        EXPECT_EQ(tessel::zlib::climbsOut(safe), c.climbs) << c.stored;
    }
}

namespace {

// Whether a relative path, taken component by component as the file system does, climbs
// above its starting folder.
bool escapes(const std::string& relative) {
    int depth = 0;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        std::string part =
            relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") {
            if (--depth < 0)
                return true;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return false;
}

}  // namespace

TEST(SanitizeEntryNameTest, NoNameThatPassesTheCheckLeavesTheDestination) {
    // Every name of up to 7 characters over the characters that matter.
    const char alphabet[] = {'a', '.', '/', '\\', ':'};
    std::string name;
    size_t checked = 0;
    std::function<void()> walk = [&] {
        String safe = tessel::zlib::sanitizeEntryName(text(name));
        if (!tessel::zlib::climbsOut(safe)) {
            std::string path = safe.replace('\\', '/').toStd();
            ASSERT_FALSE(path.rfind("/", 0) == 0 || escapes(path)) << name << " -> " << path;
        }
        ++checked;
        if (name.size() == 7)
            return;
        for (char c : alphabet) {
            name.push_back(c);
            walk();
            name.pop_back();
        }
    };
    walk();
    EXPECT_EQ(checked, 97656u);  // 1 + 5 + ... + 5^7
}

#ifndef _WIN32
TEST_F(UnzipTest, ArchiveFromTheZipCommand) {
    std::string src = m_root.file("src");
    fs::create_directories(src + "/top/mid");
    fs::create_directories(src + "/sub");
    std::string big = patterned(100000, 1);  // several chunks, the last one partial
    writeFile(src + "/top/mid/deep.so", big);
    writeFile(src + "/top/readme.txt", "hello\n");
    writeFile(src + "/empty.txt", "");
    run("cd " + src + " && zip -qr " + archive() + " top sub empty.txt");

    LogCapture capture;
    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_EQ(tree(dest()), (std::set<std::string>{"top/", "top/mid/", "top/mid/deep.so",
                                                   "top/readme.txt", "sub/", "empty.txt"}));
    EXPECT_EQ(readFile(dest() + "/top/mid/deep.so"), big);
    EXPECT_EQ(readFile(dest() + "/top/readme.txt"), "hello\n");
    EXPECT_EQ(readFile(dest() + "/empty.txt"), "");
    EXPECT_TRUE(capture.entries().empty());
}

TEST_F(UnzipTest, StoredEntriesAndOverwrites) {
    std::string src = m_root.file("src");
    fs::create_directories(src);
    std::string big = patterned(16384 * 2, 2);  // an exact multiple of the chunk size
    writeFile(src + "/lib.so", big);
    run("cd " + src + " && zip -q0 " + archive() + " lib.so");
    fs::create_directories(dest());
    writeFile(dest() + "/lib.so", "an older, longer version of the library ......");

    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_EQ(readFile(dest() + "/lib.so"), big);
}
#endif  // _WIN32

// The same overwrite with an archive of our own writer, on every system.
TEST_F(UnzipTest, AnExistingFileIsOverwrittenByAStoredEntry) {
    std::string big = patterned(16384 * 2, 2);
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(text(archive())));
        ZipWriter::EntryOptions stored;
        stored.deflate = false;
        ASSERT_TRUE(zip.add("lib.so", big.data(), static_cast<uint32_t>(big.size()), stored));
        ASSERT_TRUE(zip.close());
    }
    fs::create_directories(dest());
    writeFile(dest() + "/lib.so", "an older, longer version of the library ......");

    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_EQ(readFile(dest() + "/lib.so"), big);
}

TEST_F(UnzipTest, NameFormsLandBelowTheDestination) {
    struct Case {
        const char* stored;
        const char* written;
    };
    const Case cases[] = {
        {"C:\\x\\y.dll", "x/y.dll"}, {"/y.dll", "y.dll"}, {"a\\..\\y.dll", "y.dll"},
        {"a/../y.dll", "y.dll"},     {"sub/", "sub/"},
    };
    for (const Case& c : cases) {
        fs::remove_all(dest());
        makeArchive(archive(), {{c.stored, c.stored[0] == 's' ? "" : "content"}});
        EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest()))) << c.stored;
        std::set<std::string> expected{c.written};
        if (std::string(c.written) == "x/y.dll")
            expected.insert("x/");
        EXPECT_EQ(tree(dest()), expected) << c.stored;
        EXPECT_TRUE(outside().empty()) << c.stored;
    }
}

TEST_F(UnzipTest, EntriesThatWouldClimbOutAreSkipped) {
    for (const char* stored :
         {"a\\..\\..\\y.dll", "a/../../y.dll", "..", "../y.dll", "C:..\\y.dll", "/../y.dll"}) {
        fs::remove_all(dest());
        makeArchive(archive(), {{stored, "evil"}, {"good.so", "fine"}});
        LogCapture capture;
        EXPECT_FALSE(tessel::zlib::unzip(text(archive()), text(dest()))) << stored;
        EXPECT_TRUE(
            capture.contains(std::string("ERROR Zip.unzip Unsafe entry name skipped: ") + stored))
            << stored;
        // The skipped entry does not stop the others.
        EXPECT_EQ(tree(dest()), (std::set<std::string>{"good.so"})) << stored;
        EXPECT_TRUE(outside().empty()) << stored;
    }
}

#ifndef _WIN32
// Symbolic links: Linux only.
TEST_F(UnzipTest, SymbolicLinksAreWrittenAsPlainFiles) {
    std::string src = m_root.file("src");
    fs::create_directories(src);
    fs::create_symlink("/etc/hostname", src + "/abs.so");
    fs::create_symlink("../outside.txt", src + "/rel.so");
    run("cd " + src + " && zip -qy " + archive() + " abs.so rel.so");
    // And one crafted with our writer, marked as a link in its attributes.
    std::string second = m_root.file("src/b.zip");
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(text(second)));
        ZipWriter::EntryOptions link;
        link.unixMode = 0120777;
        ASSERT_TRUE(zip.add("crafted.so", "../outside.txt", 14, link));
        ASSERT_TRUE(zip.close());
    }

    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_TRUE(tessel::zlib::unzip(text(second), text(dest())));
    for (const char* name : {"abs.so", "rel.so", "crafted.so"}) {
        fs::path p = fs::path(dest()) / name;
        EXPECT_FALSE(fs::is_symlink(p)) << name;
        EXPECT_TRUE(fs::is_regular_file(p)) << name;
    }
    EXPECT_EQ(readFile(dest() + "/abs.so"), "/etc/hostname");
    EXPECT_EQ(readFile(dest() + "/crafted.so"), "../outside.txt");
}

TEST_F(UnzipTest, ALinkAlreadyAtTheTargetIsReplacedNotFollowed) {
    writeFile(m_root.file("outside.txt"), "precious");
    fs::create_directories(dest());
    fs::create_symlink(m_root.file("outside.txt"), dest() + "/lib.so");
    fs::create_symlink(m_root.file("nowhere"), dest() + "/dangling.so");
    makeArchive(archive(), {{"lib.so", "new library"}, {"dangling.so", "x"}});

    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_EQ(readFile(m_root.file("outside.txt")), "precious");
    EXPECT_FALSE(fs::is_symlink(dest() + "/lib.so"));
    EXPECT_EQ(readFile(dest() + "/lib.so"), "new library");
    EXPECT_FALSE(fs::exists(m_root.file("nowhere")));
}
#endif  // _WIN32

TEST_F(UnzipTest, AnEntryThatCannotBeCreatedStopsTheExtraction) {
    // A folder (not empty) stands where the second file should go.
    fs::create_directories(dest() + "/lib.so/keep");
    makeArchive(archive(), {{"first.txt", "1"}, {"lib.so", "library"}, {"last.txt", "3"}});
    LogCapture capture;
    EXPECT_FALSE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_TRUE(
        capture.contains("TRACE Zip.unzip Cannot create file: " + logged(dest()) + "/lib.so"));
    EXPECT_TRUE(fs::exists(dest() + "/first.txt"));
    EXPECT_FALSE(fs::exists(dest() + "/last.txt"));
}

TEST_F(UnzipTest, MissingEmptyAndForeignArchives) {
    // No file: false, nothing logged, nothing raised.
    {
        LogCapture capture;
        EXPECT_FALSE(tessel::zlib::unzip(text(m_root.file("absent.zip")), text(dest())));
        EXPECT_TRUE(capture.entries().empty());
    }
    // An archive without entries.
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(text(archive())));
        ASSERT_TRUE(zip.close());
        LogCapture capture;
        EXPECT_FALSE(tessel::zlib::unzip(text(archive()), text(dest())));
        EXPECT_TRUE(fs::is_directory(dest()));  // the destination is made first
        EXPECT_TRUE(capture.entries().empty());
    }
    // Not a ZIP file.
    {
        writeFile(m_root.file("page.zip"), "<html>Not found</html>");
        LogCapture capture;
        EXPECT_THROW(tessel::zlib::unzip(text(m_root.file("page.zip")), text(dest())),
                     tessel::zlib::EZip);
        EXPECT_TRUE(
            capture.contains("ERROR Zip.unzip Cannot open zip file: " + m_root.file("page.zip")));
    }
}

TEST_F(UnzipTest, DestinationIsCreatedWithItsParents) {
    makeArchive(archive(), {{"lib.so", "x"}});
    std::string deep = dest() + "/1.2.3/x";
    EXPECT_TRUE(tessel::zlib::unzip(text(archive()), text(deep)));
    EXPECT_EQ(readFile(deep + "/lib.so"), "x");
}

namespace {

// Little-endian 32-bit field at `at`.
void put32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

TEST_F(UnzipTest, CorruptDataIsAFailure) {
    std::string payload = patterned(5000, 3);
    {
        ZipWriter zip;
        ASSERT_TRUE(zip.open(text(archive())));
        ZipWriter::EntryOptions stored;
        stored.deflate = false;
        ASSERT_TRUE(
            zip.add("lib.so", payload.data(), static_cast<uint32_t>(payload.size()), stored));
        ASSERT_TRUE(zip.close());
    }
    std::string bytes = readFile(archive());
    size_t at = bytes.find(payload.substr(0, 64));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 2500] ^= 0x01;
    writeFile(archive(), bytes);

    LogCapture capture;
    EXPECT_FALSE(tessel::zlib::unzip(text(archive()), text(dest())));
    EXPECT_TRUE(
        capture.contains("TRACE Zip.unzip Cannot read entry: " + logged(dest()) + "/lib.so"));
}

TEST_F(UnzipTest, DeclaredSizesDoNotDecideWhatIsWritten) {
    // A header that announces more bytes than the data holds: only the real bytes are written.
    std::string payload = patterned(40000, 4);
    makeArchive(archive(), {{"lib.so", payload}});
    std::string bytes = readFile(archive());
    size_t local = bytes.find(std::string("PK\x03\x04", 4));
    size_t central = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    put32(bytes, local + 22, 1000000);
    put32(bytes, central + 24, 1000000);
    writeFile(archive(), bytes);

    tessel::zlib::unzip(text(archive()), text(dest()));
    EXPECT_EQ(readFile(dest() + "/lib.so"), payload);
}

namespace {

// Every file below `root` with its size.
std::map<std::string, uintmax_t> fileSizes(const std::string& root) {
    std::map<std::string, uintmax_t> out;
    if (!fs::exists(root))
        return out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file())
            out[fs::relative(e.path(), root).generic_string()] = e.file_size();
    }
    return out;
}

tessel::zlib::UnpackLimits limits(uint64_t bytes, uint32_t entries) {
    tessel::zlib::UnpackLimits l;
    l.maxBytes = bytes;
    l.maxEntries = entries;
    return l;
}

}  // namespace

TEST(UnpackLimitsTest, DefaultsAreOneGibibyteAndTenThousandEntries) {
    tessel::zlib::UnpackLimits l;
    EXPECT_EQ(uint64_t(1) << 30, l.maxBytes);
    EXPECT_EQ(10000u, l.maxEntries);
}

TEST_F(UnzipTest, ExtractionStopsPastTheLimits) {
    const std::string a = patterned(3000, 5), b = patterned(3000, 6), c = patterned(1, 7);
    struct Case {
        uint64_t bytes;
        uint32_t entries;
        const char* refusal;  // the end of the ERROR line, or null when accepted
        std::map<std::string, uintmax_t> left;
    };
    const Case cases[] = {
        {6001, 3, nullptr, {{"a", 3000}, {"b", 3000}, {"c", 1}}},
        // Exactly at the limit after two entries: the one-byte third goes past it.
        {6000,
         3,
         " unpacks to more than 6000 bytes: extraction stopped",
         {{"a", 3000}, {"b", 3000}}},
        // The second entry would go past the bytes: it is removed, the first stays.
        {5999, 3, " unpacks to more than 5999 bytes: extraction stopped", {{"a", 3000}}},
        {2999, 3, " unpacks to more than 2999 bytes: extraction stopped", {}},
        {0, 3, " unpacks to more than 0 bytes: extraction stopped", {}},
        // The third entry is one too many, whatever it holds.
        {1u << 20, 2, " holds more than 2 entries: extraction stopped", {{"a", 3000}, {"b", 3000}}},
    };
    makeArchive(archive(), {{"a", a}, {"b", b}, {"c", c}});
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.bytes) + " bytes, " + std::to_string(k.entries) + " entries");
        fs::remove_all(dest());
        LogCapture capture;
        if (k.refusal) {
            EXPECT_THROW(
                tessel::zlib::unzip(text(archive()), text(dest()), limits(k.bytes, k.entries)),
                tessel::zlib::EZip);
            EXPECT_TRUE(capture.contains("ERROR Zip.unzip Archive " + archive() + k.refusal));
        } else {
            EXPECT_TRUE(
                tessel::zlib::unzip(text(archive()), text(dest()), limits(k.bytes, k.entries)));
        }
        EXPECT_EQ(k.left, fileSizes(dest()));
    }
}

TEST_F(UnzipTest, FoldersAndSkippedEntriesCountAsEntries) {
    makeArchive(archive(), {{"sub/", ""}, {"../evil", "x"}, {"lib.so", "library"}});
    EXPECT_THROW(tessel::zlib::unzip(text(archive()), text(dest()), limits(1u << 20, 2)),
                 tessel::zlib::EZip);
    EXPECT_FALSE(fs::exists(dest() + "/lib.so"));
    fs::remove_all(dest());
    EXPECT_FALSE(tessel::zlib::unzip(text(archive()), text(dest()), limits(1u << 20, 3)));
    EXPECT_EQ(readFile(dest() + "/lib.so"), "library");
}

// The sizes an entry declares, in its local header and the central directory, set to `size`
// (the archive holds one entry).
void declareSize(const std::string& path, uint32_t size) {
    std::string bytes = readFile(path);
    size_t local = bytes.find(std::string("PK\x03\x04", 4));
    size_t central = bytes.find(std::string("PK\x01\x02", 4));
    ASSERT_NE(local, std::string::npos);
    ASSERT_NE(central, std::string::npos);
    put32(bytes, local + 22, size);
    put32(bytes, central + 24, size);
    writeFile(path, bytes);
}

TEST_F(UnzipTest, LimitsCountWhatInflatesNotWhatHeadersDeclare) {
    constexpr uint64_t kLimit = 4096;
    // 64 KiB of zeros deflate to a few hundred bytes: a small bomb.
    const std::string bomb(65536, '\0');
    const std::string small = patterned(2000, 8);
    struct Case {
        const std::string* content;
        uint32_t declared;
        bool accepted;
    };
    const Case cases[] = {
        // The bomb, whatever size its headers give it, never puts more than the limit on disk.
        {&bomb, 65536, false},
        {&bomb, 100, false},
        {&bomb, 0, false},
        {&bomb, 0xfffffff0u, false},
        // A small entry that claims to be huge is judged by its real bytes.
        {&small, 0xfffffff0u, true},
        {&small, 1000000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.content->size()) + " bytes declared as " +
                     std::to_string(c.declared));
        fs::remove_all(dest());
        makeArchive(archive(), {{"lib.so", *c.content}});
        declareSize(archive(), c.declared);
        bool unpacked = false;
        try {
            unpacked = tessel::zlib::unzip(text(archive()), text(dest()), limits(kLimit, 10));
        } catch (const tessel::zlib::EZip&) {
        }
        EXPECT_EQ(c.accepted, unpacked);
        uintmax_t total = 0;
        for (const auto& entry : fileSizes(dest()))
            total += entry.second;
        EXPECT_LE(total, kLimit);
        if (c.accepted) {
            EXPECT_EQ(readFile(dest() + "/lib.so"), *c.content);
        }
    }
}
