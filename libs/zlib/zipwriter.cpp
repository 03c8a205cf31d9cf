#include "zlib/zipwriter.h"

#include <minizip/zip.h>

#include <ctime>
#include <vector>

#include "base/clock.h"
#include "base/exception.h"
#include "base/file.h"

namespace tessel {
namespace zlib {
namespace {

constexpr int kChunk = 65536;
// "Version made by": Unix (3), so that readers take the mode from the external attributes.
constexpr uLong kMadeByUnix = (3u << 8) | 20u;

zipFile handle(void* zip) {
    return static_cast<zipFile>(zip);
}

}  // namespace

ZipWriter::ZipWriter() : m_zip(nullptr) {}

ZipWriter::~ZipWriter() {
    close();
}

bool ZipWriter::open(const String& path) {
    close();
    m_zip = zipOpen64(path.replace('\\', '/').c_str(), APPEND_STATUS_CREATE);
    return m_zip != nullptr;
}

bool ZipWriter::openEntry(const String& name, const EntryOptions& options) {
    if (!m_zip)
        return false;
    zip_fileinfo info{};
    WallClock now = wallClockNow();
    std::tm local{};
    localTime(now.seconds, &local);
    info.tmz_date.tm_sec = static_cast<uInt>(local.tm_sec);
    info.tmz_date.tm_min = static_cast<uInt>(local.tm_min);
    info.tmz_date.tm_hour = static_cast<uInt>(local.tm_hour);
    info.tmz_date.tm_mday = static_cast<uInt>(local.tm_mday);
    info.tmz_date.tm_mon = static_cast<uInt>(local.tm_mon);
    info.tmz_date.tm_year = static_cast<uInt>(local.tm_year + 1900);
    info.external_fa = static_cast<uLong>(options.unixMode) << 16;
    int method = options.deflate ? Z_DEFLATED : 0;
    int level = options.deflate ? Z_DEFAULT_COMPRESSION : 0;
    return zipOpenNewFileInZip4_64(handle(m_zip), name.c_str(), &info, nullptr, 0, nullptr, 0,
                                   nullptr, method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                                   Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByUnix, 0, 0) == ZIP_OK;
}

bool ZipWriter::closeEntry(bool ok) {
    return zipCloseFileInZip(handle(m_zip)) == ZIP_OK && ok;
}

bool ZipWriter::add(const String& name, const void* data, uint32_t length,
                    const EntryOptions& options) {
    if (!openEntry(name, options))
        return false;
    bool ok = length == 0 || zipWriteInFileInZip(handle(m_zip), data, length) == ZIP_OK;
    return closeEntry(ok);
}

bool ZipWriter::addFile(const String& name, const String& path, const EntryOptions& options) {
    File in;
    if (!m_zip || !in.open(path, File::kRead))
        return false;
    int left = in.available();
    if (!openEntry(name, options))
        return false;
    std::vector<unsigned char> chunk(kChunk);
    bool ok = true;
    try {
        while (ok && left > 0) {
            int n = left < kChunk ? left : kChunk;
            in.read(chunk.data(), n);
            ok = zipWriteInFileInZip(handle(m_zip), chunk.data(), static_cast<unsigned>(n)) ==
                 ZIP_OK;
            left = in.available();
        }
    } catch (const EFile&) {
        ok = false;
    }
    return closeEntry(ok);
}

bool ZipWriter::close() {
    if (!m_zip)
        return false;
    bool ok = zipClose(handle(m_zip), nullptr) == ZIP_OK;
    m_zip = nullptr;
    return ok;
}

}  // namespace zlib
}  // namespace tessel
