#include "core/download/file_stream.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/support/error.h"
#include "core/support/format.h"
#include "platform/disk.h"

namespace qiv_start::core {
namespace {

const char* const kNoRoom = "Za mało miejsca na dysku na plik \"%0:s\".";

// The disk is looked at again after this many bytes: often enough that the downloads running at
// once (eight at most) cannot together eat the margin, seldom enough to cost nothing.
constexpr std::uint64_t kRoomStep = 8 * 1024 * 1024;

std::string folder_of(const std::string& path) {
    const char separators[] = {'/', platform::path_separator(), '\0'};
    const auto last = path.find_last_of(separators);
    if (last == std::string::npos)
        return ".";
    return path.substr(0, std::max<std::size_t>(last, 1));
}

}  // namespace

TFileStream::TFileStream(const std::string& path, std::uint64_t disk_margin)
    : writer_(path), folder_(folder_of(path)), disk_margin_(disk_margin) {}

TFileStream::TFileStream(const std::string& path, const platform::TKeptTemporary& kept,
                         std::uint64_t disk_margin)
    : writer_(path, kept), folder_(folder_of(path)), disk_margin_(disk_margin) {
    size_ = platform::file_size(kept.path);
    if (size_ < 0)
        throw TIoError(format("Cannot read file \"%0:s\"", {kept.path}));
    position_ = size_;
}

// A disk that cannot tell its free space is not held to the margin.
void TFileStream::take_room(std::size_t size) {
    if (size > room_) {
        const std::uint64_t free =
            platform::free_disk_space(folder_).value_or(std::numeric_limits<std::uint64_t>::max());
        const std::uint64_t usable = free > disk_margin_ ? free - disk_margin_ : 0;
        room_ = std::min(usable, std::max<std::uint64_t>(kRoomStep, size));
        if (size > room_)
            throw TError(format(kNoRoom, {path()}));
    }
    room_ -= size;
}

void TFileStream::write(const char* data, std::size_t size) {
    if (position_ != size_) {
        throw TError(format("File \"%0:s\" can only be written at its end", {path()}));
    }
    try {
        take_room(size);
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
