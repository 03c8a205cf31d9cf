// HTTP headers: a ResponseHeader built from arbitrary text, its status code, and a script of
// edits (pending fields, cookies, ETag, status code, immediate line edits) written back by
// toString. The input is the block, a zero byte, then the bytes that drive the edits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "base/exception.h"
#include "fuzz_support.h"
#include "http/header.h"
#include "http/response.h"

using tessel::String;
using tessel::http::Cookie;
using tessel::http::ResponseHeader;
namespace http = tessel::http;

namespace {

// The lines that are hits for `key` (lower case): at a line start, the key in any case, then
// blanks, tabs, CR or LF, then ":". Each hit is given as the text of its first line.
std::vector<std::string> hits(const std::string& text, const std::string& key) {
    std::vector<std::string> found;
    size_t line = 0;
    while (line < text.size()) {
        bool match = text.size() - line >= key.size();
        for (size_t i = 0; match && i < key.size(); ++i) {
            char c = text[line + i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            match = c == key[i];
        }
        if (match) {
            size_t q = line + key.size();
            while (q < text.size() &&
                   (text[q] == ' ' || text[q] == '\t' || text[q] == '\r' || text[q] == '\n')) {
                ++q;
            }
            if (q < text.size() && text[q] == ':') {
                size_t end = text.find('\n', line);
                std::string first =
                    text.substr(line, end == std::string::npos ? std::string::npos : end - line);
                if (!first.empty() && first.back() == '\r')
                    first.pop_back();
                found.push_back(first);
            }
        }
        size_t lf = text.find('\n', line);
        if (lf == std::string::npos)
            break;
        line = lf + 1;
    }
    return found;
}

bool oneLine(const String& value) {
    return value.findFirstOf("\r\n") == String::npos;
}

int32_t referenceCode(const std::string& text, bool& bad) {
    std::string status = text.substr(0, text.find('\n'));
    size_t space = status.find(' ');
    bad = space == std::string::npos;
    if (bad)
        return 0;
    size_t at = status.find_first_not_of(' ', space);
    if (at == std::string::npos)
        return 0;
    bool negative = false;
    if (status[at] == '+' || status[at] == '-')
        negative = status[at++] == '-';
    uint32_t value = 0;
    for (; at < status.size() && status[at] >= '0' && status[at] <= '9'; ++at) {
        value = value * 10u + static_cast<uint32_t>(status[at] - '0');
    }
    return static_cast<int32_t>(negative ? 0u - value : value);
}

String consumeValue(FuzzedDataProvider& fdp) {
    return String::copy(fdp.ConsumeRandomLengthString(48));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const void* zero = std::memchr(data, 0, size);
    size_t blockSize = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data) : size;
    vexlan::fuzz::Input block(data, blockSize);
    const String text = block.string();
    const std::string std = text.toStd();

    bool tooShort = std.find('\n', std.size() < 4 ? 0 : std.size() - 4) == std::string::npos;
    std::unique_ptr<ResponseHeader> header;
    try {
        header = std::make_unique<ResponseHeader>(text);
        FUZZ_CHECK(!tooShort);
    } catch (const tessel::http::EBadHeader&) {
        FUZZ_CHECK(tooShort);
        return 0;
    }
    FUZZ_CHECK(header->text() == text);
    FUZZ_CHECK(header->crlf() == (std.size() >= 2 && std.compare(std.size() - 2, 2, "\r\n") == 0));

    bool badStatus = false;
    int32_t code = referenceCode(std, badStatus);
    try {
        FUZZ_CHECK(header->extractResponseCode() == code);
        FUZZ_CHECK(!badStatus && header->statusCode() == code);
    } catch (const tessel::http::EBadHeader&) {
        FUZZ_CHECK(badStatus);
    }

    // The edit script (VEXLAN_FUZZ_TRACE=1 shows it).
    static const bool trace = std::getenv("VEXLAN_FUZZ_TRACE") != nullptr;
    FuzzedDataProvider fdp(data + blockSize, size - blockSize);
    for (int op = 0; op < 24 && fdp.remaining_bytes() > 0; ++op) {
        int slot = fdp.ConsumeIntegralInRange(-1, http::kHeaderSlots);
        int kind = fdp.ConsumeIntegralInRange(0, 12);
        if (trace) {
            std::fprintf(stderr, "op %d slot %d on:\n", kind, slot);
            std::fwrite(header->text().data(), 1, header->text().length(), stderr);
        }
        switch (kind) {
            case 0:
                header->setField(slot, consumeValue(fdp));
                break;
            case 1: {
                tessel::Strings values;
                int n = fdp.ConsumeIntegralInRange(0, 3);
                for (int i = 0; i < n; ++i)
                    values.append(consumeValue(fdp));
                header->setFieldValues(slot, values);
                break;
            }
            case 2:
                header->setContentLength(fdp.ConsumeIntegral<int64_t>());
                break;
            case 3:
                header->removeField(slot);
                break;
            case 4: {
                Cookie cookie;
                cookie.name = consumeValue(fdp);
                cookie.value = consumeValue(fdp);
                if (fdp.ConsumeBool())
                    cookie.path = consumeValue(fdp);
                if (fdp.ConsumeBool())
                    cookie.domain = consumeValue(fdp);
                if (fdp.ConsumeBool())
                    cookie.expires = consumeValue(fdp);
                if (fdp.ConsumeBool())
                    cookie.maxAge = consumeValue(fdp);
                if (fdp.ConsumeBool()) {
                    cookie.attributes.emplace_back(consumeValue(fdp), consumeValue(fdp));
                }
                cookie.secure = fdp.ConsumeBool();
                header->addCookie(cookie, fdp.ConsumeBool());
                break;
            }
            case 5:
                header->removeCookies(fdp.ConsumeBool());
                break;
            case 6:
                header->setETag(consumeValue(fdp));
                break;
            case 7:
                header->removeETag();
                break;
            case 8:
                header->setStatusCode(fdp.ConsumeIntegral<int32_t>());
                break;
            case 9:
                try {
                    header->removeAttribute(slot);
                    FUZZ_CHECK(slot < 0 || slot >= http::kHeaderSlots ||
                               hits(header->text().toStd(), http::headerKey(slot)).empty() ||
                               slot == 5);
                } catch (const tessel::http::EBadHeader&) {
                }
                break;
            case 10:
                header->addLine(slot, consumeValue(fdp));
                break;
            case 11:
                header->appendLine(consumeValue(fdp));
                break;
            default:
                header->reset();
                FUZZ_CHECK(header->text().isEmpty());
                break;
        }
    }

    // What is pending, as the object tells it.
    std::map<int, std::vector<String>> pending;  // slot -> lines' values to be written
    std::vector<int> removed;                    // slots to be removed
    for (int slot = 0; slot < http::kSingleValueSlots; ++slot) {
        if (header->fieldState(slot) == http::kFieldSet)
            pending[slot] = {header->fieldValue(slot)};
    }
    for (int slot : {http::kProxyAuthenticate, http::kWWWAuthenticate}) {
        if (header->fieldState(slot) == http::kFieldSet) {
            tessel::Strings values = header->fieldValues(slot);
            for (const String& v : values)
                pending[slot].push_back(v);
            if (pending[slot].empty())
                removed.push_back(slot);
        }
    }
    if (header->fieldState(http::kContentLength) == http::kFieldSet) {
        pending[http::kContentLength] = {String::copy(std::to_string(header->contentLength()))};
    }
    for (int version2 = 0; version2 < 2; ++version2) {
        int slot = version2 ? http::kSetCookie2 : http::kSetCookie;
        if (header->cookieState(version2) == http::kFieldSet) {
            for (const Cookie& c : header->cookies(version2))
                pending[slot].push_back(c.toString());
            if (pending[slot].empty())
                removed.push_back(slot);
        } else if (header->cookieState(version2) == http::kFieldRemove) {
            removed.push_back(slot);
        }
    }
    if (header->etagState() == http::kFieldSet) {
        pending[http::kETag] = {"\"" + header->etag() + "\""};
    } else if (header->etagState() == http::kFieldRemove) {
        removed.push_back(http::kETag);
    }
    for (int slot = 0; slot <= http::kContentLength; ++slot) {
        if (header->fieldState(slot) == http::kFieldRemove)
            removed.push_back(slot);
    }

    // Writing back: either everything pending is written, or nothing changes.
    const String before = header->text();
    int states[http::kHeaderSlots];
    for (int slot = 0; slot < http::kHeaderSlots; ++slot)
        states[slot] = header->fieldState(slot);
    String written;
    try {
        written = header->toString();
    } catch (const tessel::http::EBadHeader&) {
        FUZZ_CHECK(header->text() == before);
        for (int slot = 0; slot < http::kHeaderSlots; ++slot) {
            FUZZ_CHECK(header->fieldState(slot) == states[slot]);
        }
        return 0;
    }
    FUZZ_CHECK(written == header->text());
    for (int slot = 0; slot < http::kHeaderSlots; ++slot) {
        int was = states[slot];
        int now = header->fieldState(slot);
        FUZZ_CHECK(now == (was == http::kFieldSet      ? http::kFieldWritten
                           : was == http::kFieldRemove ? http::kFieldRemoved
                                                       : was));
    }
    // Once written, the text stays as it is.
    FUZZ_CHECK(header->toString() == written);

    // Every header written is there once per value, every header removed is gone. (A value
    // holding a line break makes lines of its own, which may be anyone's: then nothing is
    // counted.)
    bool plain = true;
    for (const auto& entry : pending) {
        for (const String& value : entry.second)
            plain = plain && oneLine(value);
    }
    if (!plain)
        return 0;
    const std::string out = written.toStd();
    for (int slot : removed)
        FUZZ_CHECK(hits(out, http::headerKey(slot)).empty());
    for (const auto& entry : pending) {
        std::vector<std::string> lines = hits(out, http::headerKey(entry.first));
        if (lines.size() != entry.second.size()) {
            std::fprintf(stderr, "slot %d: %zu lines, %zu expected in:\n", entry.first,
                         lines.size(), entry.second.size());
            std::fwrite(out.data(), 1, out.size(), stderr);
        }
        FUZZ_CHECK(lines.size() == entry.second.size());
        for (size_t i = 0; i < lines.size(); ++i) {
            FUZZ_CHECK(lines[i] ==
                       std::string(http::headerName(entry.first)) + ": " + entry.second[i].toStd());
        }
    }
    return 0;
}
