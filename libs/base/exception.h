// The exception family of the whole program. Errors are thrown by value; the message is
// usually the class's own name, the detail having gone to the log first (see console.h).
#pragma once

#include <cstdint>

#include "base/string.h"

namespace tessel {

class Exception {
public:
    Exception(const String& message, const char* file, uint32_t line);
    Exception(int32_t code, const String& message, const char* file, uint32_t line);
    virtual ~Exception() = default;

    const String& message() const noexcept { return m_message; }
    // The source file without its directory.
    const String& file() const noexcept { return m_file; }
    uint32_t line() const noexcept { return m_line; }
    int32_t code() const noexcept { return m_code; }

    // message:file:line, then (code) when the code is not 0.
    String toString() const;
    // The text form, " -> ", then the catching file's base name, ":" and line.
    String chain(const char* catchFile, uint32_t catchLine) const;

    // What follows the last "/" or, when there is none, the last "\".
    static String baseName(const char* path);

private:
    String m_message;
    String m_file;
    uint32_t m_line;
    int32_t m_code;
};

#define TESSEL_DECLARE_EXCEPTION(Name, Base) \
    class Name : public Base {               \
    public:                                  \
        using Base::Base;                    \
    }

TESSEL_DECLARE_EXCEPTION(NullException, Exception);
TESSEL_DECLARE_EXCEPTION(ENotImplemented, Exception);
TESSEL_DECLARE_EXCEPTION(IOException, Exception);
TESSEL_DECLARE_EXCEPTION(EFile, Exception);
TESSEL_DECLARE_EXCEPTION(EConfMissingKey, Exception);
TESSEL_DECLARE_EXCEPTION(EKeyReader, Exception);
TESSEL_DECLARE_EXCEPTION(EMediationResponse, Exception);
TESSEL_DECLARE_EXCEPTION(EClientConfiguration, Exception);
TESSEL_DECLARE_EXCEPTION(EBadSignature, Exception);
TESSEL_DECLARE_EXCEPTION(EModuleLoader, Exception);
TESSEL_DECLARE_EXCEPTION(EPluginDllInstance, Exception);
TESSEL_DECLARE_EXCEPTION(EJsonError, Exception);
TESSEL_DECLARE_EXCEPTION(EJsonKeyReader, EKeyReader);

namespace zlib {
TESSEL_DECLARE_EXCEPTION(EZip, Exception);
}

namespace http {
TESSEL_DECLARE_EXCEPTION(HttpException, Exception);
TESSEL_DECLARE_EXCEPTION(HeaderException, HttpException);
TESSEL_DECLARE_EXCEPTION(EBadHeader, HeaderException);
TESSEL_DECLARE_EXCEPTION(UriComponentException, HttpException);
}  // namespace http

namespace xml {
TESSEL_DECLARE_EXCEPTION(XmlException, Exception);
TESSEL_DECLARE_EXCEPTION(EParser, XmlException);
TESSEL_DECLARE_EXCEPTION(EParserReader, XmlException);
TESSEL_DECLARE_EXCEPTION(EXmlElement, XmlException);
TESSEL_DECLARE_EXCEPTION(EXmlStringParser, XmlException);
TESSEL_DECLARE_EXCEPTION(EXmlAttribute, XmlException);
TESSEL_DECLARE_EXCEPTION(EXmlComment, XmlException);
TESSEL_DECLARE_EXCEPTION(EXmlAttributeValue, XmlException);
using KeyReaderBase = tessel::EKeyReader;
TESSEL_DECLARE_EXCEPTION(EKeyReader, KeyReaderBase);
}  // namespace xml

// A position that the log shows as a fixed text instead of where the code stands today:
// a source name with the throwing line, or a source name and a line. Listed in
// base/fixedpositions.h.
struct FixedSource {
    const char* source;
};
struct FixedPosition {
    const char* source;
    uint32_t line;
};
constexpr uint32_t fixedLine(FixedSource, uint32_t here) {
    return here;
}
constexpr uint32_t fixedLine(FixedPosition position, uint32_t) {
    return position.line;
}

}  // namespace tessel

// Throws `Type` with its name as written (`xml::EKeyReader` gives "xml::EKeyReader") as the
// message and this source position.
#define TESSEL_THROW(Type) throw Type(#Type, __FILE__, __LINE__)
// The same at a fixed position of base/fixedpositions.h (a FixedSource or a FixedPosition).
#define TESSEL_THROW_AT(Type, position) \
    throw Type(#Type, (position).source, ::tessel::fixedLine((position), __LINE__))
// Logs an absorbed exception: log(0, "Exception", "catch", chain text at this position).
#define TESSEL_LOG_CATCH(e) ::tessel::logCatch((e), __FILE__, __LINE__)
// The same at a fixed position of base/fixedpositions.h.
#define TESSEL_LOG_CATCH_AT(e, position) \
    ::tessel::logCatch((e), (position).source, ::tessel::fixedLine((position), __LINE__))
