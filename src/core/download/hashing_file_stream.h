// A download sink that hashes the received bytes as they arrive, so a downloaded file's digests
// cost no second read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/download/file_stream.h"
#include "core/support/md5.h"

namespace qiv_start::core {

class THashingFileStream : public TFileStream {
  public:
    // with_sha256: SHA-256 as well as MD5.
    explicit THashingFileStream(const std::string& path, bool with_sha256 = false)
        : TFileStream(path),
          with_sha256_(with_sha256),
          digests_(std::make_unique<TFileDigests>(with_sha256)) {}

    // Goes on with a kept temporary file; its bytes are hashed first, before the writer holds
    // the file (Windows shares it with nobody then). Raises TIoError.
    THashingFileStream(const std::string& path, const platform::TKeptTemporary& kept,
                       bool with_sha256 = false)
        : THashingFileStream(path, kept, with_sha256, digests_of(kept.path, with_sha256)) {}

    void write(const char* data, std::size_t size) override {
        TFileStream::write(data, size);
        digests_->update(data, size);
    }

    // A download starts over from nothing, and so do its digests.
    void clear() override {
        TFileStream::clear();
        digests_ = std::make_unique<TFileDigests>(with_sha256_);
    }

    // The digests of what was written since the last clear(), in upper-case hexadecimal. Ends
    // them: call it once, when the download is over.
    TDigestPair finish_digests() { return digests_->finish(); }

  private:
    static constexpr std::size_t kReadBlock = 256 * 1024;

    THashingFileStream(const std::string& path, const platform::TKeptTemporary& kept,
                       bool with_sha256, std::unique_ptr<TFileDigests> digests)
        : TFileStream(path, kept), with_sha256_(with_sha256), digests_(std::move(digests)) {}

    static std::unique_ptr<TFileDigests> digests_of(const std::string& path, bool with_sha256) {
        auto digests = std::make_unique<TFileDigests>(with_sha256);
        platform::TFileReader reader(path);
        std::vector<char> buffer(kReadBlock);
        while (const std::size_t read = reader.read(buffer.data(), buffer.size()))
            digests->update(buffer.data(), read);
        return digests;
    }

    bool with_sha256_;
    std::unique_ptr<TFileDigests> digests_;
};

}  // namespace qiv_start::core
