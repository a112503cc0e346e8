#include "core/terminal/sync_plan.h"

#include <algorithm>
#include <optional>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/support/paths.h"
#include "core/terminal/look_ahead.h"

namespace qiv_start::core {
namespace {

using TParts = std::vector<std::string>;

// The path's components in upper case, "." and empty ones left out, ".." resolved; none when
// ".." climbs above the start, which is then taken to touch everything.
std::optional<TParts> parts_of(std::string_view path) {
    TParts parts;
    std::string part;
    const auto close = [&]() -> bool {
        if (part == "..") {
            if (parts.empty())
                return false;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        part.clear();
        return true;
    };
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!close())
                return std::nullopt;
        } else {
            part.push_back(ascii_upper(c));
        }
    }
    if (!close())
        return std::nullopt;
    return parts;
}

bool starts_with(const TParts& parts, const TParts& prefix) {
    return prefix.size() <= parts.size() && std::equal(prefix.begin(), prefix.end(), parts.begin());
}

struct TPlace {
    std::optional<TParts> file;
    std::optional<TParts> folder;
};

bool depends_on(const TPlace& later, const TPlace& earlier, bool earlier_unzips) {
    if (!later.file || !earlier.file || !earlier.folder)
        return true;
    if (starts_with(*later.file, *earlier.file) || starts_with(*earlier.file, *later.file))
        return true;
    return earlier_unzips && starts_with(*later.file, *earlier.folder);
}

}  // namespace

TPlannedFile plan_file(std::shared_ptr<TFileConfig> file) {
    TPlannedFile planned;
    planned.config = std::move(file);
    try {
        planned.name = planned.config->get_name();
        planned.target_path = planned.config->get_relative_target_path();
        planned.hash = planned.config->get_hash();
        planned.sha256 = planned.config->get_sha256();
        planned.unzip = planned.config->unzip();
        planned.local_path = join_path(planned.target_path, planned.name);
        planned.readable = true;
    } catch (const TError&) {
        // Read again at the file's turn, where the error comes out as it always did.
    }
    return planned;
}

std::vector<std::size_t> predecessors(const std::vector<TPlannedFile>& files) {
    std::vector<TPlace> places;
    for (const auto& file : files)
        places.push_back({parts_of(file.local_path), parts_of(file.target_path)});
    std::vector<std::size_t> result(files.size(), TLookAhead::kNoPredecessor);
    for (std::size_t later = 0; later < files.size(); ++later) {
        for (std::size_t earlier = later; earlier-- > 0;) {
            if (!files[earlier].readable ||
                depends_on(places[later], places[earlier], files[earlier].unzip)) {
                result[later] = earlier;
                break;
            }
        }
    }
    return result;
}

}  // namespace qiv_start::core
