#include "core/hashing_file_stream.h"

#include "core/error.h"

namespace qiv_start::core {

THashingFileStream::THashingFileStream(const std::string& path)
    : writer_(path), digest_(std::make_unique<TMd5>()) {}

void THashingFileStream::write(const char* data, std::size_t size) {
    if (position_ != size_)
        throw TError("Stream accepts writes at its end only");
    try {
        writer_.write(data, size);
    } catch (const TError& failure) {
        if (!failure_)
            failure_ = failure.what();
        throw;
    }
    digest_->update(data, size);
    size_ += static_cast<std::int64_t>(size);
    position_ = size_;
}

void THashingFileStream::set_position(std::int64_t position) {
    if (position < 0 || position > size_)
        throw TError("Stream position out of range");
    position_ = position;
}

void THashingFileStream::clear() {
    writer_.truncate();
    digest_ = std::make_unique<TMd5>();
    size_ = 0;
    position_ = 0;
    failure_.reset();
}

std::string THashingFileStream::commit() {
    if (failure_)
        throw TIoError(*failure_);
    writer_.commit();
    return digest_->finish();
}

}  // namespace qiv_start::core
