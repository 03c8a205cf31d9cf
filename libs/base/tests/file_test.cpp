#include "base/file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/file_platform.h"
#include "base/serializers.h"
#include "sandbox.h"

using tessel::Buffer;
using tessel::EFile;
using tessel::File;
using tessel::String;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::Sandbox;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

String str(const std::string& s) {
    return String::copy(s);
}

// Runs `action` and returns the EFile it raised (failing the test when it raised none).
template <class Action>
EFile expectEFile(Action action) {
    try {
        action();
    } catch (const EFile& e) {
        return e;
    }
    ADD_FAILURE() << "no EFile raised";
    return EFile("none", "none", 0);
}

#ifndef _WIN32
// Modes and umask: what Linux narrows; Windows files take the profile's access rights.
// Sets the process's umask for the lifetime of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_old(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_old); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_old;
};

unsigned modeOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return 0xFFFF;
    return st.st_mode & 07777;
}

void writeWithMode(const std::string& path, mode_t mode) {
    writeFile(path, "old");
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

#endif  // _WIN32

}  // namespace

TEST(File, RoundTripsEveryTypeWithTheBinaryLayout) {
    TempDir dir;
    String path = str(dir.file("all.bin"));
    const unsigned char raw[3] = {9, 8, 7};
    {
        File file;
        ASSERT_TRUE(file.open(path, File::kWrite));
        file.write('c');
        file.write(static_cast<unsigned char>(0xFE));
        file.write(static_cast<short>(-2));
        file.write(static_cast<unsigned short>(0xBEEF));
        file.write(-5);
        file.write(0xDEADBEEFu);
        file.write(true);
        file.write(false);
        file.write(String("abc"));
        file.write(Buffer("\0x", 2));
        file.write(raw, 3);
        file.reserve(1000);  // writes nothing
    }
    std::string expected(
        "c\xFE\xFE\xFF\xEF\xBE\xFB\xFF\xFF\xFF\xEF\xBE\xAD\xDE"
        "\x01\x00\x00\x00"
        "\x03\x00\x00\x00"
        "abc"
        "\x02\x00\x00\x00"
        "\0x"
        "\x09\x08\x07",
        14 + 4 + 7 + 6 + 3);
    EXPECT_EQ(readFile(dir.file("all.bin")), expected);

    File file;
    ASSERT_TRUE(file.open(path, File::kRead));
    EXPECT_EQ(file.available(), static_cast<int>(expected.size()));
    char c = 0;
    unsigned char uc = 0;
    short s = 0;
    unsigned short us = 0;
    int i = 0;
    unsigned int u = 0;
    bool t = false, f = true;
    String text;
    Buffer buffer;
    unsigned char back[3] = {};
    file.read(c);
    file.read(uc);
    file.read(s);
    file.read(us);
    file.read(i);
    file.read(u);
    file.read(t);
    file.read(f);
    file.read(text);
    file.read(buffer);
    file.read(back, 3);
    EXPECT_EQ(c, 'c');
    EXPECT_EQ(uc, 0xFE);
    EXPECT_EQ(s, -2);
    EXPECT_EQ(us, 0xBEEF);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(u, 0xDEADBEEFu);
    EXPECT_TRUE(t);
    EXPECT_FALSE(f);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(buffer, Buffer("\0x", 2));
    EXPECT_EQ(back[0], 9);
    EXPECT_EQ(back[2], 7);
    EXPECT_EQ(file.available(), 0);
    EXPECT_EQ(file.position(), static_cast<int>(expected.size()));
}

TEST(File, AnyNonZeroStoredBoolReadsAsTrue) {
    TempDir dir;
    writeFile(dir.file("b.bin"), std::string("\x00\x01\x00\x00", 4));
    File file;
    ASSERT_TRUE(file.open(str(dir.file("b.bin")), File::kRead));
    bool a = false, b = true;
    file.read(a);
    file.read(b);
    EXPECT_TRUE(a);  // 0x0100
    EXPECT_FALSE(b);
}

TEST(File, SerialisableObjectsAndListsRoundTrip) {
    TempDir dir;
    String path = str(dir.file("list.bin"));
    tessel::Vector<String> out;
    out.push_back("first");
    out.push_back(String());
    out.push_back("third");
    {
        File file;
        ASSERT_TRUE(file.open(path, File::kWrite));
        file.write(out);
    }
    tessel::Vector<String> in;
    in.push_back("stale");
    File file;
    ASSERT_TRUE(file.open(path, File::kRead));
    file.read(in);
    ASSERT_EQ(in.size(), 3u);
    EXPECT_EQ(in[0], "first");
    EXPECT_TRUE(in[1].isEmpty());
    EXPECT_EQ(in[2], "third");
}

TEST(File, StoredLengthAboveOneMebibyteIsRefused) {
    TempDir dir;
    String path = str(dir.file("big.bin"));
    String big;
    big.appendRepeat('x', 2 * 1024 * 1024);
    {
        File file;
        ASSERT_TRUE(file.open(path, File::kWrite));
        file.write(big);
        file.write(Buffer::fromString(big));
    }
    File file;
    ASSERT_TRUE(file.open(path, File::kRead));
    String text("untouched");
    EFile e = expectEFile([&] { file.read(text); });
    EXPECT_EQ(e.file(), "file");
    EXPECT_EQ(e.line(), 326u);
    EXPECT_EQ(text, "untouched");

    file.seek(4 + 2 * 1024 * 1024);
    Buffer buffer;
    e = expectEFile([&] { file.read(buffer); });
    EXPECT_EQ(e.file(), "file");
    EXPECT_EQ(e.line(), 339u);
}

TEST(File, ImpossibleLengthIsRefusedBeforeAllocating) {
    // A 4 GiB length in a 6-byte file: refused by the check, not by the allocator.
    TempDir dir;
    writeFile(dir.file("bad.bin"), std::string("\xFF\xFF\xFF\xFF"
                                               "ab",
                                               6));
    File file;
    ASSERT_TRUE(file.open(str(dir.file("bad.bin")), File::kRead));
    String text;
    EXPECT_EQ(expectEFile([&] { file.read(text); }).line(), 326u);
}

TEST(File, LengthOfExactlyOneMebibyteIsAccepted) {
    TempDir dir;
    String path = str(dir.file("limit.bin"));
    String limit;
    limit.appendRepeat('y', File::kMaxStoredLength);
    {
        File file;
        ASSERT_TRUE(file.open(path, File::kWrite));
        file.write(limit);
    }
    File file;
    ASSERT_TRUE(file.open(path, File::kRead));
    String back;
    file.read(back);
    EXPECT_EQ(back.length(), File::kMaxStoredLength);
}

TEST(File, ShortReadRaises) {
    TempDir dir;
    writeFile(dir.file("short.bin"), std::string("\x05\x00\x00\x00"
                                                 "ab",
                                                 6));
    File file;
    ASSERT_TRUE(file.open(str(dir.file("short.bin")), File::kRead));
    String text;
    EXPECT_EQ(expectEFile([&] { file.read(text); }).line(), 375u);
    File empty;
    writeFile(dir.file("empty.bin"), "");
    ASSERT_TRUE(empty.open(str(dir.file("empty.bin")), File::kRead));
    int value = 0;
    EXPECT_EQ(expectEFile([&] { empty.read(value); }).line(), 375u);
}

TEST(File, RawBufferReadKeepsAZeroByteAfterTheData) {
    TempDir dir;
    writeFile(dir.file("raw.bin"), "abcdef");
    File file;
    ASSERT_TRUE(file.open(str(dir.file("raw.bin")), File::kRead));
    Buffer buffer("old", 3);
    file.read(buffer, 4);
    ASSERT_EQ(buffer.length(), 4u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 4), "abcd");
    EXPECT_EQ(buffer.data()[4], 0);
}

TEST(File, OperationsOfTheOtherModeDoNothing) {
    TempDir dir;
    writeFile(dir.file("data.bin"), std::string("\x01\x00\x00\x00", 4));
    File reading;
    ASSERT_TRUE(reading.open(str(dir.file("data.bin")), File::kRead));
    reading.write(String("more"));
    reading.write(7);
    EXPECT_EQ(readFile(dir.file("data.bin")), std::string("\x01\x00\x00\x00", 4));

    File writing;
    ASSERT_TRUE(writing.open(str(dir.file("out.bin")), File::kWrite));
    writing.write(1);
    bool flag = true;
    int number = 42;
    String text("kept");
    writing.read(flag);
    writing.read(number);
    writing.read(text);
    EXPECT_TRUE(flag);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(text, "kept");

    File closed;
    closed.write(1);
    closed.read(number);
    EXPECT_EQ(number, 42);
    EXPECT_FALSE(closed.isOpen());
    EXPECT_TRUE(closed.path().isEmpty());
}

TEST(File, OpenModes) {
    TempDir dir;
    String path = str(dir.file("modes.bin"));
    File file;
    EXPECT_FALSE(file.open(path, File::kRead));  // reading needs an existing file
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.open(path, 0));

    writeFile(dir.file("modes.bin"), "content");
    ASSERT_TRUE(file.open(path, File::kRead | File::kWrite));  // opens without truncating
    file.close();
    EXPECT_EQ(readFile(dir.file("modes.bin")), "content");
    ASSERT_TRUE(file.open(path, File::kWrite));  // truncates
    EXPECT_EQ(file.path(), path);
    file.close();
    EXPECT_EQ(readFile(dir.file("modes.bin")), "");

    String created = str(dir.file("created.bin"));
    ASSERT_TRUE(file.open(created, File::kRead | File::kWrite));  // creates
    file.close();
    EXPECT_TRUE(tessel::isFile(created));

    EXPECT_FALSE(file.open(str(dir.path()), File::kRead));  // a folder is not a file
    EXPECT_FALSE(file.open(str(dir.path()), File::kWrite));
    EXPECT_FALSE(file.open(str(dir.file("missing/x.bin")), File::kWrite));
}

TEST(File, BackslashesAndSlashesNameTheSameFile) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub/deeper"));
    String backslashed = str(dir.path() + "\\sub\\deeper\\f.bin");
    {
        File file;
        ASSERT_TRUE(file.open(backslashed, File::kWrite));
        file.write(String("via backslashes"));
        EXPECT_EQ(file.path(), backslashed);  // kept as given
    }
    File file;
    ASSERT_TRUE(file.open(str(dir.file("sub/deeper/f.bin")), File::kRead));
    String back;
    file.read(back);
    EXPECT_EQ(back, "via backslashes");
    EXPECT_TRUE(tessel::isFile(backslashed));
    EXPECT_TRUE(tessel::isDirectory(str(dir.path() + "\\sub\\deeper")));
    EXPECT_EQ(tessel::readAllFile(backslashed).length(), 4u + 15u);
}

TEST(ReadAllFile, ReturnsTheWholeContent) {
    TempDir dir;
    std::string content("line one\r\nline\0two\n", 19);
    writeFile(dir.file("text.txt"), content);
    EXPECT_EQ(tessel::readAllFile(str(dir.file("text.txt"))).toStd(), content);
    writeFile(dir.file("empty.txt"), "");
    String empty = tessel::readAllFile(str(dir.file("empty.txt")));
    EXPECT_TRUE(empty.isEmpty());
}

TEST(ReadAllFile, MissingFileOrFolderRaisesAfterTheLogLine) {
    TempDir dir;
    for (const std::string& path : {dir.file("missing.txt"), dir.path()}) {
        SCOPED_TRACE(path);
        LogCapture log;
        EFile e = expectEFile([&] { tessel::readAllFile(str(path)); });
        EXPECT_EQ(e.file(), "file");
        EXPECT_EQ(e.line(), 388u);
        std::vector<std::string> expected{"TRACE File.readAllFile cannot open " + path};
        EXPECT_EQ(log.entries(), expected);
    }
}

#ifndef _WIN32
// A FIFO in the file system is Linux's.
TEST(ReadAllFile, PipeWithoutWriterDoesNotHang) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    EXPECT_TRUE(tessel::readAllFile(str(dir.file("pipe"))).isEmpty());
}

#endif  // _WIN32

TEST(Paths, MoveAndDelete) {
    TempDir dir;
    writeFile(dir.file("a.txt"), "A");
    tessel::moveFile(str(dir.file("a.txt")), str(dir.path() + "\\b.txt"));
    EXPECT_FALSE(tessel::isFile(str(dir.file("a.txt"))));
    EXPECT_EQ(readFile(dir.file("b.txt")), "A");
    EXPECT_EQ(
        expectEFile([&] { tessel::moveFile(str(dir.file("a.txt")), str(dir.file("c"))); }).line(),
        679u);

    tessel::deleteFile(str(dir.file("b.txt")));
    EXPECT_FALSE(tessel::isFile(str(dir.file("b.txt"))));
    EXPECT_EQ(expectEFile([&] { tessel::deleteFile(str(dir.file("b.txt"))); }).line(), 915u);
    EXPECT_EQ(expectEFile([&] { tessel::deleteFile(str(dir.path())); }).line(), 915u);
}

TEST(Paths, FileAndFolderTests) {
    TempDir dir;
    writeFile(dir.file("f"), "");
    std::filesystem::create_directories(dir.file("d"));
    struct Case {
        std::string path;
        bool file;
        bool folder;
    } cases[] = {
        {dir.file("f"), true, false},
        {dir.file("d"), false, true},
        {dir.file("d/"), false, true},
        {dir.file("missing"), false, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(tessel::isFile(str(c.path)), c.file);
        EXPECT_EQ(tessel::isDirectory(str(c.path)), c.folder);
    }
}

TEST(CreateDirectories, CreatesTheMissingFoldersInsideExistingOnes) {
    TempDir dir;
    // Every leading part exists already (and fails to be created): only the last counts.
    String path = str(dir.path() + "/one\\two/three/");
    tessel::createDirectories(path);
    EXPECT_TRUE(tessel::isDirectory(str(dir.file("one/two/three"))));

    String inside = str(dir.file("one/two/three/four"));
    tessel::createDirectories(inside);
    EXPECT_TRUE(tessel::isDirectory(inside));
}

TEST(CreateDirectories, ExistingFolderOrEmptyPathRaises) {
    TempDir dir;
    EFile e = expectEFile([&] { tessel::createDirectories(str(dir.path())); });
    EXPECT_EQ(e.file(), "file");
    EXPECT_EQ(e.line(), 624u);
    EXPECT_EQ(expectEFile([&] { tessel::createDirectories(String()); }).line(), 624u);
    writeFile(dir.file("plain"), "");
    EXPECT_EQ(expectEFile([&] { tessel::createDirectories(str(dir.file("plain/sub"))); }).line(),
              624u);
}

TEST(CreateDirectories, EnsureDirectoryCreatesOnlyWhenMissing) {
    TempDir dir;
    String path = str(dir.file("a/b"));
    EXPECT_TRUE(tessel::ensureDirectory(path));
    EXPECT_TRUE(tessel::isDirectory(path));
    EXPECT_TRUE(tessel::ensureDirectory(path));  // exists: no EFile
}

// A wide umask must not open what the client writes to others, and a narrow one must not
// take the owner's own rights: files are 0600 and folders 0700 exactly.
#ifndef _WIN32
// Modes and umask are Linux's.
TEST(PrivateModes, FilesAndFoldersAreTheUsersAloneWhateverTheUmask) {
    for (mode_t mask : {0000, 0022, 0077, 0277}) {
        SCOPED_TRACE(mask);
        TempDir dir;
        std::vector<std::string> files = {dir.file("written"), dir.file("both")};
        {
            ScopedUmask umask(mask);
            File written;
            ASSERT_TRUE(written.open(str(files[0]), File::kWrite));
            written.write(str("data"));
            File both;
            ASSERT_TRUE(both.open(str(files[1]), File::kRead | File::kWrite));
            tessel::createDirectories(str(dir.file("a/b/c")));
            tessel::ensureDirectory(str(dir.file("a/d")));
        }
        for (const std::string& file : files)
            EXPECT_EQ(modeOf(file), 0600u) << file;
        for (const char* folder : {"a", "a/b", "a/b/c", "a/d"})
            EXPECT_EQ(modeOf(dir.file(folder)), 0700u) << folder;
    }
}

TEST(PrivateModes, WritingAnOlderWiderFileNarrowsItReadingDoesNot) {
    TempDir dir;
    ScopedUmask umask(0);
    struct Case {
        int flags;
        mode_t before;
        unsigned after;
    };
    const Case cases[] = {
        {File::kWrite, 0644, 0600},
        {File::kRead | File::kWrite, 0666, 0600},
        {File::kWrite, 0700, 0600},
        {File::kRead, 0644, 0644},
        {File::kWrite | File::kShared, 0640, 0640},
    };
    int n = 0;
    for (const Case& c : cases) {
        std::string path = dir.file("f" + std::to_string(n++));
        SCOPED_TRACE(path);
        writeWithMode(path, c.before);
        File file;
        ASSERT_TRUE(file.open(str(path), c.flags));
        EXPECT_EQ(modeOf(path), c.after);
    }
}

TEST(PrivateModes, SharedFilesAreCreatedReadableByOthers) {
    TempDir dir;
    ScopedUmask umask(0022);
    File file;
    ASSERT_TRUE(file.open(str(dir.file("published.zip")), File::kWrite | File::kShared));
    EXPECT_EQ(modeOf(dir.file("published.zip")), 0644u);
}

TEST(PrivateModes, NarrowFolderToOwner) {
    TempDir dir;
    ScopedUmask umask(0);
    struct Case {
        const char* name;
        mode_t before;  // 0: no such folder
        int returned;
        unsigned after;
    };
    const Case cases[] = {
        {"wide", 0755, 0755, 0700},           {"group", 0750, 0750, 0700},
        {"world-writable", 0777, 0777, 0700}, {"private", 0700, -1, 0700},
        {"missing", 0, -1, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.name);
        if (c.before) {
            ASSERT_EQ(::mkdir(path.c_str(), c.before), 0);
        }
        EXPECT_EQ(tessel::narrowFolderToOwner(str(path)), c.returned);
        EXPECT_EQ(modeOf(path), c.after);
    }
    // A plain file is no folder: left alone.
    writeWithMode(dir.file("plain"), 0644);
    EXPECT_EQ(tessel::narrowFolderToOwner(str(dir.file("plain"))), -1);
    EXPECT_EQ(modeOf(dir.file("plain")), 0644u);
}

#endif  // _WIN32

TEST(Paths, ParentFolder) {
    struct Case {
        const char* path;
        const char* parent;
        const char* parentOfFolder;
    } cases[] = {
        {"C:\\Program Files\\Vexlan\\vexlanclient.exe", "C:/Program Files/Vexlan/",
         "C:/Program Files/Vexlan/"},
        {"\"/opt/vexlan/bin/vexlanclient\"", "/opt/vexlan/bin/", "/opt/vexlan/bin/"},
        {"/home/user/Vexlan/", "/home/user/Vexlan/", "/home/user/"},
        {"Vexlan\\Plugin\\", "Vexlan/Plugin/", "Vexlan/"},
        {"vexlanclient", "vexlanclient", "vexlanclient"},
        {"/", "/", "/"},
        {"a/", "a/", "a/"},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(tessel::getParentFolder(c.path), c.parent);
        EXPECT_EQ(tessel::getParentFolderOfFolder(c.path), c.parentOfFolder);
    }
}

TEST(Paths, ExecutablePathFromCommandLine) {
    struct Case {
        const char* line;
        const char* path;
    } cases[] = {
        {"\"/opt/Vexlan Client/vexlanclient\" vexlan://id@gw/", "/opt/Vexlan Client/vexlanclient"},
        {"\"/opt/vexlan/vexlanclient", "/opt/vexlan/vexlanclient"},
        {"  \"/opt/x\" arg", ""},  // no leading quote: cut at the first blank
        {"/usr/bin/vexlanclient vexlan://id@gw/ --flag", "/usr/bin/vexlanclient"},
        {"/usr/bin/vexlanclient\targ", "/usr/bin/vexlanclient"},
        {"/usr/bin/vexlanclient", "/usr/bin/vexlanclient"},
        {"\"\" arg", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(tessel::executablePathFromCommandLine(c.line), c.path);
    }
}

#ifndef _WIN32
// /proc/self/exe names the program on Linux.
TEST(Paths, ExecutablePathOfThisProcessNamesThisProgram) {
    String path = tessel::getExecutablePath();
    EXPECT_TRUE(tessel::isFile(path)) << path.toStd();
    EXPECT_EQ(std::filesystem::weakly_canonical(path.toStd()),
              std::filesystem::canonical("/proc/self/exe"));
    EXPECT_TRUE(tessel::getCommandLine().startsWith(path));
}

#endif  // _WIN32

TEST(Paths, CurrentDirectoryIsACopy) {
    Sandbox sandbox;  // restores the current folder
    TempDir a, b;
    ASSERT_TRUE(tessel::setCurrentDirectory(str(a.path())));
    String first = tessel::getCurrentDirectory();
    ASSERT_TRUE(tessel::setCurrentDirectory(str(b.path())));
    String second = tessel::getCurrentDirectory();
    EXPECT_EQ(std::filesystem::path(first.toStd()), std::filesystem::canonical(a.path()));
    EXPECT_EQ(std::filesystem::path(second.toStd()), std::filesystem::canonical(b.path()));
    EXPECT_FALSE(tessel::setCurrentDirectory(str(a.file("missing"))));
}

TEST(Locations, ProgramFolderAndSettingsFileFollowTheProfile) {
    Sandbox sandbox;
    EXPECT_EQ(tessel::getUserProfileDirectory(), sandbox.home().c_str());
    EXPECT_EQ(tessel::getUserApplicationDataDirectory(), sandbox.configHome().c_str());
    EXPECT_EQ(tessel::getProgramDirectory(), (sandbox.home() + "/Vexlan").c_str());
    EXPECT_EQ(tessel::getSettingsFilePath(), (sandbox.home() + "/Vexlan/vexlanclient.xml").c_str());
}

// The log's fallback folder: the local application data folder on Windows, the program
// folder where the system has no such folder (Linux).
TEST(Locations, LogFallbackFolderFollowsTheLocalApplicationData) {
    Sandbox sandbox;
#ifdef _WIN32
    std::string local = sandbox.path("AppData/Local");
    std::filesystem::create_directories(local);
    EXPECT_EQ(std::filesystem::path(tessel::getLogFallbackDirectory().toStd()),
              std::filesystem::path(local + "/Vexlan"));
    EXPECT_NE(tessel::getLogFallbackDirectory(), tessel::getProgramDirectory());
#else
    EXPECT_EQ(tessel::getLogFallbackDirectory(), tessel::getProgramDirectory());
#endif
}

#ifndef _WIN32
// HOME, XDG_CONFIG_HOME and the password database are Linux's.
TEST(Locations, FallbacksWithoutEnvironment) {
    Sandbox sandbox;  // restores both variables
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(tessel::getUserApplicationDataDirectory(), (sandbox.home() + "/.config").c_str());
    setenv("XDG_CONFIG_HOME", "relative/path", 1);  // not absolute: ignored
    EXPECT_EQ(tessel::getUserApplicationDataDirectory(), (sandbox.home() + "/.config").c_str());
    unsetenv("HOME");
    // The password database still knows a home folder.
    String profile = tessel::getUserProfileDirectory();
    EXPECT_FALSE(profile.isEmpty());
    EXPECT_TRUE(tessel::getProgramDirectory().endsWith("/Vexlan"));
}

#endif  // _WIN32

#ifndef _WIN32
// os-release and the kernel's name are Linux's.
TEST(SystemSurvey, OsNameComesFromOsRelease) {
    TempDir dir;
    struct Case {
        std::string content;
        std::string name;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"PRETTY_NAME='Single quoted'\n", "Single quoted"},
        {"PRETTY_NAME=Bare\n", "Bare"},
        {"PRETTY_NAME=\"Say \\\"hi\\\" \\\\ \\$HOME\"\n", "Say \"hi\" \\ $HOME"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        writeFile(dir.file("os-release"), c.content);
        EXPECT_EQ(tessel::detail::osSurvey(dir.file("os-release").c_str()).name, c.name);
    }
}

TEST(SystemSurvey, WithoutOsReleaseTheKernelNamesTheSystem) {
    TempDir dir;
    tessel::detail::OsInfo info = tessel::detail::osSurvey(dir.file("missing").c_str());
    EXPECT_EQ(info.name.rfind("Linux ", 0), 0u) << info.name;
    EXPECT_GT(info.major, 0);
}

#endif  // _WIN32

TEST(SystemSurvey, OsNameIsStoredOnTheConsole) {
    String name = tessel::osName();
    EXPECT_FALSE(name.isEmpty());
    EXPECT_EQ(tessel::osName(), name);
    EXPECT_EQ(tessel::console()->m_osName, name);
    EXPECT_FALSE(tessel::console()->m_osVersion.isEmpty());
#ifdef _WIN32
    EXPECT_TRUE(tessel::console()->m_servicePack.startsWith("Service Pack "));
#else
    EXPECT_TRUE(tessel::console()->m_servicePack.isEmpty());
#endif
}

TEST(SystemSurvey, WindowsReleaseNames) {
    struct Case {
        int platform, major, minor;
        const char* name;
    } cases[] = {
        {0, 3, 1, "Microsoft Win32"},
        {1, 4, 0, "Microsoft Windows 95"},
        {1, 4, 10, "Microsoft Windows 98"},
        {1, 5, 1, "Microsoft Windows 95"},
        {2, 5, 0, "Microsoft Windows 2000"},
        {2, 5, 1, "Microsoft Windows XP"},
        {2, 5, 2, "Microsoft Windows XP x64"},
        {2, 6, 0, "Microsoft Windows Vista"},
        {2, 6, 1, "Microsoft Windows 7"},
        {2, 6, 2, "Microsoft Windows 8"},
        {2, 6, 3, "Microsoft Windows NT family"},
        {2, 10, 0, "Microsoft Windows NT family"},
        {2, 4, 0, "Microsoft Windows NT family"},
        {3, 10, 0, "UNKNOWN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.platform) + " " + std::to_string(c.major) + "." +
                     std::to_string(c.minor));
        EXPECT_EQ(tessel::detail::osNameOf(c.platform, c.major, c.minor), c.name);
    }
}

#ifdef _WIN32
TEST(SystemSurvey, WindowsNameAndVersionComeFromTheSystem) {
    tessel::detail::OsInfo info = tessel::detail::osSurvey();
    EXPECT_EQ(info.name.rfind("Microsoft Win", 0), 0u) << info.name;
    EXPECT_GE(info.major, 5);
}
#endif
