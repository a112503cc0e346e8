#include "core/download/kept_download.h"

#include <charconv>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>

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

// Where a file is: its folder as listed, the prefix that names an entry of it, and its own name.
struct TPlace {
    std::string folder;
    std::string prefix;
    std::string name;
};

TPlace place_of(const std::string& path) {
    const auto separator = path.rfind(platform::path_separator());
    if (separator == std::string::npos)
        return {".", "", path};
    return {path.substr(0, separator), path.substr(0, separator + 1), path.substr(separator + 1)};
}

// The temporary files with a record beside them, by folder. Each folder is listed once for the
// process, not once for each of its files, which would cost a run of many files quadratic time;
// the records that the process writes and removes keep it current. A record that another hand
// removed is only an entry that no longer reads.
class TRecordIndex {
  public:
    std::vector<std::string> temporaries_of(const TPlace& place) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const std::string& temporary : listed(place.folder)) {
            if (platform::is_temporary_name_of(place.name, temporary))
                found.push_back(place.prefix + temporary);
        }
        return found;
    }

    void recorded(const std::string& temporary, bool present) {
        const TPlace place = place_of(temporary);
        std::lock_guard lock(mutex_);
        const auto folder = folders_.find(place.folder);
        if (folder == folders_.end())
            return;
        if (present)
            folder->second.insert(place.name);
        else
            folder->second.erase(place.name);
    }

  private:
    const std::set<std::string>& listed(const std::string& folder) {
        const auto known = folders_.find(folder);
        if (known != folders_.end())
            return known->second;
        std::set<std::string> temporaries;
        const std::size_t suffix = std::char_traits<char>::length(kRecordSuffix);
        for (const std::string& entry : platform::list_directory(folder)) {
            if (is_kept_record_name(entry))
                temporaries.insert(entry.substr(0, entry.size() - suffix));
        }
        return folders_.emplace(folder, std::move(temporaries)).first->second;
    }

    std::mutex mutex_;
    std::map<std::string, std::set<std::string>> folders_;
};

TRecordIndex& record_index() {
    static TRecordIndex index;
    return index;
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
    record_index().recorded(temporary, true);
}

void remove_kept_record(const std::string& temporary) noexcept {
    try {
        record_index().recorded(temporary, false);
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
    std::optional<TKeptDownload> best;
    std::int64_t best_size = 0;
    for (const std::string& temporary : record_index().temporaries_of(place_of(path))) {
        const auto mark = read_kept_record(temporary);
        if (!mark || !platform::file_exists(temporary))
            continue;
        const std::int64_t size = platform::file_size(temporary);
        if (size > best_size && size < mark->length) {
            best = TKeptDownload{temporary, *mark};
            best_size = size;
        }
    }
    return best;
}

}  // namespace qiv_start::core
