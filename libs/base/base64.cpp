#include "base/base64.h"

namespace tessel {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each byte in the alphabet; bytes outside it decode as 0 so that a damaged text
// yields damaged bytes (and a failed integrity check) rather than a shifted decoding.
struct DecodeTable {
    unsigned char value[256];
    constexpr DecodeTable() : value() {
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
};
constexpr DecodeTable kDecode;

bool skipped(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

String base64Encode(const void* data, uint32_t length) {
    String out;
    if (length == 0)
        return out;
    const auto* in = static_cast<const unsigned char*>(data);
    uint32_t outLength = 4 * ((length + 2) / 3);
    char* p = out.reserveAppend(outLength);
    uint32_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = (uint32_t(in[i]) << 16) | (uint32_t(in[i + 1]) << 8) | in[i + 2];
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = kAlphabet[(v >> 6) & 63];
        *p++ = kAlphabet[v & 63];
    }
    if (i < length) {
        uint32_t v = uint32_t(in[i]) << 16;
        if (i + 1 < length)
            v |= uint32_t(in[i + 1]) << 8;
        *p++ = kAlphabet[(v >> 18) & 63];
        *p++ = kAlphabet[(v >> 12) & 63];
        *p++ = i + 1 < length ? kAlphabet[(v >> 6) & 63] : '=';
        *p++ = '=';
    }
    out.setLength(outLength);
    return out;
}

String base64Encode(const Buffer& data) {
    return base64Encode(data.data(), data.length());
}
String base64Encode(const String& data) {
    return base64Encode(data.data(), data.length());
}

Buffer base64Decode(const String& text) {
    Buffer out;
    unsigned char* p = out.reserveAppend(text.length() / 4 * 3 + 3);
    uint32_t produced = 0;
    uint32_t group = 0;  // bits gathered so far
    int inGroup = 0;     // characters of the current group
    for (uint32_t i = 0; i < text.length(); ++i) {
        char c = text[i];
        if (skipped(c))
            continue;
        if (c == '=' && inGroup >= 2)
            break;
        group = (group << 6) | kDecode.value[static_cast<unsigned char>(c)];
        if (++inGroup == 4) {
            p[produced++] = static_cast<unsigned char>(group >> 16);
            p[produced++] = static_cast<unsigned char>(group >> 8);
            p[produced++] = static_cast<unsigned char>(group);
            group = 0;
            inGroup = 0;
        }
    }
    // A final group cut short by "=" or by the end of the text.
    if (inGroup == 2) {
        p[produced++] = static_cast<unsigned char>(group >> 4);
    } else if (inGroup == 3) {
        p[produced++] = static_cast<unsigned char>(group >> 10);
        p[produced++] = static_cast<unsigned char>(group >> 2);
    }
    out.setLength(produced);
    return out;
}

}  // namespace tessel
