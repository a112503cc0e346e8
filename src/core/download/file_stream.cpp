#include "core/download/file_stream.h"

#include <algorithm>

#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

const char* const kNoRoom = "Za mało miejsca na dysku na plik \"%0:s\".";

std::string folder_of(const std::string& path) {
    const char separators[] = {'/', platform::path_separator(), '\0'};
    const auto last = path.find_last_of(separators);
    if (last == std::string::npos)
        return ".";
    return path.substr(0, std::max<std::size_t>(last, 1));
}

}  // namespace

TFileStream::TFileStream(const std::string& path, std::uint64_t disk_margin, TDiskBudget& budget)
    : writer_(path), room_(budget, folder_of(path), disk_margin) {}

TFileStream::TFileStream(const std::string& path, const platform::TKeptTemporary& kept,
                         std::uint64_t disk_margin, TDiskBudget& budget)
    : writer_(path, kept), room_(budget, folder_of(path), disk_margin) {
    size_ = platform::file_size(kept.path);
    if (size_ < 0)
        throw TIoError(format("Cannot read file \"%0:s\"", {kept.path}));
    position_ = size_;
}

// The bytes are given back to the budget once written, when the disk's free space shows them.
void TFileStream::write(const char* data, std::size_t size) {
    if (position_ != size_) {
        throw TError(format("File \"%0:s\" can only be written at its end", {path()}));
    }
    try {
        if (!room_.take(size))
            throw TError(format(kNoRoom, {path()}));
        writer_.write(data, size);
        room_.written(size);
    } catch (const TError& failure) {
        room_.give_back();
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

// A flushed stream waits, for its turn or its commit, and keeps no room from the others.
void TFileStream::flush() {
    room_.give_back();
    if (failure_)
        throw TIoError(*failure_);
    writer_.flush();
}

void TFileStream::commit() {
    room_.give_back();
    if (failure_)
        throw TIoError(*failure_);
    writer_.commit();
}

void TFileStream::keep() {
    room_.give_back();
    writer_.keep();
}

}  // namespace qiv_start::core
