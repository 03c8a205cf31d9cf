// Extraction of ZIP archives (component archives) below a destination folder.
//
// Entry names are made safe before use: drive prefixes, leading separators and everything up
// to a "/../"-like sequence are dropped; an entry that would still land outside the
// destination is skipped. Nothing is ever created as a symbolic link: entries stored as
// links are written as plain files holding the link text. What an archive may put on disk is
// bounded (UnpackLimits), counted while inflating. Runs on the caller's thread.
#pragma once

#include <cstdint>

#include "base/exception.h"
#include "base/string.h"

namespace tessel {
namespace zlib {

// How much one archive may unpack to. Both are counted as the extraction goes (the bytes
// that inflating really delivers, the entries really walked); the sizes and counts that the
// archive's headers declare are never trusted.
struct UnpackLimits {
    static constexpr uint64_t kDefaultMaxBytes = uint64_t(1) << 30;  // 1 GiB
    static constexpr uint32_t kDefaultMaxEntries = 10000;

    uint64_t maxBytes = kDefaultMaxBytes;      // uncompressed bytes of all entries together
    uint32_t maxEntries = kDefaultMaxEntries;  // entries, folders and skipped ones included
};

// Unpacks every entry of `archive` below `destination` (created with its parents), in
// archive order, inflating in chunks of 16384 bytes. False when the archive is missing or
// empty, when an entry was skipped as unsafe, or when an entry could not be written (which
// stops the extraction). Raises EZip (after an ERROR log line) when the file is not a
// readable ZIP archive, and when it goes past `limits`: the extraction stops before a byte
// past the limit is written and the entry being written is removed; the entries written
// before it stay (callers unpack into a staging folder of their own).
bool unzip(const String& archive, const String& destination,
           const UnpackLimits& limits = UnpackLimits());

// The name rule: repeated until nothing applies, drop a leading "X:" (any character then a
// colon), one leading "\" or "/", and everything up to and including the first "\..\",
// "\../", "/../" or "/..\" (tested in that order). The result may still climb out
// ("a\..\..\y" keeps "..\y"): unzip checks that separately.
String sanitizeEntryName(const String& name);

// True when the sanitised name, split at "/" and "\", has a ".." part (or starts with a
// separator): such an entry is never written.
bool climbsOut(const String& sanitizedName);

}  // namespace zlib
}  // namespace tessel
