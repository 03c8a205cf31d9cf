// A download checked against the digest its record gives: what arrives with another MD5 is
// not kept, so that neither a damaged transfer nor a substituted file is ever used.
#pragma once

#include "base/string.h"

namespace tessel {
namespace http {
class CurlSession;
}
}  // namespace tessel

namespace vexlan {

// Downloads `url` into `path` (DownloadManager::downloadFileTo, which logs its own failures).
// When `md5` is not empty, the file's MD5 must then equal it (32 lowercase hexadecimal
// digits); otherwise the file is removed and log(2, "DownloadManager", "fetchFromConfig", ...)
// names it. True when the file is there and matches.
bool downloadVerified(tessel::http::CurlSession& session, const tessel::String& url,
                      const tessel::String& path, const tessel::String& md5);

}  // namespace vexlan
