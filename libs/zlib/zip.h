// Extraction of ZIP archives (component archives) below a destination folder.
//
// Entry names are made safe before use: drive prefixes, leading separators and everything up
// to a "/../"-like sequence are dropped; an entry that would still land outside the
// destination is skipped. Nothing is ever created as a symbolic link: entries stored as
// links are written as plain files holding the link text. Runs on the caller's thread.
#pragma once

#include "base/exception.h"
#include "base/string.h"

namespace tessel {
namespace zlib {

// Unpacks every entry of `archive` below `destination` (created with its parents), in
// archive order, inflating in chunks of 16384 bytes. False when the archive is missing or
// empty, when an entry was skipped as unsafe, or when an entry could not be written (which
// stops the extraction). Raises EZip (after an ERROR log line) when the file is not a
// readable ZIP archive.
bool unzip(const String& archive, const String& destination);

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
