// A download sink that hashes the received bytes as they arrive, so a downloaded file's digest
// costs no second read.
#pragma once

#include <memory>
#include <string>

#include "core/download/file_stream.h"
#include "core/support/md5.h"

namespace qiv_start::core {

class THashingFileStream : public TFileStream {
  public:
    using TFileStream::TFileStream;

    void write(const char* data, std::size_t size) override {
        TFileStream::write(data, size);
        digest_->update(data, size);
    }

    // A download starts over from nothing, and so does its digest.
    void clear() override {
        TFileStream::clear();
        digest_ = std::make_unique<TMd5>();
    }

    // The MD5 digest of what was written since the last clear(), as 32 upper-case hexadecimal
    // digits. Ends the digest: call it once, when the download is over.
    std::string finish_digest() { return digest_->finish(); }

  private:
    std::unique_ptr<TMd5> digest_ = std::make_unique<TMd5>();
};

}  // namespace qiv_start::core
