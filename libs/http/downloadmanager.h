// Downloads into files through the transfer session.
#pragma once

#include "base/string.h"

namespace tessel {
namespace http {

class CurlSession;

namespace DownloadManager {

// Downloads `url` into the file `path`, creating its folder when missing. A relative `url`
// (no authority) is fetched with https from the session's gateway authority; a `url` without
// a scheme is fetched with https. A `url` with any scheme but https is refused before
// anything is created or sent. True only when the transfer completed with status 200. A body
// longer than the session's maxDownload() fails and its partial file is removed; after any
// other failure the (possibly partial) file stays where it is. Every failure is logged at
// level ERROR. Raises UriComponentException for a `url` that is not a URI, and what the
// session's proxyFor raises.
bool downloadFileTo(CurlSession& session, const String& url, const String& path);

}  // namespace DownloadManager
}  // namespace http
}  // namespace tessel
