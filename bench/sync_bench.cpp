// Synchronises one terminal from a repository and prints how long it took and the peak memory.
//
//   sync_bench BASE_URL WORK_DIR TERMINAL_CODE
//
// Prints "seconds=<s> peak_kib=<KiB>". Run by bench/run-sync, which prepares the repository.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "core/config/config_prod.h"
#include "core/download/downloader_prod.h"
#include "core/terminal/controller_prod.h"

namespace {

using namespace qiv_start::core;

class TSilentListener : public TCoreListener {
  public:
    void notify(const TCoreMessage& messageContent) override {
        if (messageContent.get_type().is_equals(error)) {
            std::fprintf(stderr, "%s\n", messageContent.to_string().c_str());
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sync_bench BASE_URL WORK_DIR TERMINAL_CODE\n");
        return 2;
    }
    std::filesystem::current_path(argv[2]);
    auto listener = std::make_shared<TSilentListener>();
    const std::vector<std::string> servers{argv[1]};
    auto pool = std::make_shared<TConnectionPool>();
    auto downloader = std::make_shared<TDownloaderProd>(listener, servers, pool);
    auto config = std::make_shared<TConfigProd>(listener, downloader, servers);
    TDownloaderMaker make_downloader = [&](std::shared_ptr<TCoreListener> record,
                                           std::stop_token stop) -> std::unique_ptr<TDownloader> {
        return std::make_unique<TDownloaderProd>(std::move(record), servers, pool, std::move(stop));
    };
    TControllerProd controller(downloader, config, TWorkstation::system(), false, make_downloader);
    controller.add_listener(listener);

    const auto start = std::chrono::steady_clock::now();
    controller.run_terminal(argv[3]);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds=%.3f peak_kib=%ld\n", elapsed.count(), usage.ru_maxrss);
    return 0;
}
