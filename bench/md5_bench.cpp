// Throughput of get_file_md5 on one large file.
//   md5_bench FILE [benchmark flags]   measures repeated hashes of FILE
//   md5_bench --once FILE              hashes FILE once and prints the digest, so that the
//                                      whole process can be timed and its peak memory read
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "core/support/md5.h"

namespace {

void hash_file(benchmark::State& state, const std::string& file) {
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(file));
    for (auto _ : state)
        benchmark::DoNotOptimize(qiv_start::core::get_file_md5(file));
    state.SetBytesProcessed(state.iterations() * size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--once") {
        std::printf("%s\n", qiv_start::core::get_file_md5(argv[2]).c_str());
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [benchmark flags] | --once FILE\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1];
    benchmark::RegisterBenchmark("get_file_md5", hash_file, file)->Unit(benchmark::kMillisecond);
    argv[1] = argv[0];
    int rest = argc - 1;
    benchmark::Initialize(&rest, argv + 1);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
