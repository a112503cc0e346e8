#include "core/download/verified_file_stream.h"

#include "core/support/ascii.h"
#include "core/support/error.h"

namespace qiv_start::core {

TVerifiedFileStream::TVerifiedFileStream(std::string directory, std::string path,
                                         std::string expected_digest)
    : directory_(std::move(directory)),
      path_(std::move(path)),
      expected_digest_(std::move(expected_digest)) {}

// A folder that cannot be created shows as the failure to create the file in it.
THashingFileStream& TVerifiedFileStream::current() {
    if (!current_) {
        try {
            if (!directory_.empty())
                platform::create_directories(directory_);
            current_ = std::make_unique<THashingFileStream>(path_);
        } catch (const TIoError& failure) {
            failure_ = failure.what();
            throw;
        }
    }
    return *current_;
}

void TVerifiedFileStream::write(const char* data, std::size_t size) {
    THashingFileStream& stream = current();
    try {
        stream.write(data, size);
    } catch (const TIoError& failure) {
        failure_ = failure.what();
        throw;
    }
}

std::int64_t TVerifiedFileStream::get_position() const {
    return current_ ? current_->get_position() : 0;
}

void TVerifiedFileStream::set_position(std::int64_t position) {
    if (current_)
        current_->set_position(position);
    else if (position != 0)
        throw TError("Stream position out of range");
}

std::int64_t TVerifiedFileStream::get_size() const {
    return current_ ? current_->get_size() : 0;
}

void TVerifiedFileStream::clear() {
    if (!current_)
        return;
    try {
        current_->clear();
    } catch (const TIoError& failure) {
        failure_ = failure.what();
        throw;
    }
}

// The first copy that does not match is kept; an empty one counts as nothing delivered.
bool TVerifiedFileStream::accept() {
    THashingFileStream& stream = current();
    if (equals_ignoring_ascii_case(stream.finish_digest(), expected_digest_)) {
        verified_ = true;
        return true;
    }
    if (!aside_ && stream.get_size() > 0)
        aside_ = std::move(current_);
    current_.reset();
    return false;
}

void TVerifiedFileStream::flush() {
    if (failure_)
        return;
    if (verified_)
        current_->flush();
    else if (aside_)
        aside_->flush();
}

void TVerifiedFileStream::commit() {
    if (verified_)
        current_->commit();
    else if (aside_)
        aside_->commit();
    else
        throw TError("Nothing was delivered");
}

}  // namespace qiv_start::core
