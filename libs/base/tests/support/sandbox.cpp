#include "sandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/console.h"
#include "sandbox_platform.h"

namespace vexlan::testing {

using detail::makeTempDir;

Sandbox::Sandbox() : m_home(makeTempDir()) {
    m_oldCwd = std::filesystem::current_path().string();
    auto variables = detail::sandboxVariables(m_home);
    m_configHome = variables.at(1).second;
    for (const auto& [name, value] : variables) {
        Saved saved;
        saved.name = name;
        if (const char* old = std::getenv(name.c_str())) {
            saved.had = true;
            saved.value = old;
        }
        m_saved.push_back(saved);
        std::filesystem::create_directories(value);
        detail::setEnvironment(name.c_str(), value.c_str());
    }
}

Sandbox::~Sandbox() {
    for (const Saved& saved : m_saved)
        detail::setEnvironment(saved.name.c_str(), saved.had ? saved.value.c_str() : nullptr);
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
