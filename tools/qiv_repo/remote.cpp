#include "qiv_repo/remote.h"

#include <chrono>

#include "core/download/download_thread.h"
#include "core/support/ascii.h"
#include "core/support/md5.h"

namespace qiv_start::repo {
namespace {

constexpr std::chrono::milliseconds kProgressPeriod{100};

// A download sink that keeps only the size and the digests of what it receives.
class TDigestStream : public core::TStream {
  public:
    explicit TDigestStream(bool with_sha256) : with_sha256_(with_sha256) {}

    void write(const char* data, std::size_t size) override {
        digest_->update(data, size);
        size_ += static_cast<std::int64_t>(size);
        position_ = size_;
    }
    std::int64_t get_position() const override { return position_; }
    void set_position(std::int64_t position) override { position_ = position; }
    std::int64_t get_size() const override { return size_; }
    void clear() override {
        digest_ = std::make_unique<core::TFileDigests>(with_sha256_);
        size_ = position_ = 0;
    }
    core::TDigestPair finish() { return digest_->finish(); }

  private:
    bool with_sha256_;
    std::unique_ptr<core::TFileDigests> digest_ =
        std::make_unique<core::TFileDigests>(with_sha256_);
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
};

// Runs the worker to its end; true when the server delivered the file.
bool run_download(core::TStream& stream, const std::string& base, const std::string& name,
                  const core::TTransportOptions& transport, const TProgress& progress) {
    core::TDownloadThread worker(stream, {base}, name, transport);
    while (!worker.wait_for_finish(kProgressPeriod)) {
        if (progress)
            progress(worker.get_downloaded_size(), worker.get_file_size());
    }
    return worker.is_completed() && worker.get_error_message().empty();
}

}  // namespace

std::optional<std::string> fetch_bytes(const std::string& base, const std::string& name,
                                       const core::TTransportOptions& transport) {
    core::TMemoryStream stream;
    if (!run_download(stream, base, name, transport, nullptr))
        return std::nullopt;
    return stream.data();
}

TFetched fetch_digest(const std::string& base, const std::string& name,
                      const core::TTransportOptions& transport, const TProgress& progress,
                      bool with_sha256) {
    TDigestStream stream(with_sha256);
    TFetched result;
    result.delivered = run_download(stream, base, name, transport, progress);
    result.size = stream.get_size();
    core::TDigestPair digests = stream.finish();
    result.digest = std::move(digests.md5);
    result.sha256 = std::move(digests.sha256);
    return result;
}

bool is_address(const std::string& text) {
    return core::starts_with_ignoring_ascii_case(text, "http://") ||
           core::starts_with_ignoring_ascii_case(text, "https://");
}

}  // namespace qiv_start::repo
