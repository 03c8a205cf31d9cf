#include "vexlanclient/verifieddownload.h"

#include "base/console.h"
#include "base/exception.h"
#include "base/file.h"
#include "http/downloadmanager.h"
#include "vexlanclient/componentfetch.h"

using tessel::String;

namespace vexlan {

bool downloadVerified(tessel::http::CurlSession& session, const String& url, const String& path,
                      const String& md5) {
    if (!tessel::http::DownloadManager::downloadFileTo(session, url, path))
        return false;
    if (md5.isEmpty())
        return true;
    String actual = fileMd5Hex(path);
    if (actual == md5)
        return true;
    tessel::log(
        2, "DownloadManager", "fetchFromConfig",
        "Downloaded file '" + path + "' has the MD5 " + actual + ", not " + md5 + ": removed");
    try {
        tessel::deleteFile(path);
    } catch (const tessel::Exception& e) {
        TESSEL_LOG_CATCH(e);
    }
    return false;
}

}  // namespace vexlan
