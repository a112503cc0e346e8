#include "core/terminal/sync_plan.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "core/support/error.h"
#include "core/support/paths.h"
#include "core/support/windows_names.h"
#include "core/terminal/look_ahead.h"

namespace qiv_start::core {
namespace {

using TParts = std::vector<std::string>;

// The path's components by their keys on Windows, "." and empty ones left out, ".." resolved
// before the keys are taken, as Windows resolves it; none when ".." climbs above the start, which
// is then taken to touch everything.
std::optional<TParts> parts_of(std::string_view path) {
    TParts parts;
    std::size_t start = 0;
    for (std::size_t end = 0; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '\\' && path[end] != '/')
            continue;
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(windows_name_key(part));
        }
    }
    // A name of dots and blanks only is taken for the folder it is in, as Windows takes it at the
    // end of a path; elsewhere that orders at worst a few more files than needed.
    std::erase(parts, std::string());
    return parts;
}

// The paths that earlier files touched, as a tree of folders: a file finds the last earlier file
// it depends on in the nodes of its own path and of the folders above it.
class TTouched {
  public:
    // The nodes of the path and of the folders above it, from the top; missing ones are added.
    std::vector<std::size_t> walk(const TParts& parts) {
        std::vector<std::size_t> nodes{0};
        nodes.reserve(parts.size() + 1);
        for (const std::string& part : parts) {
            const auto [child, added] =
                nodes_[nodes.back()].children.try_emplace(part, nodes_.size());
            nodes.push_back(child->second);
            if (added)
                nodes_.emplace_back();
        }
        return nodes;
    }

    // The last earlier file at the same path or a folder above it, inside it, extracted from an
    // archive into a folder above it, or one that every later file waits for.
    std::optional<std::size_t> last_for(const std::vector<std::size_t>& path) const {
        std::optional<std::size_t> last = everything_;
        const auto take = [&](const std::optional<std::size_t>& file) {
            if (file)
                last = std::max(last.value_or(0), *file);
        };
        for (const std::size_t node : path) {
            take(nodes_[node].at);
            take(nodes_[node].extracted);
        }
        take(nodes_[path.back()].at_or_inside);
        return last;
    }

    void add(std::size_t file, const std::vector<std::size_t>& path) {
        nodes_[path.back()].at = file;
        for (const std::size_t node : path)
            nodes_[node].at_or_inside = file;
    }
    void add_extraction(std::size_t file, const TParts& folder) {
        nodes_[walk(folder).back()].extracted = file;
    }
    void add_everything(std::size_t file) { everything_ = file; }

  private:
    struct TNode {
        std::unordered_map<std::string, std::size_t> children;
        std::optional<std::size_t> at;
        std::optional<std::size_t> at_or_inside;
        std::optional<std::size_t> extracted;
    };
    std::vector<TNode> nodes_ = std::vector<TNode>(1);
    std::optional<std::size_t> everything_;
};

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
    std::vector<std::size_t> result(files.size(), TLookAhead::kNoPredecessor);
    TTouched touched;
    for (std::size_t index = 0; index < files.size(); ++index) {
        const TPlannedFile& file = files[index];
        const std::optional<TParts> path = parts_of(file.local_path);
        const std::optional<TParts> folder = parts_of(file.target_path);
        // A path that climbs out may be anywhere: it waits for every earlier file, and every
        // later one waits for it.
        if (!path) {
            if (index > 0)
                result[index] = index - 1;
            touched.add_everything(index);
            continue;
        }
        const std::vector<std::size_t> nodes = touched.walk(*path);
        if (const auto last = touched.last_for(nodes))
            result[index] = *last;
        // What a file unread here or extracted outside changes is not known before its turn.
        if (!file.readable || !folder) {
            touched.add_everything(index);
            continue;
        }
        touched.add(index, nodes);
        if (file.unzip)
            touched.add_extraction(index, *folder);
    }
    return result;
}

}  // namespace qiv_start::core
