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
// the first stream for the same path to be asked for its resume mark goes on with it.
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
    std::optional<TResumeMark> resume_mark() override;
    void set_resume_mark(const std::optional<TResumeMark>& mark) override;
    void put_aside() override;

    // A copy with the expected digest arrived.
    bool is_verified() const { return verified_; }
    // Some copy arrived: a verified one or one kept aside.
    bool has_copy() const { return verified_ || aside_ != nullptr; }
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
    THashingFileStream& current();
    void take_up_kept_download();
    void drop_record() noexcept;

    std::string directory_;
    std::string path_;
    TDigestPair expected_;
    bool keep_mismatch_;
    std::unique_ptr<THashingFileStream> current_;
    std::unique_ptr<THashingFileStream> aside_;
    // The content of a failed download, put aside while the stream looks empty.
    std::unique_ptr<THashingFileStream> put_aside_;
    std::optional<TResumeMark> mark_;  // of the content, in current_ or put_aside_
    bool recorded_ = false;            // the mark's record is on the disk
    bool looked_for_kept_ = false;
    bool verified_ = false;
    bool mismatched_ = false;
    std::optional<std::string> failure_;
};

}  // namespace qiv_start::core
