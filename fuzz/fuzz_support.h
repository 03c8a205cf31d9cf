// Shared helpers of the libFuzzer targets: a quiet log, the input as a String whose bytes
// end exactly where ASan can see them, a per-process scratch folder and the check macro.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "base/console.h"
#include "base/string.h"

// A property of the code under test that does not hold: report it and end the run as a
// crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "%s:%d: FUZZ_CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace vexlan {
namespace fuzz {

// Every log level goes nowhere, and standard output (which also receives every line) is
// sent to /dev/null; libFuzzer reports on standard error.
inline void quietLog() {
    for (int level = 0; level < tessel::Console::kLevels; ++level)
        tessel::setOutput(level, "null");
    std::fflush(stdout);
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

// The fuzzer's bytes in an allocation of exactly size + 1 bytes, the last one zero (c_str()
// may look at the byte after a String's end). The String does not own the bytes, so a read
// past them is caught by AddressSanitizer instead of landing in a rounded-up pool block.
class Input {
public:
    Input(const uint8_t* data, size_t size) : m_bytes(new char[size + 1]), m_size(size) {
        if (size)
            std::memcpy(m_bytes.get(), data, size);
        m_bytes[size] = '\0';
    }
    tessel::String string() const {
        return tessel::String(m_bytes.get(), static_cast<uint32_t>(m_size));
    }
    // The bytes [from, from + length) as a String of their own exact allocation.
    static Input slice(const uint8_t* data, size_t from, size_t length) {
        return Input(data + from, length);
    }
    const char* data() const { return m_bytes.get(); }
    size_t size() const { return m_size; }

private:
    std::unique_ptr<char[]> m_bytes;
    size_t m_size;
};

// Where the scratch folders go: $VEXLAN_FUZZ_SCRATCH, else /dev/shm when it is a folder
// (files are created and removed for every input: on a disk file system that costs ten times
// the run itself), else $TMPDIR, else /tmp.
inline std::filesystem::path scratchParent() {
    const char* chosen = std::getenv("VEXLAN_FUZZ_SCRATCH");
    if (chosen && *chosen)
        return chosen;
    std::error_code ec;
    if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) {
        return "/dev/shm";
    }
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

// A folder of this process, vexlan-fuzz-<pid> in scratchParent(). libFuzzer ends its runs
// without running exit handlers, so each process removes the folders that processes no
// longer running have left (and a crashing run's folder stays until then, for inspection).
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path parent = scratchParent();
        const std::string prefix = "vexlan-fuzz-";
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(parent, ec)) {
            std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) != 0)
                continue;
            char* end = nullptr;
            long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
            if (pid <= 0 || *end != '\0')
                continue;
            if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                std::filesystem::remove_all(entry.path(), ec);
            }
        }
        std::filesystem::path own = parent / (prefix + std::to_string(::getpid()));
        std::filesystem::remove_all(own, ec);
        std::filesystem::create_directories(own, ec);
        if (ec) {
            std::fprintf(stderr, "cannot create %s: %s\n", own.c_str(), ec.message().c_str());
            std::abort();
        }
        return own;
    }();
    return folder;
}

// Writes `size` bytes to a new file at `path`. (The old file is unlinked rather than
// truncated: some file systems flush a truncated file to the disk when it is closed.)
inline void writeBytes(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    ::unlink(path.c_str());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::perror(path.c_str());
        std::abort();
    }
    if (size && std::fwrite(data, 1, size, f) != size) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(f);
}

inline tessel::String toString(const std::filesystem::path& path) {
    return tessel::String::copy(path.string());
}

}  // namespace fuzz
}  // namespace vexlan
