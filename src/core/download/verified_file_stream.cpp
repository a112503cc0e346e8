#include "core/download/verified_file_stream.h"

#include "core/download/kept_download.h"
#include "core/support/error.h"

namespace qiv_start::core {
namespace {

// A record costs a file made, flushed and removed again for each download. A smaller file comes
// whole in a few round trips on any link: going on with a part of it saves nothing worth that.
constexpr std::int64_t kWorthKeepingFrom = std::int64_t{64} * 1024;

}  // namespace

TVerifiedFileStream::TVerifiedFileStream(std::string directory, std::string path,
                                         TDigestPair expected, bool keep_mismatch)
    : directory_(std::move(directory)),
      path_(std::move(path)),
      expected_(std::move(expected)),
      keep_mismatch_(keep_mismatch) {}

// Content that a later download may go on with stays on the disk, with its record; anything else
// goes with its record.
TVerifiedFileStream::~TVerifiedFileStream() {
    std::unique_ptr<THashingFileStream>& held = current_ ? current_ : put_aside_;
    if (!held)
        return;
    const std::int64_t size = held->get_size();
    if (recorded_ && mark_ && !failure_ && size > 0 && size < mark_->length) {
        try {
            held->keep();
            return;
        } catch (const TError&) {
        }
    }
    drop_record();
}

void TVerifiedFileStream::drop_record() noexcept {
    const THashingFileStream* held = current_ ? current_.get() : put_aside_.get();
    if (recorded_ && held != nullptr)
        remove_kept_record(held->temporary());
    recorded_ = false;
}

// A kept download that cannot be taken up is left to the sweep of leftovers.
void TVerifiedFileStream::take_up_kept_download() {
    looked_for_kept_ = true;
    if (current_ || put_aside_)
        return;
    try {
        const auto kept = find_kept_download(path_);
        if (!kept)
            return;
        current_ = std::make_unique<THashingFileStream>(
            path_, platform::TKeptTemporary{kept->temporary}, !expected_.sha256.empty());
        mark_ = kept->mark;
        recorded_ = true;
    } catch (const TError&) {
        current_.reset();
    }
}

std::optional<TResumeMark> TVerifiedFileStream::resume_mark() {
    if (!looked_for_kept_)
        take_up_kept_download();
    if (!current_ && put_aside_)
        current_ = std::move(put_aside_);
    return current_ ? mark_ : std::nullopt;
}

// The mark is set as a body begins. It serves a resumption in this run whatever the size; a
// bigger file is also recorded for the next start, so its temporary file is made here if it is
// not there yet.
void TVerifiedFileStream::set_resume_mark(const std::optional<TResumeMark>& mark) {
    drop_record();
    mark_ = mark;
    if (!mark || mark->length < kWorthKeepingFrom)
        return;
    THashingFileStream& stream = current();
    try {
        write_kept_record(stream.temporary(), *mark);
        recorded_ = true;
    } catch (const TError&) {
        // The download may still go on from here in this run; the next run starts anew.
    }
}

void TVerifiedFileStream::put_aside() {
    if (current_)
        put_aside_ = std::move(current_);
}

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
bool TVerifiedFileStream::accept(bool resumed) {
    THashingFileStream& stream = current();
    // A whole copy is nothing to go on with.
    drop_record();
    mark_.reset();
    if (digests_match(stream.finish_digests(), expected_)) {
        verified_ = true;
        return true;
    }
    if (resumed) {
        current_.reset();
        return false;
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
