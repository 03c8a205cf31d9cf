#include "http/downloadmanager.h"

#include "base/console.h"
#include "base/file.h"
#include "http/curlsession.h"
#include "http/uri.h"

namespace tessel {
namespace http {
namespace DownloadManager {

bool downloadFileTo(CurlSession& session, const String& url, const String& path) {
    // A bare file name has no folder to create (the parent of "a.zip" is "a.zip" itself).
    String normal = path.replace('\\', '/');
    if (normal.findLast('/') != String::npos) {
        try {
            ensureDirectory(getParentFolder(normal));
        } catch (const Exception& e) {
            TESSEL_LOG_CATCH(e);  // opening the file fails next and says so
        }
    }
    log(0, "DownloadManager", "downloadFileTo", url + " -> " + path);

    // Percent-encodings stay as they are: a decoded path would be sent with raw blanks.
    Uri uri(url, false);
    if (uri.getAuthority().isEmpty()) {
        uri.setScheme("https");
        uri.setAuthority(session.gatewayAuthority());
    }
    String address = uri.toString();

    File file;
    if (!file.open(path, File::kWrite)) {
        log(2, "DownloadManager", "downloadFileTo", "Cannot open file \"" + path + "\"");
        return false;
    }
    RequestInfo info;
    bool ok = CurlSession::requestToFile(&info, session, address, file) && info.statusCode() == 200;
    file.close();
    if (!ok) {
        log(2, "DownloadManager", "downloadFileTo",
            "Error while downloding '" + path + "' from '" + address + "'");
        return false;
    }
    return true;
}

}  // namespace DownloadManager
}  // namespace http
}  // namespace tessel
