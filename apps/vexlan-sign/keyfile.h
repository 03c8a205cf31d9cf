// Writing a private key file: readable by its owner only, created fresh (never through an
// existing file or link).
#pragma once

#include <string>

// Creates `path` with owner-only access and writes `content`. With `replace`, an existing
// file (or link) at `path` is removed first; without it an existing entry is an error. False
// with the system's explanation in `error`.
bool writePrivateFile(const std::string& path, const std::string& content, bool replace,
                      std::string& error);
