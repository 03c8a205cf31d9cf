// Base64: decoding of arbitrary text against a plain reference decoder, and the round trip
// of arbitrary bytes through encoding.
#include <cstring>
#include <string>

#include "base/base64.h"
#include "fuzz_support.h"

using tessel::Buffer;
using tessel::String;

namespace {

int value(unsigned char c) {
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* at = c ? std::strchr(alphabet, c) : nullptr;
    return at ? static_cast<int>(at - alphabet) : 0;  // outside the alphabet: 0
}

// Blanks, tabs, CR and LF skipped; a "=" in the third or fourth place of a group ends the
// text; four characters give three bytes, a final group of two or three gives one or two.
std::string referenceDecode(const char* text, size_t length) {
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=' && count >= 2)
            break;
        bits = (bits << 6) | static_cast<unsigned>(value(c));
        if (++count == 4) {
            out.push_back(static_cast<char>((bits >> 16) & 0xff));
            out.push_back(static_cast<char>((bits >> 8) & 0xff));
            out.push_back(static_cast<char>(bits & 0xff));
            bits = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.push_back(static_cast<char>((bits >> 4) & 0xff));
    } else if (count == 3) {
        out.push_back(static_cast<char>((bits >> 10) & 0xff));
        out.push_back(static_cast<char>((bits >> 2) & 0xff));
    }
    return out;
}

bool same(const Buffer& buffer, const void* data, size_t length) {
    return buffer.length() == length &&
           (length == 0 || std::memcmp(buffer.data(), data, length) == 0);
}

bool canonical(const String& text) {
    for (uint32_t i = 0; i < text.length(); ++i) {
        char c = text[i];
        bool padding = c == '=' && i + 2 >= text.length();
        if (!padding && value(static_cast<unsigned char>(c)) == 0 && c != 'A')
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexlan::fuzz::Input input(data, size);
    const String text = input.string();

    // Decoding any text: what the reference decoder gives.
    Buffer decoded = tessel::base64Decode(text);
    std::string expected = referenceDecode(input.data(), input.size());
    FUZZ_CHECK(same(decoded, expected.data(), expected.size()));

    // Encoding any bytes: the canonical length and alphabet, and decoding gives them back.
    String encoded = tessel::base64Encode(input.data(), static_cast<uint32_t>(size));
    FUZZ_CHECK(encoded.length() == 4 * ((size + 2) / 3));
    FUZZ_CHECK(canonical(encoded));
    FUZZ_CHECK(same(tessel::base64Decode(encoded), input.data(), size));
    // The three overloads agree.
    FUZZ_CHECK(tessel::base64Encode(text) == encoded);
    FUZZ_CHECK(tessel::base64Encode(Buffer(input.data(), static_cast<uint32_t>(size))) == encoded);

    // Re-encoding what was decoded is stable from then on.
    String again = tessel::base64Encode(decoded);
    FUZZ_CHECK(tessel::base64Decode(again) == decoded);
    return 0;
}
