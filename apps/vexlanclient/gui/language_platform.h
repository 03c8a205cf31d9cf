// What the language set-up asks the system (implemented by unix/ and
// windows/language_platform.cpp).
#pragma once

namespace vexlan::detail {

// True only when the C library certainly holds no locale but C and POSIX, so that no language
// of the user interface can be set and the costly per-language check can be skipped with the
// same answer. False whenever that is not certain.
bool systemHasOnlyCLocales();

}  // namespace vexlan::detail
