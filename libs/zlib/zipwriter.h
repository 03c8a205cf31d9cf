// ZipWriter: writes a ZIP archive entry by entry (deflated), for the publisher's packing
// tool and for test fixtures. Entry names are stored exactly as given. One thread at a time.
#pragma once

#include <cstdint>

#include "base/string.h"

namespace tessel {
namespace zlib {

// How one entry is stored.
struct ZipEntryOptions {
    uint32_t unixMode = 0100644;  // file type and permission bits, in the external attributes
    bool deflate = true;          // false: stored without compression
};

class ZipWriter {
public:
    using EntryOptions = ZipEntryOptions;

    ZipWriter();
    // Closes the archive if it is still open.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Creates (or replaces) the archive at `path`. False when it cannot be created.
    bool open(const String& path);
    // Adds an entry with the given bytes. False when the archive is not open or on a
    // write failure.
    bool add(const String& name, const void* data, uint32_t length,
             const EntryOptions& options = EntryOptions());
    // Adds an entry holding the content of the file at `path`, read in chunks.
    bool addFile(const String& name, const String& path,
                 const EntryOptions& options = EntryOptions());
    // Writes the central directory. False when the archive was not open or cannot be ended.
    bool close();

private:
    bool openEntry(const String& name, const EntryOptions& options);
    bool closeEntry(bool ok);

    void* m_zip;  // the archive handle of the ZIP library
};

}  // namespace zlib
}  // namespace tessel
