// Web servers' access logs in the combined format (nginx's default, Apache's "combined"), plain or
// gzip-compressed, read line by line in large blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qiv_start::repo {

// The parts of one log line that the tool reads. The views point into the line.
struct TLogLine {
    std::int64_t time = 0;  // seconds since 1970-01-01 00:00 UTC
    std::string_view method;
    std::string_view path;   // the request target up to '?'
    std::string_view query;  // after '?', empty without one
    int status = 0;
};

// The line's parts; nothing for a line that is not a complete combined-format line (truncated,
// another format, a date that does not read).
std::optional<TLogLine> parse_log_line(std::string_view line);

// "10/Oct/2026:13:55:36 +0200" as seconds since 1970 UTC.
std::optional<std::int64_t> parse_log_time(std::string_view text);

// Calls on_line with every line of the file ("-": standard input), without its line end, and
// on_progress with the compressed bytes read so far now and then. Raises TError when the file
// does not open or its compressed data is corrupt.
void read_log_lines(const std::string& path, const std::function<void(std::string_view)>& on_line,
                    const std::function<void(std::int64_t)>& on_progress);

}  // namespace qiv_start::repo
