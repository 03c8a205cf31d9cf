// Base64 of RFC 4648 (standard alphabet, "=" padding, no line breaks).
#pragma once

#include <cstdint>

#include "base/buffer.h"
#include "base/string.h"

namespace tessel {

String base64Encode(const void* data, uint32_t length);
String base64Encode(const Buffer& data);
String base64Encode(const String& data);
// Blanks, tabs, carriage returns and line feeds are skipped; decoding stops at an "=" in the
// third or fourth place of a group; a byte outside the alphabet counts as 0 (A) and is not
// reported: callers that need integrity check the decoded bytes.
Buffer base64Decode(const String& text);

}  // namespace tessel
