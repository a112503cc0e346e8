#include <charconv>
#include <cstdio>
#include <random>
#include <sstream>

#include "platform/config_cache_backend.h"
#include "platform/error.h"

namespace qiv_start::platform {
namespace {

const char* const kWorkstationValue = "workstation";
const char* const kSequenceValue = "report_sequence";
const char* const kUnsentValue = "unsent_reports";

std::string random_identifier() {
    std::random_device source;
    std::string identifier;
    for (int i = 0; i < 4; ++i) {
        char word[9] = {};
        std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(source()));
        identifier += word;
    }
    return identifier;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

}  // namespace

// Kept as the identifier and the host name it was made under, a line each.
std::string workstation_id(const std::string& host) {
    if (const auto kept = backend::read_cache_value(kWorkstationValue)) {
        const auto lines = lines_of(*kept);
        if (lines.size() == 2 && lines[0].size() == 32 && lines[1] == host)
            return lines[0];
    }
    const std::string identifier = random_identifier();
    backend::write_cache_value(kWorkstationValue, identifier + "\n" + host + "\n");
    return identifier;
}

// A damaged number starts again from 1: the sequence only orders one workstation's reports.
std::uint64_t next_report_sequence() {
    std::uint64_t last = 0;
    if (const auto kept = backend::read_cache_value(kSequenceValue))
        std::from_chars(kept->data(), kept->data() + kept->size(), last);
    backend::write_cache_value(kSequenceValue, std::to_string(last + 1) + "\n");
    return last + 1;
}

std::vector<std::string> read_unsent_reports() {
    const auto kept = backend::read_cache_value(kUnsentValue);
    return kept ? lines_of(*kept) : std::vector<std::string>{};
}

void write_unsent_reports(const std::vector<std::string>& queries) {
    const std::size_t first =
        queries.size() > kMaxUnsentReports ? queries.size() - kMaxUnsentReports : 0;
    std::string text;
    for (std::size_t i = first; i < queries.size(); ++i)
        text += queries[i] + "\n";
    backend::write_cache_value(kUnsentValue, text);
}

}  // namespace qiv_start::platform

namespace qiv_start::platform::backend {

std::string signed_unit(const TSignedDocument& document) {
    return std::to_string(document.release.size()) + "\n" + document.release + document.bytes;
}

std::optional<TSignedDocument> from_signed_unit(const std::string& unit) {
    const std::size_t line_end = unit.find('\n');
    if (line_end == std::string::npos || line_end == 0)
        return std::nullopt;
    std::size_t length = 0;
    const char* const digits_end = unit.data() + line_end;
    const auto [stop, failure] = std::from_chars(unit.data(), digits_end, length);
    if (failure != std::errc() || stop != digits_end || length > unit.size() - line_end - 1)
        return std::nullopt;
    return TSignedDocument{unit.substr(line_end + 1 + length), unit.substr(line_end + 1, length)};
}

}  // namespace qiv_start::platform::backend
