#include "core/download/verified_file_stream.h"

#include "core/support/error.h"

namespace qiv_start::core {

TVerifiedFileStream::TVerifiedFileStream(std::string directory, std::string path,
                                         TDigestPair expected, bool keep_mismatch)
    : directory_(std::move(directory)),
      path_(std::move(path)),
      expected_(std::move(expected)),
      keep_mismatch_(keep_mismatch) {}

// A folder that cannot be created shows as the failure to create the file in it.
THashingFileStream& TVerifiedFileStream::current() {
    if (!current_) {
        try {
            if (!directory_.empty())
                platform::create_directories(directory_);
            current_ = std::make_unique<THashingFileStream>(path_, !expected_.sha256.empty());
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

// The first copy that does not match is kept, when allowed; an empty one counts as nothing
// delivered.
bool TVerifiedFileStream::accept() {
    THashingFileStream& stream = current();
    if (digests_match(stream.finish_digests(), expected_)) {
        verified_ = true;
        return true;
    }
    if (stream.get_size() > 0)
        mismatched_ = true;
    if (!aside_ && stream.get_size() > 0 && keep_mismatch_)
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
