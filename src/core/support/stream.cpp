#include "core/support/stream.h"

#include "core/support/error.h"

namespace qiv_start::core {

void TMemoryStream::write(const char* data, std::size_t size) {
    if (position_ == data_.size()) {
        data_.append(data, size);
    } else {
        // A position beyond the end leaves a gap of zero bytes before the new ones.
        if (position_ + size > data_.size())
            data_.resize(position_ + size);
        data_.replace(position_, size, data, size);
    }
    position_ += size;
}

void TMemoryStream::set_position(std::int64_t position) {
    if (position < 0)
        throw TError("Stream position out of range");
    position_ = static_cast<std::size_t>(position);
}

void TMemoryStream::clear() {
    data_.clear();
    position_ = 0;
}

}  // namespace qiv_start::core
