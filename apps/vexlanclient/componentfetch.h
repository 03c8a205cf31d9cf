// The local side of fetching a component file: the gateway's file name must name a file in
// the component folder, and a file already there is reused when its MD5 is the expected one.
// The transfer itself is DownloadManager's.
#pragma once

#include "base/exception.h"
#include "base/string.h"

// Refuses a file name that is not a plain name inside its folder: empty, containing "/",
// "\" or a zero byte, or starting with "." (which covers "." and ".."). Logs at ERROR
// ("DownloadManager", "fetchFromConfig") and raises EClientConfiguration. Runs before any
// transfer and before the local path is formed.
void checkDownloadFileName(const tessel::String& filename);

// The MD5 of the file's bytes as 32 lowercase hexadecimal digits, read through the file's
// reader in chunks of at most 1024 bytes (served from 64 KB reads of the file). A file that
// cannot be opened hashes as empty input.
tessel::String fileMd5Hex(const tessel::String& path);

// Whether the file at `path` can be used without a transfer: it exists, `md5` is not empty
// and equals the file's MD5 byte for byte.
bool isReusableDownload(const tessel::String& path, const tessel::String& md5);
