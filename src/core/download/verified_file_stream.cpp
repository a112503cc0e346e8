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
    if (!content_)
        return;
    const std::int64_t size = content_->get_size();
    if (recorded_ && mark_ && !failure_ && size > 0 && size < mark_->length) {
        try {
            content_->keep();
            return;
        } catch (const TError&) {
        }
    }
    drop_record();
}

void TVerifiedFileStream::drop_record() noexcept {
    if (recorded_ && content_)
        remove_kept_record(content_->temporary());
    recorded_ = false;
}

void TVerifiedFileStream::take_up_kept() {
    if (state_ == TState::kPutAside)
        state_ = TState::kReceiving;
    else if (state_ == TState::kUnopened)
        take_up_from_disk();
}

// A kept download that cannot be taken up is left to the sweep of leftovers.
void TVerifiedFileStream::take_up_from_disk() {
    state_ = TState::kReceiving;
    try {
        const auto kept = find_kept_download(path_);
        if (!kept)
            return;
        content_ = std::make_unique<THashingFileStream>(
            path_, platform::TKeptTemporary{kept->temporary}, !expected_.sha256.empty());
        mark_ = kept->mark;
        recorded_ = true;
    } catch (const TError&) {
        content_.reset();
    }
}

std::optional<TResumeMark> TVerifiedFileStream::resume_mark() {
    return visible() != nullptr ? mark_ : std::nullopt;
}

// The mark is set as a body begins. It serves a resumption in this run whatever the size; a
// bigger file is also recorded for the next start, so its temporary file is made here if it is
// not there yet.
void TVerifiedFileStream::set_resume_mark(const std::optional<TResumeMark>& mark) {
    drop_record();
    const bool worth_keeping = mark && mark->length >= kWorthKeepingFrom;
    if (worth_keeping)
        receiving();
    mark_ = mark;
    if (!worth_keeping)
        return;
    try {
        write_kept_record(content_->temporary(), *mark);
        recorded_ = true;
    } catch (const TError&) {
        // The download may still go on from here in this run; the next run starts anew.
    }
}

void TVerifiedFileStream::put_aside() {
    if (content_ && state_ == TState::kReceiving)
        state_ = TState::kPutAside;
}

// What a failed download put aside stays out of sight until it is taken up again.
THashingFileStream* TVerifiedFileStream::visible() const {
    return state_ == TState::kPutAside ? nullptr : content_.get();
}

// A folder that cannot be created shows as the failure to create the file in it. A copy that
// begins over what a failed download put aside replaces it.
THashingFileStream& TVerifiedFileStream::receiving() {
    if (state_ == TState::kPutAside) {
        drop_record();
        content_.reset();
        mark_.reset();
    }
    if (state_ != TState::kVerified)
        state_ = TState::kReceiving;
    if (!content_) {
        try {
            if (!directory_.empty())
                platform::create_directories(directory_);
            content_ = std::make_unique<THashingFileStream>(path_, !expected_.sha256.empty());
        } catch (const TIoError& failure) {
            failure_ = failure.what();
            throw;
        }
    }
    return *content_;
}

void TVerifiedFileStream::write(const char* data, std::size_t size) {
    THashingFileStream& stream = receiving();
    try {
        stream.write(data, size);
    } catch (const TIoError& failure) {
        failure_ = failure.what();
        throw;
    }
}

std::int64_t TVerifiedFileStream::get_position() const {
    const THashingFileStream* stream = visible();
    return stream != nullptr ? stream->get_position() : 0;
}

void TVerifiedFileStream::set_position(std::int64_t position) {
    if (THashingFileStream* stream = visible())
        stream->set_position(position);
    else if (position != 0)
        throw TError("Stream position out of range");
}

std::int64_t TVerifiedFileStream::get_size() const {
    const THashingFileStream* stream = visible();
    return stream != nullptr ? stream->get_size() : 0;
}

void TVerifiedFileStream::clear() {
    THashingFileStream* stream = visible();
    if (stream == nullptr)
        return;
    try {
        stream->clear();
    } catch (const TIoError& failure) {
        failure_ = failure.what();
        throw;
    }
}

// The first copy that does not match is kept, when allowed; an empty one counts as nothing
// delivered.
bool TVerifiedFileStream::accept(bool resumed) {
    THashingFileStream& stream = receiving();
    // A whole copy is nothing to go on with.
    drop_record();
    mark_.reset();
    if (digests_match(stream.finish_digests(), expected_)) {
        state_ = TState::kVerified;
        return true;
    }
    if (!resumed && stream.get_size() > 0) {
        mismatched_ = true;
        if (!mismatch_ && keep_mismatch_)
            mismatch_ = std::move(content_);
    }
    content_.reset();
    return false;
}

void TVerifiedFileStream::flush() {
    if (failure_)
        return;
    if (is_verified())
        content_->flush();
    else if (mismatch_)
        mismatch_->flush();
}

void TVerifiedFileStream::commit() {
    if (is_verified())
        content_->commit();
    else if (mismatch_)
        mismatch_->commit();
    else
        throw TError("Nothing was delivered");
}

}  // namespace qiv_start::core
