// Downloads one URL into one file with DownloadManager::downloadFileTo, for the download
// benchmark (download_bench.sh): "download_driver <url> <path>". Certificates are not checked
// (the benchmark's server has a self-signed one). Prints the seconds the download took.
#include <chrono>
#include <cstdio>

#include "base/console.h"
#include "http/curlsession.h"
#include "http/downloadmanager.h"

namespace {

class BenchSession : public tessel::http::CurlSession {
public:
    bool verifyCertificate(const tessel::String&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <url> <path>\n", argv[0]);
        return 2;
    }
    for (int level = 0; level < 4; ++level)
        tessel::setOutput(level, "null");
    BenchSession session;
    auto start = std::chrono::steady_clock::now();
    bool ok = tessel::http::DownloadManager::downloadFileTo(session, argv[1], argv[2]);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("seconds=%.3f\n", elapsed.count());
    return ok ? 0 : 1;
}
