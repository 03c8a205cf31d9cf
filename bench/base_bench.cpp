// The base library against the standard library: concatenation, copies and slices of
// String, the block pool, Array appends, and the log.
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/array.h"
#include "base/console.h"
#include "base/memoryblock.h"
#include "base/string.h"

using tessel::String;

namespace {

// Large arrays come and go in these benchmarks. Left to itself, glibc hands the first large
// blocks back to the system and faults fresh pages in for the next ones, so whichever
// benchmark runs first pays for page faults (they dominate on a virtual machine). Keeping
// freed memory in the heap measures the containers instead of the kernel.
const bool kSteadyHeap = [] {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    return true;
}();

// Pieces of a typical log or URL text: short literals and owned texts of a few bytes.
std::vector<std::string> stdPieces(int count) {
    std::vector<std::string> pieces;
    for (int i = 0; i < count; ++i) {
        pieces.push_back(i % 2 ? "piece-" + std::to_string(i) : std::string("/segment/"));
    }
    return pieces;
}

std::vector<String> stringPieces(int count) {
    std::vector<String> pieces;
    for (const std::string& piece : stdPieces(count))
        pieces.push_back(String::copy(piece));
    return pieces;
}

void BM_ConcatString8(benchmark::State& state) {
    std::vector<String> p = stringPieces(8);
    for (auto _ : state) {
        String joined = p[0] + p[1] + p[2] + p[3] + p[4] + p[5] + p[6] + p[7];
        benchmark::DoNotOptimize(joined.data());
    }
}
BENCHMARK(BM_ConcatString8);

void BM_ConcatStdString8(benchmark::State& state) {
    std::vector<std::string> p = stdPieces(8);
    for (auto _ : state) {
        std::string joined;
        joined.reserve(p[0].size() + p[1].size() + p[2].size() + p[3].size() + p[4].size() +
                       p[5].size() + p[6].size() + p[7].size());
        joined += p[0];
        joined += p[1];
        joined += p[2];
        joined += p[3];
        joined += p[4];
        joined += p[5];
        joined += p[6];
        joined += p[7];
        benchmark::DoNotOptimize(joined.data());
    }
}
BENCHMARK(BM_ConcatStdString8);

void BM_ConcatString64(benchmark::State& state) {
    std::vector<String> p = stringPieces(64);
    for (auto _ : state) {
        tessel::StringAddition addition = p[0] + p[1];
        for (size_t i = 2; i < p.size(); ++i)
            static_cast<void>(std::move(addition) + p[i]);
        String joined = addition;
        benchmark::DoNotOptimize(joined.data());
    }
}
BENCHMARK(BM_ConcatString64);

void BM_ConcatStdString64(benchmark::State& state) {
    std::vector<std::string> p = stdPieces(64);
    for (auto _ : state) {
        size_t total = 0;
        for (const std::string& piece : p)
            total += piece.size();
        std::string joined;
        joined.reserve(total);
        for (const std::string& piece : p)
            joined += piece;
        benchmark::DoNotOptimize(joined.data());
    }
}
BENCHMARK(BM_ConcatStdString64);

// What a concatenation cannot do without: each named piece is held by a counted share from
// the moment it is added until the expression ends (so that a stored concatenation stays
// valid whatever later happens to its pieces). These take and release those shares alone,
// copying no byte: the floor under BM_ConcatString8 and BM_ConcatString64.
void BM_SharePieces(benchmark::State& state) {
    std::vector<String> p = stringPieces(static_cast<int>(state.range(0)));
    std::vector<String> held(p.size());
    for (auto _ : state) {
        for (size_t i = 0; i < p.size(); ++i)
            held[i] = p[i];
        for (String& piece : held)
            piece = String();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SharePieces)->Arg(1)->Arg(8)->Arg(64);

// A number as a piece: its text lives in a counted pooled block of its own.
void BM_NumberString(benchmark::State& state) {
    int32_t code = 404;
    for (auto _ : state) {
        String number(code);
        benchmark::DoNotOptimize(number.data());
    }
}
BENCHMARK(BM_NumberString);

void BM_NumberStdString(benchmark::State& state) {
    int32_t code = 404;
    for (auto _ : state) {
        std::string number = std::to_string(code);
        benchmark::DoNotOptimize(number.data());
    }
}
BENCHMARK(BM_NumberStdString);

// The shape of a log message: literals, one named text and a number.
void BM_ConcatStringMessage(benchmark::State& state) {
    String url = String::copy(std::string("https://gateway.example/components/vpn.zip"));
    int32_t code = 404;
    for (auto _ : state) {
        String message = "download of " + url + " failed: " + String(code) + " from the server";
        benchmark::DoNotOptimize(message.data());
    }
}
BENCHMARK(BM_ConcatStringMessage);

void BM_ConcatStdStringMessage(benchmark::State& state) {
    std::string url = "https://gateway.example/components/vpn.zip";
    int32_t code = 404;
    for (auto _ : state) {
        std::string number = std::to_string(code);
        std::string message;
        message.reserve(12 + url.size() + 9 + number.size() + 16);
        message += "download of ";
        message += url;
        message += " failed: ";
        message += number;
        message += " from the server";
        benchmark::DoNotOptimize(message.data());
    }
}
BENCHMARK(BM_ConcatStdStringMessage);

// Texts of 100 and 1000 bytes: both longer than any small-string buffer.
void BM_CopyString(benchmark::State& state) {
    String text = String::copy(std::string(static_cast<size_t>(state.range(0)), 'x'));
    for (auto _ : state) {
        String copy = text;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CopyString)->Arg(100)->Arg(1000);

void BM_CopyStdString(benchmark::State& state) {
    std::string text(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        std::string copy = text;
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_CopyStdString)->Arg(100)->Arg(1000);

// The middle 60 % of the text.
void BM_SliceString(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    String text = String::copy(std::string(size, 'x'));
    for (auto _ : state) {
        String slice = text.substring(size / 5, size * 3 / 5);
        benchmark::DoNotOptimize(slice.data());
    }
}
BENCHMARK(BM_SliceString)->Arg(100)->Arg(1000);

void BM_SliceStdString(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    std::string text(size, 'x');
    for (auto _ : state) {
        std::string slice = text.substr(size / 5, size * 3 / 5);
        benchmark::DoNotOptimize(slice.data());
    }
}
BENCHMARK(BM_SliceStdString)->Arg(100)->Arg(1000);

// Take and return one block of the given size, as a String's storage does.
void BM_PoolBlock(benchmark::State& state) {
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        tessel::MemoryBlock* block = tessel::MemoryBlock::obtain(size);
        benchmark::DoNotOptimize(block->data());
        block->dispose();
    }
}
BENCHMARK(BM_PoolBlock)->Arg(64)->Arg(1024)->Threads(1)->Threads(2);

void BM_MallocFree(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        void* block = std::malloc(size);
        benchmark::DoNotOptimize(block);
        std::free(block);
    }
}
BENCHMARK(BM_MallocFree)->Arg(64)->Arg(1024)->Threads(1)->Threads(2);

constexpr int kAppends = 1000000;

template <class MutexType>
void BM_ArrayAppend(benchmark::State& state) {
    for (auto _ : state) {
        tessel::Array<int, MutexType> array;
        for (int i = 0; i < kAppends; ++i)
            array.append(i);
        benchmark::DoNotOptimize(array.snapshot().get());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}
BENCHMARK_TEMPLATE(BM_ArrayAppend, tessel::NoMutex)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_ArrayAppend, tessel::InternalMutex)->Unit(benchmark::kMillisecond);

void BM_VectorPushBack(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<int> vector;
        for (int i = 0; i < kAppends; ++i)
            vector.push_back(i);
        benchmark::DoNotOptimize(vector.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}
BENCHMARK(BM_VectorPushBack)->Unit(benchmark::kMillisecond);

// A text built one byte at a time (a reader collecting characters).
void BM_AppendByteByByte(benchmark::State& state) {
    for (auto _ : state) {
        String text;
        for (int64_t i = 0; i < state.range(0); ++i)
            text.append('x');
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_AppendByteByByte)->Arg(1 << 16);

void BM_StdAppendByteByByte(benchmark::State& state) {
    for (auto _ : state) {
        std::string text;
        for (int64_t i = 0; i < state.range(0); ++i)
            text.push_back('x');
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_StdAppendByteByByte)->Arg(1 << 16);

// One log line to a file (every line also goes to standard output, sent to /dev/null here).
void BM_LogLineToFile(benchmark::State& state) {
    std::string path = (std::filesystem::temp_directory_path() / "vexlan-bench.log").string();
    tessel::Console console;
    console.setOutput(1, path.c_str());
    std::fflush(stdout);
    int savedStdout = dup(1);
    int devNull = open("/dev/null", O_WRONLY);
    dup2(devNull, 1);
    String className("ClientThread");
    String method("main");
    String message("request sent to the gateway, waiting for the answer");
    for (auto _ : state)
        console.log(1, className, method, message);
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    close(devNull);
    console.setOutput(1, "null");
    std::filesystem::remove(path);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogLineToFile);

}  // namespace

BENCHMARK_MAIN();
