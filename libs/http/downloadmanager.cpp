#include "http/downloadmanager.h"

#include "base/console.h"
#include "base/file.h"
#include "http/curlsession.h"
#include "http/uri.h"

namespace tessel {
namespace http {
namespace DownloadManager {

namespace {

// A download cut off at the cap must not stay where a component would be looked for.
void removeQuietly(const String& path) {
    try {
        if (isFile(path))
            deleteFile(path);
    } catch (const Exception& e) {
        TESSEL_LOG_CATCH(e);
    }
}

}  // namespace

bool downloadFileTo(CurlSession& session, const String& url, const String& path) {
    // Percent-encodings stay as they are: a decoded path would be sent with raw blanks.
    Uri uri(url, false);
    if (!isHttpsOrRelative(uri)) {
        log(2, "DownloadManager", "downloadFileTo",
            "Refusing the scheme \"" + uri.getScheme() + "\" of '" + url + "' for '" + path +
                "': only https is allowed");
        return false;
    }
    // A relative address (no authority) is the gateway's; one without a scheme is https.
    if (uri.getAuthority().isEmpty())
        uri.setAuthority(session.gatewayAuthority());
    uri.setScheme("https");
    String address = uri.toString();

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
        if (info.code() == CurlEasyWrapper::kResultTooLarge)
            removeQuietly(path);
        return false;
    }
    return true;
}

}  // namespace DownloadManager
}  // namespace http
}  // namespace tessel
