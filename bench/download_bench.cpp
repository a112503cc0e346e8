// Downloads through TDownloaderProd from a real HTTP server: a large file into a file stream
// (throughput, compared with the curl tool's time for the same URL) and a small file into memory
// (the cost of one whole download). Arguments: BASE_URL WORK_DIR [CURL_SECONDS]; the server
// must serve "large.bin" and "small.bin".
#include <benchmark/benchmark.h>

#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "core/download/downloader_prod.h"
#include "core/download/file_stream.h"

namespace {

using namespace qiv_start::core;

std::string g_base_url;
std::string g_work_dir;
double g_curl_seconds = 0;

class TQuietListener : public TCoreListener {
  public:
    void notify(const TCoreMessage&) override {}
};

TDownloaderProd make_downloader() {
    return TDownloaderProd(std::make_shared<TQuietListener>(), {g_base_url});
}

void BM_LargeFileIntoFileStream(benchmark::State& state) {
    TDownloaderProd downloader = make_downloader();
    std::int64_t bytes = 0;
    double seconds = 0;
    for (auto _ : state) {
        TFileStream stream(g_work_dir + "/large.bin");
        const auto start = std::chrono::steady_clock::now();
        downloader.download_file_from_server("large.bin", stream);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        if (stream.get_size() == 0)
            state.SkipWithError("nothing was downloaded");
        bytes += stream.get_size();
        seconds += elapsed.count();
    }
    state.SetBytesProcessed(bytes);
    if (g_curl_seconds > 0 && seconds > 0) {
        // Above 1 means faster than the curl tool.
        state.counters["ratio_to_curl"] = g_curl_seconds / (seconds / state.iterations());
    }
}
// One download per run: bench/run-download alternates runs with the curl tool's.
BENCHMARK(BM_LargeFileIntoFileStream)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

void BM_SmallFileIntoMemory(benchmark::State& state) {
    TDownloaderProd downloader = make_downloader();
    for (auto _ : state) {
        TMemoryStream stream;
        downloader.download_file_from_server("small.bin", stream);
        if (stream.get_size() != 1024)
            state.SkipWithError("the small file did not arrive");
    }
}
BENCHMARK(BM_SmallFileIntoMemory)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc < 3) {
        std::cerr << "usage: " << argv[0]
                  << " BASE_URL WORK_DIR [CURL_SECONDS] [benchmark flags]\n";
        return 2;
    }
    g_base_url = argv[1];
    g_work_dir = argv[2];
    if (argc > 3)
        g_curl_seconds = std::stod(argv[3]);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
