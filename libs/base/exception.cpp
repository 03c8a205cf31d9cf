#include "base/exception.h"

#include <cstring>

namespace tessel {

String Exception::baseName(const char* path) {
    if (!path)
        return String();
    const char* slash = std::strrchr(path, '/');
    if (!slash)
        slash = std::strrchr(path, '\\');
    return String::copy(slash ? slash + 1 : path,
                        static_cast<uint32_t>(std::strlen(slash ? slash + 1 : path)));
}

Exception::Exception(const String& message, const char* file, uint32_t line)
    : Exception(0, message, file, line) {}

Exception::Exception(int32_t code, const String& message, const char* file, uint32_t line)
    : m_message(message), m_file(baseName(file)), m_line(line), m_code(code) {}

String Exception::toString() const {
    String text;
    text.appendAll(m_message, ':', m_file, ':', String(m_line));
    if (m_code != 0)
        text.appendAll('(', String::format("%u", static_cast<uint32_t>(m_code)), ')');
    return text;
}

String Exception::chain(const char* catchFile, uint32_t catchLine) const {
    String text = toString();
    text.appendAll(" -> ", baseName(catchFile), ':', String(catchLine));
    return text;
}

}  // namespace tessel
