#include "vexlanclient/dataprotection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/string.h"
#include "sandbox.h"
#include "vexlanclient/unix/dataprotection_unix.h"

using tessel::Buffer;
using tessel::String;
using vexlan::EDataProtection;
using vexlan::protectData;
using vexlan::unprotectData;
namespace unixprotection = vexlan::unixprotection;
using vexlan::testing::LogCapture;
using vexlan::testing::Sandbox;

namespace {

Buffer bytes(const std::string& text) {
    return Buffer(text.data(), static_cast<uint32_t>(text.size()));
}

std::string text(const Buffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), buffer.length());
}

Buffer key(unsigned char fill) {
    Buffer k(unixprotection::kKeyLength);
    unsigned char* out = k.mutableData();
    for (uint32_t i = 0; i < k.length(); ++i)
        out[i] = static_cast<unsigned char>(fill + i);
    return k;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

TEST(DataProtection, SealedBlobsOpenOnlyForTheirKeyAndUser) {
    const uint32_t user = 1000;
    for (const std::string& plain : {std::string("proxy password"), std::string()}) {
        Buffer blob = vexlan::sealSecret(key(1), user, bytes(plain));
        EXPECT_EQ(blob.length(), plain.size() + 29);
        EXPECT_EQ(text(vexlan::openSecret(key(1), user, blob)), plain);
        // Two seals of the same text differ (fresh nonce).
        EXPECT_NE(vexlan::sealSecret(key(1), user, bytes(plain)), blob);

        LogCapture capture;
        EXPECT_THROW(vexlan::openSecret(key(1), user + 1, blob), EDataProtection);
        EXPECT_TRUE(
            capture.contains("ERROR DataProtection.unprotect the protected data belongs "
                             "to another user or was altered"));
        EXPECT_THROW(vexlan::openSecret(key(2), user, blob), EDataProtection);
        // Any changed byte: version, nonce, text, tag.
        for (uint32_t at = 0; at < blob.length(); ++at) {
            Buffer altered(blob.data(), blob.length());
            altered.mutableData()[at] ^= 0x01;
            EXPECT_THROW(vexlan::openSecret(key(1), user, altered), EDataProtection) << at;
        }
        Buffer truncated(blob.data(), blob.length() - 1);
        EXPECT_THROW(vexlan::openSecret(key(1), user, truncated), EDataProtection);
    }
    EXPECT_THROW(vexlan::openSecret(key(1), user, Buffer()), EDataProtection);
}

TEST(DataProtection, KeyIsCreatedPrivatelyOnFirstProtection) {
    Sandbox sandbox;
    std::string path = unixprotection::keyFilePath();
    EXPECT_EQ(path, sandbox.configHome() + "/vexlan/protect.key");

    // Unprotecting never creates a key.
    LogCapture capture;
    EXPECT_THROW(unprotectData(bytes("whatever")), EDataProtection);
    EXPECT_TRUE(capture.contains("ERROR DataProtection.unprotect no protection key " + path));
    EXPECT_FALSE(std::filesystem::exists(path));

    Buffer blob = protectData(bytes("secret"));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(sandbox.configHome() + "/vexlan"), 0700u);
    EXPECT_EQ(std::filesystem::file_size(path), 32u);
    std::string first = vexlan::testing::readFile(path);
    EXPECT_EQ(text(unprotectData(blob)), "secret");

    // The key stays; no temporary file is left beside it.
    protectData(bytes("again"));
    EXPECT_EQ(vexlan::testing::readFile(path), first);
    int entries = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(sandbox.configHome() + "/vexlan")) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(DataProtection, UnsuitableKeyFilesAreRefused) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* logged;  // after "ERROR DataProtection.protect " + ... + path
    };
    const Case cases[] = {
        {"short",
         [](const std::string& p) {
             vexlan::testing::writeFile(p, "short");
             ::chmod(p.c_str(), 0600);
         },
         "the protection key %s is damaged"},
        {"open to others",
         [](const std::string& p) {
             vexlan::testing::writeFile(p, std::string(32, 'k'));
             ::chmod(p.c_str(), 0644);
         },
         "the protection key %s is open to other users"},
        {"folder", [](const std::string& p) { std::filesystem::create_directories(p); },
         "the protection key %s is not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox sandbox;
        std::string path = unixprotection::keyFilePath();
        std::filesystem::create_directories(sandbox.configHome() + "/vexlan");
        c.make(path);
        LogCapture capture;
        EXPECT_THROW(protectData(bytes("x")), EDataProtection);
        std::string expected = c.logged;
        expected.replace(expected.find("%s"), 2, path);
        EXPECT_TRUE(capture.contains("ERROR DataProtection.protect " + expected));
    }
}

TEST(DataProtection, ASymbolicLinkIsNotFollowed) {
    Sandbox sandbox;
    std::string target = sandbox.path("elsewhere.key");
    vexlan::testing::writeFile(target, std::string(32, 'k'));
    ::chmod(target.c_str(), 0600);
    std::filesystem::create_directories(sandbox.configHome() + "/vexlan");
    std::filesystem::create_symlink(target, unixprotection::keyFilePath());
    EXPECT_THROW(protectData(bytes("x")), EDataProtection);
}

// Several processes that protect at once, with no key yet, all end up with the same key: each
// one's blob unprotects with the key that stays.
TEST(DataProtection, ConcurrentCreatorsShareOneKey) {
    Sandbox sandbox;
    constexpr int kProcesses = 6;
    int gate[2];
    ASSERT_EQ(::pipe(gate), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(gate[1]);
            char byte;
            // Every child waits here until the parent closes the pipe: they start together.
            while (::read(gate[0], &byte, 1) > 0) {
            }
            int status = 0;
            try {
                Buffer blob = protectData(bytes("from " + std::to_string(i)));
                vexlan::testing::writeFile(sandbox.path("blob" + std::to_string(i)), text(blob));
            } catch (...) {
                status = 1;
            }
            ::_exit(status);
        }
        children.push_back(pid);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int i = 0; i < kProcesses; ++i) {
        std::string blob = vexlan::testing::readFile(sandbox.path("blob" + std::to_string(i)));
        EXPECT_EQ(text(unprotectData(bytes(blob))), "from " + std::to_string(i));
    }
    EXPECT_EQ(modeOf(unixprotection::keyFilePath()), 0600u);
}

}  // namespace
