// A download sink that writes the received bytes to a temporary file beside their target and
// hashes them as they arrive, so a file is neither half-written nor read a second time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/md5.h"
#include "core/stream.h"
#include "platform/files.h"

namespace qiv_start::core {

// Bytes are only appended: a download writes sequentially and may start over with clear().
class THashingFileStream : public TStream {
  public:
    explicit THashingFileStream(const std::string& path);  // raises TIoError

    // Raises TError when the position is not the end, TIoError when the file cannot be written.
    void write(const char* data, std::size_t size) override;
    std::int64_t get_position() const override { return position_; }
    // Any position up to the size; writing is possible again only at the end.
    void set_position(std::int64_t position) override;
    std::int64_t get_size() const override { return size_; }
    void clear() override;

    // Puts the file in place and returns the MD5 digest of its content (32 upper-case hex
    // digits). Raises TIoError, also for a write that failed during the download.
    std::string commit();

  private:
    platform::TAtomicFileWriter writer_;
    std::unique_ptr<TMd5> digest_;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    // A failed write, kept because the download may swallow the error it raised.
    std::optional<std::string> failure_;
};

}  // namespace qiv_start::core
