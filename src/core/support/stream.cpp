#include "core/support/stream.h"

#include <algorithm>

#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {

// Grows by doubling up to the ceiling, so the buffer never takes much more than the ceiling.
void TMemoryStream::make_room(std::size_t size) {
    if (position_ > max_size_ || size > max_size_ - position_)
        throw TError(format("Data longer than %0:d bytes", {static_cast<std::int64_t>(max_size_)}));
    const std::size_t needed = position_ + size;
    if (needed > data_.capacity())
        data_.reserve(std::min(max_size_, std::max(needed, data_.capacity() * 2)));
}

void TMemoryStream::write(const char* data, std::size_t size) {
    make_room(size);
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
