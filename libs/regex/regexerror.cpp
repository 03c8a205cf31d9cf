#include "regex/regexerror.h"

#include "base/console.h"

namespace tessel {
namespace regex {
namespace detail {

void throwOutOfMemory(const char* className, const char* method) {
    log(2, className, method, "not enough memory for this pattern");
    TESSEL_THROW(ERegex);
}

}  // namespace detail
}  // namespace regex
}  // namespace tessel
