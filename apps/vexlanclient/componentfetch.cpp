#include "vexlanclient/componentfetch.h"

#include "base/console.h"
#include "base/file.h"
#include "tls/evpdigest.h"
#include "vexlanclient/readahead.h"

using tessel::String;

void checkDownloadFileName(const String& filename) {
    bool bad = filename.isEmpty() || filename.startsWith(".") ||
               filename.findFirstOf("/\\", 2, 0) != String::npos ||
               filename.find('\0') != String::npos;
    if (bad) {
        tessel::log(2, "DownloadManager", "fetchFromConfig",
                    "Refusing file name outside the component folder: \"" + filename + "\"");
        TESSEL_THROW(tessel::EClientConfiguration);
    }
}

String fileMd5Hex(const String& path) {
    tessel::File file;
    file.open(path, tessel::File::kRead);  // unopened, it has nothing available
    ReadAheadReader reader(file);
    tessel::tls::EVPDigest md5("md5");
    return md5.digestAll(reader).hex();
}

bool isReusableDownload(const String& path, const String& md5) {
    return !md5.isEmpty() && tessel::isFile(path) && fileMd5Hex(path) == md5;
}
