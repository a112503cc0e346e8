#include "core/download/file_stream.h"

#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {

TFileStream::TFileStream(const std::string& path) : writer_(path) {}

void TFileStream::write(const char* data, std::size_t size) {
    if (position_ != size_) {
        throw TError(format("File \"%0:s\" can only be written at its end", {path()}));
    }
    try {
        writer_.write(data, size);
    } catch (const TError& failure) {
        if (!failure_)
            failure_ = failure.what();
        throw;
    }
    size_ += static_cast<std::int64_t>(size);
    position_ = size_;
}

void TFileStream::set_position(std::int64_t position) {
    if (position < 0 || position > size_)
        throw TError("Stream position out of range");
    position_ = position;
}

void TFileStream::clear() {
    writer_.truncate();
    size_ = 0;
    position_ = 0;
    failure_.reset();
}

void TFileStream::flush() {
    if (failure_)
        throw TIoError(*failure_);
    writer_.flush();
}

void TFileStream::commit() {
    if (failure_)
        throw TIoError(*failure_);
    writer_.commit();
}

}  // namespace qiv_start::core
