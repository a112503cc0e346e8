#include "ui/message_items.h"

namespace qiv_start::ui {
namespace {

constexpr char kDelimiter = '|';
constexpr char kQuote = '"';

class TItemReader {
  public:
    explicit TItemReader(const std::string& value) : value_(value) {}

    std::vector<std::string> read_all() {
        skip_blanks();
        while (!at_end()) {
            items_.push_back(current() == kQuote ? read_quoted() : read_plain());
            skip_blanks();
            if (!at_end() && current() == kDelimiter)
                consume_delimiter();
        }
        return std::move(items_);
    }

  private:
    bool at_end() const { return pos_ >= value_.size() || value_[pos_] == '\0'; }
    char current() const { return value_[pos_]; }
    static bool is_blank(char c) {
        const auto code = static_cast<unsigned char>(c);
        return code >= 1 && code <= 32;
    }
    void skip_blanks() {
        while (!at_end() && is_blank(current()))
            ++pos_;
    }

    std::string read_plain() {
        const std::size_t start = pos_;
        while (!at_end() && !is_blank(current()) && current() != kDelimiter)
            ++pos_;
        return value_.substr(start, pos_ - start);
    }

    std::string read_quoted() {
        std::string item;
        ++pos_;  // the opening quote
        while (!at_end()) {
            const char c = current();
            ++pos_;
            if (c != kQuote) {
                item += c;
            } else if (!at_end() && current() == kQuote) {
                item += kQuote;
                ++pos_;
            } else {
                break;
            }
        }
        return item;
    }

    void consume_delimiter() {
        ++pos_;
        if (at_end())
            items_.emplace_back();  // "code|" carries an empty argument
        skip_blanks();
    }

    const std::string& value_;
    std::size_t pos_ = 0;
    std::vector<std::string> items_;
};

}  // namespace

std::vector<std::string> split_message_value(const std::string& value) {
    return TItemReader(value).read_all();
}

}  // namespace qiv_start::ui
