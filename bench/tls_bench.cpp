// The component pipeline of the client: MD5 of the downloaded archive, extraction, SHA-256
// of the library and the RSA signature check, for a 50 MB library in a ~20 MB archive,
// against the command-line tools doing the same work (md5sum, unzip, sha256sum,
// openssl dgst -verify). Each step is also measured alone against its tool.
//
// Wall-clock time throughout: the tools' work happens in child processes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "base/base64.h"
#include "base/file.h"
#include "tls/rsa.h"
#include "vexlanclient/componentfetch.h"
#include "vexlanclient/signeddll.h"
#include "zlib/zip.h"
#include "zlib/zipwriter.h"

namespace fs = std::filesystem;
using tessel::String;

namespace {

constexpr size_t kLibraryBytes = 50u << 20;

struct Fixture {
    std::string dir;
    std::string archive;
    std::string publicPem;
    String pem;
    std::string md5;

    Fixture() {
        dir = (fs::temp_directory_path() / "vexlan-tls-bench").string();
        fs::remove_all(dir);
        fs::create_directories(dir + "/src");
        std::string library = dir + "/src/vpn";

        // 40% random bytes and 60% text per kilobyte: deflates to about 20 MB.
        std::FILE* out = std::fopen(library.c_str(), "wb");
        std::mt19937 random(7);
        std::string block(1024, '\0');
        for (size_t done = 0; done < kLibraryBytes; done += block.size()) {
            for (size_t i = 0; i < 410; ++i)
                block[i] = static_cast<char>(random());
            for (size_t i = 410; i < block.size(); ++i)
                block[i] = "component library text "[i % 23];
            std::fwrite(block.data(), 1, block.size(), out);
        }
        std::fclose(out);

        tessel::tls::RSA key;
        key.generate(2048);
        SignedDll record;
        record.m_infos.m_version = "2.4.1";
        record.m_infos.m_name = "vpn";
        record.m_infos.m_signdate = "2024-05-06";
        record.sign(key, String::copy(library));
        std::string sig =
            "<dll>\r\n <version>2.4.1</version>\r\n <name>vpn</name>\r\n"
            " <signdate>2024-05-06</signdate>\r\n <sha256>" +
            record.m_infos.m_sha256.toStd() + "</sha256>\r\n <signature>" +
            record.m_signature.toStd() + "</signature>\r\n</dll>";

        archive = dir + "/vpn.zip";
        tessel::zlib::ZipWriter zip;
        zip.open(String::copy(archive));
        zip.addFile("vpn", String::copy(library));
        zip.add("vpn.sig", sig.data(), static_cast<uint32_t>(sig.size()));
        zip.close();

        // What the tools check: the signed message and the raw signature.
        pem = key.publicKeyPem();
        publicPem = dir + "/public.pem";
        write(publicPem, pem.toStd());
        write(dir + "/message", record.signedMessage().toStd());
        tessel::Buffer raw = tessel::base64Decode(record.m_signature);
        write(dir + "/signature.bin",
              std::string(reinterpret_cast<const char*>(raw.data()), raw.length()));
        md5 = fileMd5Hex(String::copy(archive)).toStd();
        std::fprintf(stderr, "library %zu bytes, archive %ju bytes\n", kLibraryBytes,
                     static_cast<uintmax_t>(fs::file_size(archive)));
    }
    ~Fixture() { fs::remove_all(dir); }

    static void write(const std::string& path, const std::string& content) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void shell(benchmark::State& state, const std::string& command) {
    if (std::system(command.c_str()) != 0)
        state.SkipWithError(command.c_str());
}

void BM_ClientPipeline(benchmark::State& state) {
    Fixture& f = fixture();
    String dest = String::copy(f.dir + "/client");
    for (auto _ : state) {
        if (fileMd5Hex(String::copy(f.archive)).toStd() != f.md5 ||
            !tessel::zlib::unzip(String::copy(f.archive), dest)) {
            state.SkipWithError("pipeline failed");
            break;
        }
        verifyComponentSignature(dest + "/vpn", dest + "/vpn.sig", f.pem);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLibraryBytes));
}

void BM_CommandLineTools(benchmark::State& state) {
    Fixture& f = fixture();
    std::string d = f.dir;
    std::string command = "md5sum " + f.archive + " >/dev/null && unzip -oqq " + f.archive +
                          " -d " + d + "/tools && sha256sum " + d +
                          "/tools/vpn >/dev/null && "
                          "openssl dgst -sha1 -verify " +
                          f.publicPem + " -signature " + d + "/signature.bin " + d +
                          "/message >/dev/null";
    for (auto _ : state)
        shell(state, command);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kLibraryBytes));
}

void BM_ClientMd5(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        benchmark::DoNotOptimize(fileMd5Hex(String::copy(f.archive)));
}

void BM_Md5sum(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        shell(state, "md5sum " + f.archive + " >/dev/null");
}

void BM_ClientUnzip(benchmark::State& state) {
    Fixture& f = fixture();
    String dest = String::copy(f.dir + "/client");
    for (auto _ : state)
        benchmark::DoNotOptimize(tessel::zlib::unzip(String::copy(f.archive), dest));
}

void BM_UnzipCommand(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        shell(state, "unzip -oqq " + f.archive + " -d " + f.dir + "/tools");
}

void BM_ClientSha256(benchmark::State& state) {
    Fixture& f = fixture();
    String library = String::copy(f.dir + "/src/vpn");
    for (auto _ : state)
        benchmark::DoNotOptimize(SignedDll::hashFile(library));
}

void BM_Sha256sum(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state)
        shell(state, "sha256sum " + f.dir + "/src/vpn >/dev/null");
}

}  // namespace

BENCHMARK(BM_ClientPipeline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CommandLineTools)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ClientMd5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ClientUnzip)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_UnzipCommand)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ClientSha256)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_Sha256sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
