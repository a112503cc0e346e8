// A download's destination that takes only a copy with the expected digests.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "core/download/hashing_file_stream.h"

namespace qiv_start::core {

// The temporary file, and its folder, are made when the first byte arrives, not before. A copy
// whose digests differ is kept aside while the next servers are asked, and stands in for the file
// when none of them delivers a matching one (unless keep_mismatch is false). Nothing reaches the
// path before commit().
class TVerifiedFileStream : public TStream {
  public:
    // directory: the folder of path, created when missing. expected: the MD5 and, when not
    // empty, the SHA-256; digests compare ignoring case.
    TVerifiedFileStream(std::string directory, std::string path, TDigestPair expected,
                        bool keep_mismatch = true);

    void write(const char* data, std::size_t size) override;  // raises TError, TIoError
    std::int64_t get_position() const override;
    void set_position(std::int64_t position) override;
    std::int64_t get_size() const override;
    void clear() override;
    bool accept() override;

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

    std::string directory_;
    std::string path_;
    TDigestPair expected_;
    bool keep_mismatch_;
    std::unique_ptr<THashingFileStream> current_;
    std::unique_ptr<THashingFileStream> aside_;
    bool verified_ = false;
    bool mismatched_ = false;
    std::optional<std::string> failure_;
};

}  // namespace qiv_start::core
