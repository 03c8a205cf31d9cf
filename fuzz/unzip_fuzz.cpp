// ZIP extraction: unzip of arbitrary bytes into a scratch folder nested three levels below
// the fuzzer's own folder. Whatever the entry names, nothing may appear outside the
// destination (beside the archive itself), nothing may be created as a symbolic link, and
// the files below it never hold more than the unpack limit, whatever the headers declare.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "base/exception.h"
#include "fuzz_support.h"
#include "zlib/zip.h"

namespace fs = std::filesystem;

namespace {

struct Layout {
    fs::path root;         // removed and made again for every input
    fs::path archive;      // root/archive.zip
    fs::path destination;  // root/a/b/c/dest
};

// Small, so that a bomb among the inputs shows at once.
constexpr uint64_t kMaxBytes = 64 * 1024;

const Layout& layout() {
    static const Layout l = [] {
        fs::path root = vexlan::fuzz::scratchFolder() / "unzip";
        return Layout{root, root / "archive.zip", root / "a" / "b" / "c" / "dest"};
    }();
    return l;
}

bool isSymlink(const fs::path& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Everything below the root: the archive, the folders that lead to the destination, and
// what lies below the destination (plain files and folders only).
void checkTree(const Layout& l) {
    const std::string dest = l.destination.string() + "/";
    std::error_code ec;
    uint64_t unpacked = 0;
    fs::recursive_directory_iterator it(l.root, fs::directory_options::none, ec);
    FUZZ_CHECK(!ec);
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        FUZZ_CHECK(!ec);
        const fs::path& path = it->path();
        FUZZ_CHECK(!isSymlink(path));
        const std::string p = path.string();
        bool inside = p.compare(0, dest.size(), dest) == 0;
        if (inside && it->is_regular_file(ec))
            unpacked += it->file_size(ec);
        bool allowed = inside || path == l.archive || path == l.destination ||
                       path == l.root / "a" || path == l.root / "a" / "b" ||
                       path == l.root / "a" / "b" / "c";
        if (!allowed)
            std::fprintf(stderr, "written outside the destination: %s\n", p.c_str());
        FUZZ_CHECK(allowed);
    }
    FUZZ_CHECK(unpacked <= kMaxBytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vexlan::fuzz::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Layout& l = layout();
    std::error_code ec;
    fs::remove_all(l.root, ec);
    fs::create_directories(l.destination, ec);
    FUZZ_CHECK(!ec);
    vexlan::fuzz::writeBytes(l.archive, data, size);

    tessel::zlib::UnpackLimits limits;
    limits.maxBytes = kMaxBytes;
    limits.maxEntries = 64;
    try {
        tessel::zlib::unzip(vexlan::fuzz::toString(l.archive),
                            vexlan::fuzz::toString(l.destination), limits);
    } catch (const tessel::zlib::EZip&) {
        // not a ZIP archive, or past the limits
    }
    checkTree(l);
    return 0;
}
