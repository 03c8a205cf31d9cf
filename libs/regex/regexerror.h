// The engine's own exception, and the way it reports a pattern it cannot afford.
#pragma once

#include "base/exception.h"

namespace tessel {
namespace regex {

// Raised when compiling or matching needs more memory than can be had.
TESSEL_DECLARE_EXCEPTION(ERegex, Exception);

namespace detail {

// Logs that `className`.`method` ran out of memory and throws ERegex; called from the handler
// of std::bad_alloc, once the failed operation's memory has been released.
[[noreturn]] void throwOutOfMemory(const char* className, const char* method);

}  // namespace detail
}  // namespace regex
}  // namespace tessel
