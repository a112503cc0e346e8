// Planning a synchronisation: reading the files' entries and ordering the ones that touch the same
// paths, for terminals of many files (target: 100,000 files in under 0.5 s).
//   plan_bench [benchmark flags]
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "core/terminal/sync_plan.h"
#include "support/scripted_config.h"

namespace {

using namespace qiv_start::core;

// Files spread over a few hundred folders two and three levels deep, as a large terminal lays
// them out; every hundredth is an archive extracted into its folder.
TFileConfigs terminal_files(std::size_t count) {
    TFileConfigs files;
    files.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::string folder = "dane\\grupa" + std::to_string(i % 97);
        if (i % 3 == 0)
            folder += "\\pod" + std::to_string(i % 7);
        const bool archive = i % 100 == 0;
        const std::string name = "plik" + std::to_string(i) + (archive ? ".zip" : ".dll");
        files.push_back(std::make_shared<qiv_start::test::TScriptedFile>(
            name, folder, "0123456789ABCDEF0123456789ABCDEF", archive));
    }
    return files;
}

void plan(benchmark::State& state) {
    const TFileConfigs files = terminal_files(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::vector<TPlannedFile> planned;
        planned.reserve(files.size());
        for (const auto& file : files)
            planned.push_back(plan_file(file));
        benchmark::DoNotOptimize(predecessors(planned));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(plan)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
