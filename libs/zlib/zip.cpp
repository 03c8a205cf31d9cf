#include "zlib/zip.h"

#include <minizip/unzip.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/file.h"

namespace tessel {
namespace zlib {
namespace {

constexpr unsigned kChunk = 16384;

// Closes the archive on every way out.
struct ArchiveHandle {
    unzFile file;
    ~ArchiveHandle() {
        if (file)
            unzClose(file);
    }
};

// The stored name of the current entry, cut at a zero byte so that what is checked is what
// reaches the file system.
bool currentEntryName(unzFile zf, String& name) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    std::vector<char> raw(info.size_filename + 1, '\0');
    if (unzGetCurrentFileInfo64(zf, &info, raw.data(), static_cast<uLong>(raw.size()), nullptr, 0,
                                nullptr, 0) != UNZ_OK) {
        return false;
    }
    name = String::copy(raw.data(), static_cast<uint32_t>(strnlen(raw.data(), info.size_filename)));
    return true;
}

void makeFolder(const String& path) {
    try {
        ensureDirectory(path);
    } catch (const EFile& e) {
        // Reported where it matters: the file below it cannot be created.
        TESSEL_LOG_CATCH(e);
    }
}

enum class EntryResult {
    kWritten,   // the whole entry is on disk
    kFailed,    // read, inflate, checksum or write failure
    kTooLarge,  // inflating went past the archive's byte budget
};

// Inflates the current entry into `out`, taking what it writes from `budget` (the bytes the
// archive may still unpack to). Nothing past the budget is written.
EntryResult inflateEntry(unzFile zf, File& out, const String& target, uint64_t& budget) {
    if (unzOpenCurrentFile(zf) != UNZ_OK) {
        log(0, "Zip", "unzip", "Cannot read entry: " + target);
        return EntryResult::kFailed;
    }
    std::vector<unsigned char> chunk(kChunk);
    EntryResult result = EntryResult::kWritten;
    for (;;) {
        // Only the bytes that the decompressor delivered are written and counted, whatever
        // size the entry's header declares.
        int n = unzReadCurrentFile(zf, chunk.data(), kChunk);
        if (n == 0)
            break;
        if (n < 0) {
            log(0, "Zip", "unzip", "Cannot read entry: " + target);
            result = EntryResult::kFailed;
            break;
        }
        if (static_cast<uint64_t>(n) > budget) {
            result = EntryResult::kTooLarge;
            break;
        }
        budget -= static_cast<uint64_t>(n);
        try {
            out.write(chunk.data(), n);
        } catch (const EFile& e) {
            TESSEL_LOG_CATCH(e);
            result = EntryResult::kFailed;
            break;
        }
    }
    // Reports a checksum mismatch once the whole entry was read.
    if (unzCloseCurrentFile(zf) != UNZ_OK && result == EntryResult::kWritten) {
        log(0, "Zip", "unzip", "Cannot read entry: " + target);
        result = EntryResult::kFailed;
    }
    return result;
}

String decimal(uint64_t value) {
    return String::copy(std::to_string(value));
}

// A ZIP archive without entries is nothing but its end record (22 bytes and a comment of at
// most 65535), which the ZIP library refuses to open: recognise it here so that an empty
// archive is told apart from a file that is not an archive at all.
bool isEmptyArchive(const String& path) {
    constexpr uint32_t kEndRecord = 22;
    File file;
    if (!file.open(path, File::kRead))
        return false;
    int size = file.available();
    if (size < static_cast<int>(kEndRecord) || size > static_cast<int>(kEndRecord) + 65535) {
        return false;
    }
    unsigned char b[kEndRecord];
    file.read(b, static_cast<int>(kEndRecord));
    uint32_t entries = b[10] | (b[11] << 8);
    uint32_t comment = b[20] | (b[21] << 8);
    return b[0] == 'P' && b[1] == 'K' && b[2] == 5 && b[3] == 6 && entries == 0 &&
           kEndRecord + comment == static_cast<uint32_t>(size);
}

}  // namespace

String sanitizeEntryName(const String& name) {
    static const char* const kClimbs[] = {"\\..\\", "\\../", "/../", "/..\\"};
    String result = name;
    for (bool changed = true; changed;) {
        changed = false;
        if (result.length() >= 2 && result[1] == ':') {
            result = result.substring(2);
            changed = true;
        }
        if (result.startsWith("\\") || result.startsWith("/")) {
            result = result.substring(1);
            changed = true;
        }
        for (const char* climb : kClimbs) {
            uint32_t at = result.find(String(climb));
            if (at != String::npos) {
                result = result.substring(at + static_cast<uint32_t>(std::strlen(climb)));
                changed = true;
                break;
            }
        }
    }
    return result;
}

bool climbsOut(const String& sanitizedName) {
    String name = sanitizedName.replace('\\', '/');
    if (name.startsWith("/"))
        return true;
    uint32_t start = 0;
    for (;;) {
        uint32_t slash = name.find('/', start);
        uint32_t end = slash == String::npos ? name.length() : slash;
        if (name.substring(start, end - start) == "..")
            return true;
        if (slash == String::npos)
            return false;
        start = slash + 1;
    }
}

bool unzip(const String& archive, const String& destination, const UnpackLimits& limits) {
    if (!isFile(archive))
        return false;
    try {
        createDirectories(destination);
    } catch (const EFile&) {
        // Usually it exists already; if it cannot be made, the entries will say so.
    }

    ArchiveHandle zip{unzOpen64(archive.replace('\\', '/').c_str())};
    if (!zip.file) {
        if (isEmptyArchive(archive))
            return false;
        log(2, "Zip", "unzip", "Cannot open zip file: " + archive);
        TESSEL_THROW(EZip);
    }
    if (unzGoToFirstFile(zip.file) != UNZ_OK)
        return false;  // no entries

    String base = destination.replace('\\', '/');
    bool error = false;    // stops the extraction
    bool skipped = false;  // an unsafe entry was left out
    uint64_t budget = limits.maxBytes;
    uint64_t entries = 0;
    int more = UNZ_OK;
    for (; more == UNZ_OK; more = unzGoToNextFile(zip.file)) {
        if (++entries > limits.maxEntries) {
            log(2, "Zip", "unzip",
                "Archive " + archive + " holds more than " + decimal(limits.maxEntries) +
                    " entries: extraction stopped");
            TESSEL_THROW(EZip);
        }
        String stored;
        if (!currentEntryName(zip.file, stored)) {
            log(0, "Zip", "unzip", "Cannot read entry in " + archive);
            error = true;
            break;
        }
        String name = sanitizeEntryName(stored);
        if (climbsOut(name)) {
            log(2, "Zip", "unzip", "Unsafe entry name skipped: " + stored);
            skipped = true;
            continue;
        }
        String target = base + "/" + name.replace('\\', '/');

        if (target.endsWith("/")) {
            makeFolder(target);
            continue;
        }
        makeFolder(getParentFolder(target));
        // Whatever stands at the target goes first; a link is removed, never followed.
        if (!isDirectory(target))
            tryDeleteFile(target);
        File out;
        if (!out.open(target, File::kWrite)) {
            log(0, "Zip", "unzip", "Cannot create file: " + target);
            error = true;
            break;
        }
        EntryResult written = inflateEntry(zip.file, out, target, budget);
        out.close();
        if (written == EntryResult::kTooLarge) {
            // A partial entry is never left behind.
            tryDeleteFile(target);
            log(2, "Zip", "unzip",
                "Archive " + archive + " unpacks to more than " + decimal(limits.maxBytes) +
                    " bytes: extraction stopped");
            TESSEL_THROW(EZip);
        }
        if (written == EntryResult::kFailed) {
            error = true;
            break;
        }
    }
    // A damaged central directory ends the walk early: that is a failure too.
    if (!error && more != UNZ_END_OF_LIST_OF_FILE) {
        log(0, "Zip", "unzip", "Cannot read entry in " + archive);
        error = true;
    }
    return !error && !skipped;
}

}  // namespace zlib
}  // namespace tessel
