#include "qiv_repo/parallel_md5.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>

#include "core/support/error.h"
#include "core/support/md5.h"
#include "platform/files.h"

namespace qiv_start::repo {
namespace {

TFileDigest digest_of(const std::string& path, bool with_sha256) {
    try {
        core::TDigestPair digests = core::get_file_digests(path, with_sha256);
        return {std::move(digests.md5), {}, std::move(digests.sha256)};
    } catch (const core::TError& failure) {
        return {{}, failure.what(), {}};
    }
}

}  // namespace

std::vector<TFileDigest> digest_files(const std::vector<std::string>& paths, unsigned threads,
                                      bool with_sha256) {
    std::vector<TFileDigest> results(paths.size());
    // Largest first, so that no core is left with one big file at the end.
    std::vector<std::size_t> order(paths.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::vector<std::int64_t> sizes(paths.size());
    std::transform(paths.begin(), paths.end(), sizes.begin(), platform::file_size);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < order.size(); i = next++)
            results[order[i]] = digest_of(paths[order[i]], with_sha256);
    };
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(std::min<std::size_t>(threads, paths.size()));
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads; ++t)
        workers.emplace_back(work);
    work();
    for (auto& worker : workers)
        worker.join();
    return results;
}

}  // namespace qiv_start::repo
