#include "sandbox.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/console.h"

namespace vexlan::testing {
namespace {

std::string makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vexlan-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}

void restore(const char* name, bool had, const std::string& value) {
    if (had) {
        setenv(name, value.c_str(), 1);
    } else {
        unsetenv(name);
    }
}

}  // namespace

Sandbox::Sandbox() : m_home(makeTempDir()) {
    if (const char* h = getenv("HOME")) {
        m_hadHome = true;
        m_oldHome = h;
    }
    if (const char* c = getenv("XDG_CONFIG_HOME")) {
        m_hadConfig = true;
        m_oldConfig = c;
    }
    m_oldCwd = std::filesystem::current_path().string();
    std::filesystem::create_directories(configHome());
    setenv("HOME", m_home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", configHome().c_str(), 1);
    // No desktop session either: the user's keyring and session bus stay out of reach (a test
    // that wants a keyring starts its own bus here).
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "XDG_DATA_HOME"}) {
        const char* value = getenv(name);
        m_savedEnvironment.push_back({name, value != nullptr, value ? value : ""});
    }
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    setenv("XDG_RUNTIME_DIR", path("run").c_str(), 1);
    setenv("XDG_DATA_HOME", path(".local/share").c_str(), 1);
}

Sandbox::~Sandbox() {
    restore("HOME", m_hadHome, m_oldHome);
    restore("XDG_CONFIG_HOME", m_hadConfig, m_oldConfig);
    for (const SavedVariable& v : m_savedEnvironment)
        restore(v.name.c_str(), v.had, v.value);
    std::error_code ignored;
    std::filesystem::current_path(m_oldCwd, ignored);
    std::filesystem::remove_all(m_home, ignored);
}

TempDir::TempDir() : m_path(makeTempDir()) {}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

LogCapture::LogCapture() : m_file(m_dir.file("capture.log")) {
    for (int level = 0; level < 4; ++level)
        tessel::setOutput(level, m_file.c_str());
}

LogCapture::~LogCapture() {
    for (int level = 0; level < 4; ++level)
        tessel::setOutput(level, "stdout");
}

std::vector<std::string> LogCapture::lines() const {
    std::vector<std::string> result;
    std::istringstream in(readFile(m_file));
    std::string line;
    while (std::getline(in, line)) {
        // "dd-mm-yy HH:MM:SS.ms text": drop the first two fields.
        size_t first = line.find(' ');
        size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        result.push_back(second == std::string::npos ? line : line.substr(second + 1));
    }
    return result;
}

std::vector<std::string> LogCapture::entries() const {
    std::vector<std::string> result;
    for (const std::string& line : lines()) {
        size_t close = line.find("] ");
        result.push_back(
            line.rfind('[', 0) == 0 && close != std::string::npos ? line.substr(close + 2) : line);
    }
    return result;
}

bool LogCapture::contains(const std::string& entry) const {
    for (const std::string& e : entries()) {
        if (e == entry)
            return true;
    }
    return false;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

}  // namespace vexlan::testing
