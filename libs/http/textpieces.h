// Walking the pieces of a separated list ("a;b;;c") without building a container of them.
#pragma once

#include <cstdint>

#include "base/string.h"

namespace tessel {
namespace http {
namespace detail {

// Calls `f` with each piece of `text` split at `separator`, empty pieces included, until `f`
// returns false. The last piece is passed even when empty, and its result is not used.
template <class F>
void forEachPiece(const String& text, char separator, F&& f) {
    uint32_t start = 0;
    for (;;) {
        uint32_t end = text.find(separator, start);
        if (end == String::npos) {
            f(text.substring(start));
            return;
        }
        if (!f(text.substring(start, end - start)))
            return;
        start = end + 1;
    }
}

}  // namespace detail
}  // namespace http
}  // namespace tessel
