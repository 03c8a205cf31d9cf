// What proxy scripts need from the system (implemented by unix/pacscript_platform.cpp).
#pragma once

#include "http/pacscript.h"

namespace tessel {
namespace http {
namespace detail {

// The name lookups of the operating system, used unless a test installs its own resolver.
PacResolver& systemPacResolver();

}  // namespace detail
}  // namespace http
}  // namespace tessel
