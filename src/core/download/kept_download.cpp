#include "core/download/kept_download.h"

#include <charconv>
#include <cstdint>

#include "core/support/error.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

const char* const kRecordSuffix = ".resume";
const char* const kRecordHeading = "qiv_start_2 resume 1";

std::int64_t seconds_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::optional<std::int64_t> read_number(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The lines of a text that ends with a line break; nothing for any other.
std::optional<std::vector<std::string>> lines_of(const std::string& text) {
    if (text.empty() || text.back() != '\n')
        return std::nullopt;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

}  // namespace

std::string kept_record_path(const std::string& temporary) {
    return temporary + kRecordSuffix;
}

bool is_kept_record_name(const std::string& candidate) {
    return candidate.ends_with(kRecordSuffix) &&
           platform::is_temporary_name(candidate.substr(
               0, candidate.size() - std::char_traits<char>::length(kRecordSuffix)));
}

void write_kept_record(const std::string& temporary, const TResumeMark& mark) {
    platform::write_file_atomic(kept_record_path(temporary),
                                std::string(kRecordHeading) + "\n" + std::to_string(mark.length) +
                                    "\n" + std::to_string(seconds_now()) + "\n" + mark.validator +
                                    "\n");
}

void remove_kept_record(const std::string& temporary) noexcept {
    try {
        const std::string record = kept_record_path(temporary);
        if (platform::file_exists(record))
            platform::delete_file(record);
    } catch (...) {
        // The sweep takes it once its temporary file is gone.
    }
}

// A record from the future counts as old: the clock was set back, and its age cannot be told.
std::optional<TResumeMark> read_kept_record(const std::string& temporary) {
    std::string text;
    try {
        const std::string record = kept_record_path(temporary);
        if (!platform::file_exists(record) || platform::file_size(record) > 4096)
            return std::nullopt;
        text = platform::read_file(record);
    } catch (const TError&) {
        return std::nullopt;
    }
    const auto lines = lines_of(text);
    if (!lines || lines->size() != 4 || (*lines)[0] != kRecordHeading || (*lines)[3].empty())
        return std::nullopt;
    const auto length = read_number((*lines)[1]);
    const auto written = read_number((*lines)[2]);
    if (!length || *length <= 0 || !written)
        return std::nullopt;
    const std::int64_t age = seconds_now() - *written;
    if (age < 0 || age > std::chrono::seconds(kKeptDownloadLifetime).count())
        return std::nullopt;
    return TResumeMark{(*lines)[3], *length};
}

std::optional<TKeptDownload> find_kept_download(const std::string& path) {
    const auto separator = path.rfind(platform::path_separator());
    const std::string folder = separator == std::string::npos ? "." : path.substr(0, separator);
    const std::string prefix = separator == std::string::npos ? "" : path.substr(0, separator + 1);
    const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
    std::optional<TKeptDownload> best;
    std::int64_t best_size = 0;
    for (const std::string& entry : platform::list_directory(folder)) {
        if (!platform::is_temporary_name_of(name, entry))
            continue;
        const std::string temporary = prefix + entry;
        const auto mark = read_kept_record(temporary);
        const std::int64_t size = platform::file_size(temporary);
        if (mark && size > best_size && size < mark->length) {
            best = TKeptDownload{temporary, *mark};
            best_size = size;
        }
    }
    return best;
}

}  // namespace qiv_start::core
