#include "base/console.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "base/thread.h"
#include "sandbox.h"

using tessel::Console;
using tessel::String;
using vexlan::testing::LogCapture;
using vexlan::testing::readFile;
using vexlan::testing::TempDir;
using vexlan::testing::writeFile;

namespace {

std::string threadId() {
    return std::to_string(tessel::currentThreadId());
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string all = readFile(path);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos)
            end = all.size();
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

TEST(Console, LineTextForEveryLevelWithAndWithoutMethod) {
    LogCapture capture;
    const std::string prefix = "[" + threadId() + "] ";
    tessel::log(0, "Cls", "method", "zero");
    tessel::log(1, "Cls", "method", String("one"));
    tessel::log(2, "Cls", "", "two");
    tessel::log(3, "Cls", String("\0x", 2), "three");  // a method whose first byte is 0
    tessel::log(2, "Cls", "m", "");
    tessel::log(4, "Cls", "m", "ignored");
    tessel::log(-1, "Cls", "m", "ignored");
    std::vector<std::string> expected = {
        prefix + "TRACE Cls.method zero", prefix + "DEBUG Cls.method one",
        prefix + "ERROR Cls: two",        prefix + "ASSERT Cls: three",
        prefix + "ERROR Cls.m ",
    };
    EXPECT_EQ(capture.lines(), expected);
}

TEST(Console, FileLineHasLocalTimeAndMilliseconds) {
    TempDir dir;
    Console console;
    ASSERT_TRUE(console.setOutput(1, dir.file("log").c_str()));
    console.log(1, "A", "b", "c d");
    std::vector<std::string> lines = fileLines(dir.file("log"));
    ASSERT_EQ(lines.size(), 1u);
    std::regex format("\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3} \\[" + threadId() +
                      "\\] DEBUG A\\.b c d");
    EXPECT_TRUE(std::regex_match(lines[0], format)) << lines[0];
}

TEST(Console, StandardOutputGetsEveryLineWithMilliseconds) {
    Console console;
    console.setOutput(0, "null");
    testing::internal::CaptureStdout();
    console.log(0, "X", "", "y");
    std::string out = testing::internal::GetCapturedStdout();
    std::regex format("\\d{1,3} \\[" + threadId() + "\\] TRACE X: y\n");
    EXPECT_TRUE(std::regex_match(out, format)) << out;
}

TEST(Console, DefaultsAndNullOutput) {
    TempDir dir;
    Console console;
    for (int level = 0; level < Console::kLevels; ++level) {
        EXPECT_EQ(console.outputName(level), "stdout");
    }
    ASSERT_TRUE(console.setOutput(0, dir.file("log").c_str()));
    ASSERT_TRUE(console.setOutput(1, dir.file("log").c_str()));
    console.log(0, "A", "", "first");
    EXPECT_TRUE(console.setOutput(0, "null"));
    EXPECT_EQ(console.outputName(0), "null");
    testing::internal::CaptureStdout();
    console.log(0, "A", "", "gone from the file");
    console.log(1, "A", "", "second");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("TRACE A: gone from the file"), std::string::npos);  // still on stdout
    std::vector<std::string> lines = fileLines(dir.file("log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("TRACE A: first"), std::string::npos);
    EXPECT_NE(lines[1].find("DEBUG A: second"), std::string::npos);
}

TEST(Console, LevelsOpeningTheSameFileAppendInOrder) {
    TempDir dir;
    Console console;
    for (int level = 0; level < Console::kLevels; ++level) {
        ASSERT_TRUE(console.setOutput(level, dir.file("all.log").c_str()));
    }
    const int order[] = {3, 0, 2, 1, 0, 3};
    for (int i = 0; i < 6; ++i)
        console.log(order[i], "C", "m", String(static_cast<int32_t>(i)));
    std::vector<std::string> lines = fileLines(dir.file("all.log"));
    const char* labels[] = {"TRACE", "DEBUG", "ERROR", "ASSERT"};
    ASSERT_EQ(lines.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        std::string tail = std::string(labels[order[i]]) + " C.m " + std::to_string(i);
        EXPECT_EQ(lines[i].substr(lines[i].size() - tail.size()), tail) << lines[i];
    }
}

#ifndef _WIN32
// File modes are Linux's.
TEST(Console, OpeningAFileTruncatesItAndKeepsItPrivate) {
    TempDir dir;
    writeFile(dir.file("old.log"), "old content\n");
    ASSERT_EQ(chmod(dir.file("old.log").c_str(), 0644), 0);
    Console console;
    ASSERT_TRUE(console.setOutput(2, dir.file("old.log").c_str()));
    console.log(2, "N", "", "new");
    std::string content = readFile(dir.file("old.log"));
    EXPECT_EQ(content.find("old content"), std::string::npos);
    EXPECT_NE(content.find("ERROR N: new"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(dir.file("old.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // an older log readable by others is narrowed
    ASSERT_TRUE(console.setOutput(3, dir.file("fresh.log").c_str()));
    ASSERT_EQ(stat(dir.file("fresh.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

#endif  // _WIN32

TEST(Console, ReplacingASharedStreamSwitchesTheOtherLevelsToStdout) {
    TempDir dir;
    Console console;
    FILE* shared = std::fopen(dir.file("shared.log").c_str(), "w");
    ASSERT_NE(shared, nullptr);
    console.setOutput(0, shared, "shared");
    console.setOutput(1, shared, "shared");
    console.log(0, "S", "", "zero");
    console.log(1, "S", "", "one");
    EXPECT_TRUE(console.setOutput(0, "null"));  // closes the stream level 1 used as well
    EXPECT_EQ(console.outputName(1), "stdout");
    testing::internal::CaptureStdout();
    console.log(1, "S", "", "after");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("DEBUG S: after"), std::string::npos);
    std::vector<std::string> lines = fileLines(dir.file("shared.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("TRACE S: zero"), std::string::npos);
    EXPECT_NE(lines[1].find("DEBUG S: one"), std::string::npos);
}

#ifndef _WIN32
// Links, FIFOs and owners made with Linux calls.
TEST(Console, RefusesLogPathsThatAreNotPlainPrivateFiles) {
    // Whatever sits at the path must come out untouched, and nothing may block.
    struct Case {
        const char* name;
        void (*plant)(const TempDir& dir);
        const char* untouched;  // a file whose content must survive, or null
    };
    const Case cases[] = {
        {"symlink to a file",
         [](const TempDir& d) {
             writeFile(d.file("target"), "precious");
             ASSERT_EQ(symlink(d.file("target").c_str(), d.file("log").c_str()), 0);
         },
         "target"},
        {"dangling symlink",
         [](const TempDir& d) {
             ASSERT_EQ(symlink(d.file("created").c_str(), d.file("log").c_str()), 0);
         },
         nullptr},
        {"hard link",
         [](const TempDir& d) {
             writeFile(d.file("target"), "precious");
             ASSERT_EQ(link(d.file("target").c_str(), d.file("log").c_str()), 0);
         },
         "target"},
        {"fifo", [](const TempDir& d) { ASSERT_EQ(mkfifo(d.file("log").c_str(), 0600), 0); },
         nullptr},
        {"directory", [](const TempDir& d) { ASSERT_EQ(mkdir(d.file("log").c_str(), 0700), 0); },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        c.plant(dir);
        Console console;
        EXPECT_FALSE(console.setOutput(0, dir.file("log").c_str()));
        console.log(0, "Planted", "", "line");
        if (c.untouched) {
            EXPECT_EQ(readFile(dir.file(c.untouched)), "precious");
        }
        EXPECT_NE(access(dir.file("created").c_str(), F_OK), 0);
    }
}

TEST(Console, RefusesALogFileOwnedByAnotherUser) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file away";
    TempDir dir;
    writeFile(dir.file("log"), "precious");
    ASSERT_EQ(chown(dir.file("log").c_str(), 65534, 65534), 0);
    Console console;
    EXPECT_FALSE(console.setOutput(0, dir.file("log").c_str()));
    console.log(0, "Planted", "", "line");
    EXPECT_EQ(readFile(dir.file("log")), "precious");
}

#endif  // _WIN32

#ifdef _WIN32
// Windows: the log goes only into a folder that belongs to this user. (Wine reports every
// file as the user's, so the refusal of another user's folder is not exercised here.)
TEST(Console, LogFileInAFolderOfThisUserWithEitherSeparator) {
    TempDir dir;
    std::string backslashed = dir.path() + "\\back.log";
    for (const std::string& path : {dir.file("forward.log"), backslashed}) {
        Console console;
        ASSERT_TRUE(console.setOutput(0, path.c_str())) << path;
        console.log(0, "C", "m", "written");
        std::vector<std::string> lines = fileLines(path);
        ASSERT_EQ(lines.size(), 1u) << path;
        EXPECT_NE(lines[0].find("TRACE C.m written"), std::string::npos) << lines[0];
    }
}

TEST(Console, LogFileInAMissingFolderIsRefused) {
    TempDir dir;
    Console console;
    EXPECT_FALSE(console.setOutput(0, dir.file("absent/vexlanclient.log").c_str()));
    EXPECT_FALSE(console.setOutput(0, dir.file("absent\\vexlanclient.log").c_str()));
}

// A path from the root ("/tmp/vexlanclient.log") lands on the current folder's drive. The
// test's folder stands for "/tmp", reached from the root of its own drive.
TEST(Console, APathFromTheRootIsOnTheCurrentDrive) {
    TempDir dir;
    ASSERT_GT(dir.path().size(), 3u);
    ASSERT_EQ(dir.path()[1], ':');
    std::string fromRoot = dir.path().substr(2) + "/vexlanclient.log";  // "\\users\\...\\x"
    vexlan::testing::Sandbox sandbox;  // gives the current folder back at its end
    ASSERT_EQ(SetCurrentDirectoryA(dir.path().c_str()), TRUE);
    Console console;
    ASSERT_TRUE(console.setOutput(0, fromRoot.c_str())) << fromRoot;
    console.log(0, "C", "m", "on this drive");
    EXPECT_EQ(fileLines(dir.file("vexlanclient.log")).size(), 1u);
}
#endif  // _WIN32

TEST(Console, LogCatchChainsTheExceptionToTheCatchSite) {
    LogCapture capture;
    try {
        throw tessel::EFile("EFile", "file", 326);
    } catch (const tessel::Exception& e) {
        tessel::logCatch(e, "/src/apps/client.cpp", 155);
        TESSEL_LOG_CATCH(e);
    }
    std::vector<std::string> entries = capture.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], "TRACE Exception.catch EFile:file:326 -> client.cpp:155");
    EXPECT_EQ(entries[1].rfind("TRACE Exception.catch EFile:file:326 -> console_test.cpp:", 0), 0u);
}
