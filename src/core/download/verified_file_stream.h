// A download's destination that takes only a copy with the expected digests.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/download/hashing_file_stream.h"

namespace qiv_start::core {

// The temporary file, and its folder, are made when the first byte arrives, not before. A copy
// whose digests differ is kept aside while the next servers are asked, and stands in for the file
// when none of them delivers a matching one (unless keep_mismatch is false); a resumed copy that
// differs never does, since what was resumed may be at fault rather than the server. Nothing
// reaches the path before commit(). A download that stopped part of the way through a copy with a
// resume mark leaves its temporary file, with a record of the mark beside it, when the stream goes;
// the first stream for the same path to take up what was kept goes on with it.
class TVerifiedFileStream : public TStream {
  public:
    // directory: the folder of path, created when missing. expected: the MD5 and, when not
    // empty, the SHA-256; digests compare ignoring case.
    TVerifiedFileStream(std::string directory, std::string path, TDigestPair expected,
                        bool keep_mismatch = true);
    ~TVerifiedFileStream() override;
    TVerifiedFileStream(const TVerifiedFileStream&) = delete;
    TVerifiedFileStream& operator=(const TVerifiedFileStream&) = delete;

    void write(const char* data, std::size_t size) override;  // raises TError, TIoError
    std::int64_t get_position() const override;
    void set_position(std::int64_t position) override;
    std::int64_t get_size() const override;
    void clear() override;
    bool accept(bool resumed = false) override;
    // The first time: a download of the path that an earlier stream kept, when there is one.
    // After put_aside(): what the failed download brought.
    void take_up_kept() override;
    std::optional<TResumeMark> resume_mark() override;
    void set_resume_mark(const std::optional<TResumeMark>& mark) override;
    void put_aside() override;

    // A copy with the expected digest arrived.
    bool is_verified() const { return state_ == TState::kVerified; }
    // Some copy arrived: a verified one or one kept aside.
    bool has_copy() const { return is_verified() || mismatch_ != nullptr; }
    // Some server delivered a copy whose digests differ.
    bool had_mismatch() const { return mismatched_; }
    // Why writing the temporary file failed, when it did.
    const std::optional<std::string>& write_failure() const { return failure_; }
    // Puts the copy that commit() would take on the disk ahead of it; nothing when no copy
    // arrived or writing it failed. Raises TIoError.
    void flush();
    // Puts the verified copy, else the one kept aside, in place of the file at the path.
    // Raises TIoError; TFileInUseError when another program holds the old file open.
    void commit();

  private:
    // What content_ is. kUnopened: nothing yet, and what an earlier stream kept not looked for.
    // kReceiving: the copy under way, or what was kept, when any of it came yet. kPutAside:
    // what a failed download brought, while the stream looks empty. kVerified: the matching copy.
    enum class TState { kUnopened, kReceiving, kPutAside, kVerified };

    THashingFileStream* visible() const;
    THashingFileStream& receiving();
    void take_up_from_disk();
    void drop_record() noexcept;

    std::string directory_;
    std::string path_;
    TDigestPair expected_;
    bool keep_mismatch_;
    TState state_ = TState::kUnopened;
    std::unique_ptr<THashingFileStream> content_;
    std::optional<TResumeMark> mark_;  // of content_
    bool recorded_ = false;            // the mark's record is on the disk
    // The first whole copy whose digests differ, when it may stand in for the file.
    std::unique_ptr<THashingFileStream> mismatch_;
    bool mismatched_ = false;
    std::optional<std::string> failure_;
};

}  // namespace qiv_start::core
