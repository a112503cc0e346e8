// One download of a large file through a link that breaks, as the launcher makes it: the
// downloader into a verified file stream, which takes only a copy with the expected MD5.
// Arguments: BASE_URL WORK_DIR FILE_NAME MD5. Prints whether the copy arrived, the time, and the
// attempts that the run log would name; exit code 0 only when the copy arrived whole.
#include <chrono>
#include <iostream>
#include <memory>
#include <string>

#include "core/download/downloader_prod.h"
#include "core/download/verified_file_stream.h"

namespace {

using namespace qiv_start::core;

class TCountingListener : public TCoreListener {
  public:
    void notify(const TCoreMessage& message) override {
        if (message.get_type().is_equals(detail) &&
            message.get_value().starts_with("Nieudana próba"))
            ++failed_attempts;
    }
    int failed_attempts = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: resume_bench BASE_URL WORK_DIR FILE_NAME MD5\n";
        return 2;
    }
    const std::string base_url = argv[1], work_dir = argv[2], name = argv[3], md5 = argv[4];
    const auto listener = std::make_shared<TCountingListener>();
    TDownloaderProd downloader(listener, {base_url});
    const auto start = std::chrono::steady_clock::now();
    TVerifiedFileStream stream(work_dir, work_dir + "/" + name, {md5, ""}, false);
    downloader.download_file_from_server(name, stream);
    const bool arrived = stream.is_verified();
    if (arrived)
        stream.commit();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::cout << "arrived " << (arrived ? "yes" : "no") << ", " << elapsed.count() << " s, "
              << listener->failed_attempts << " attempts broken off\n";
    return arrived ? 0 : 1;
}
