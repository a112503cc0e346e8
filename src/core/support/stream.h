// Byte streams that downloads are written into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace qiv_start::core {

// What a stream holds the beginning of: the copy that a server's validator names, and that copy's
// whole length.
struct TResumeMark {
    std::string validator;
    std::int64_t length = 0;
    bool operator==(const TResumeMark&) const = default;
};

// A writable, seekable byte stream, owned by whoever passes it to a download.
class TStream {
  public:
    virtual ~TStream() = default;
    // Writes at the current position and moves the position past the bytes written.
    virtual void write(const char* data, std::size_t size) = 0;
    virtual std::int64_t get_position() const = 0;
    // Moving the position does not change the size; a write beyond the end fills the gap.
    virtual void set_position(std::int64_t position) = 0;
    virtual std::int64_t get_size() const = 0;
    // Drops the content: size and position 0.
    virtual void clear() = 0;
    // Called when a server has delivered a whole body: false when the content is not what was
    // asked for, and the next server is to be asked instead. resumed: the body went on from what
    // an earlier attempt left.
    virtual bool accept(bool resumed = false) {
        static_cast<void>(resumed);
        return true;
    }

    // Before a download: a stream that keeps content for later downloads takes up what it kept,
    // which resume_mark() then names. Here there is nothing to take up.
    virtual void take_up_kept() {}
    // The copy whose first get_size() bytes the stream holds, when a download may go on from
    // there; a stream that keeps its content beyond the run keeps the mark with it.
    virtual std::optional<TResumeMark> resume_mark() { return mark_; }
    virtual void set_resume_mark(const std::optional<TResumeMark>& mark) { mark_ = mark; }
    // The download failed: the stream is to look empty. What it holds stays for a later download
    // only where the stream keeps it beyond the run; here it goes.
    virtual void put_aside() {
        clear();
        mark_.reset();
    }

  private:
    std::optional<TResumeMark> mark_;
};

// Holds at most max_size bytes: a write beyond raises TError and keeps what was there.
class TMemoryStream : public TStream {
  public:
    explicit TMemoryStream(std::size_t max_size = std::numeric_limits<std::size_t>::max())
        : max_size_(max_size) {}

    void write(const char* data, std::size_t size) override;
    std::int64_t get_position() const override { return static_cast<std::int64_t>(position_); }
    void set_position(std::int64_t position) override;
    std::int64_t get_size() const override { return static_cast<std::int64_t>(data_.size()); }
    void clear() override;

    const std::string& data() const { return data_; }

  private:
    void make_room(std::size_t size);

    std::size_t max_size_;
    std::string data_;
    std::size_t position_ = 0;
};

}  // namespace qiv_start::core
