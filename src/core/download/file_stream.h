// A download's destination on disk: written under a temporary name, put in place by commit().
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/download/disk_budget.h"
#include "core/support/stream.h"
#include "platform/files.h"

namespace qiv_start::core {

// What a download leaves free on the disk of its folder: room for the system, the run logs and
// the other files of the run, whatever a server sends.
constexpr std::uint64_t kDiskMargin = std::uint64_t{64} * 1024 * 1024;

// Sequential writes only: writing anywhere but at the end raises TError. A write that would leave
// less than disk_margin free on the disk, with what the other streams of the budget have
// reserved there, raises TError too, not TIoError: the server that sends too much is at fault,
// and a download gives up that attempt only. A stream destroyed without commit() leaves nothing
// behind.
class TFileStream : public TStream {
  public:
    explicit TFileStream(const std::string& path, std::uint64_t disk_margin = kDiskMargin,
                         TDiskBudget& budget = TDiskBudget::system());  // raises TIoError
    // Goes on with a kept temporary file of the same path: what it holds is the stream's start.
    TFileStream(const std::string& path, const platform::TKeptTemporary& kept,
                std::uint64_t disk_margin = kDiskMargin,
                TDiskBudget& budget = TDiskBudget::system());  // raises TIoError

    void write(const char* data, std::size_t size) override;
    std::int64_t get_position() const override { return position_; }
    void set_position(std::int64_t position) override;
    std::int64_t get_size() const override { return size_; }
    void clear() override;

    // Puts the file in place of whatever was at the path. Raises TIoError, also for a write that
    // failed during the download (a downloader may have swallowed that error).
    void commit();
    // Puts the bytes on the disk ahead of commit(), which then has little left to do. Raises
    // TIoError, as commit() would.
    void flush();
    // Leaves the temporary file on the disk for a later stream to go on with; the stream writes
    // nothing more. Raises TIoError.
    void keep();
    const std::string& path() const { return writer_.path(); }
    const std::string& temporary() const { return writer_.temporary(); }

  private:
    platform::TAtomicFileWriter writer_;
    // What the stream may still write before it asks the disk's budget again; given back
    // whenever the stream pauses or ends.
    TDiskRoom room_;
    std::int64_t position_ = 0;
    std::int64_t size_ = 0;
    std::optional<std::string> failure_;
};

}  // namespace qiv_start::core
