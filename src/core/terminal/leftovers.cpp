#include "core/terminal/leftovers.h"

#include <set>

#include "core/support/ascii.h"
#include "core/support/error.h"
#include "core/terminal/zip_extract.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

// Windows names ignore letter case: a configured file is kept under any spelling of its name.
std::string folded(std::string path) {
    for (char& c : path)
        c = ascii_upper(c);
    return path;
}

struct TSweep {
    std::set<std::string> folders;
    std::set<std::string> kept;  // folded

    // A file the launcher writes: it stays, and its folder is swept.
    void add_path(const std::string& path) {
        const auto separator = path.rfind(platform::path_separator());
        folders.insert(separator == std::string::npos ? std::string() : path.substr(0, separator));
        kept.insert(folded(path));
    }

    // A file whose place cannot be read is left to its turn, which reports it. The members of an
    // archive are the launcher's files as much as the archive itself.
    void add(TFileConfig& file) {
        try {
            const auto local = locate(file);
            if (!local)
                return;
            add_path(local->path);
            if (file.unzip() && platform::file_exists(local->path)) {
                for (const std::string& member : member_files(local->path, local->directory))
                    add_path(member);
            }
        } catch (const TError&) {
        }
    }

    void remove_in(const std::string& folder) const {
        for (const std::string& entry : platform::list_directory(folder.empty() ? "." : folder)) {
            const std::string path =
                folder.empty() ? entry : folder + platform::path_separator() + entry;
            if (!platform::is_temporary_name(entry) || kept.contains(folded(path)))
                continue;
            try {
                platform::delete_file(path);
            } catch (const TError&) {
            }
        }
    }
};

}  // namespace

void remove_leftovers(const std::vector<TFileSection>& sections,
                      const std::vector<std::string>& other_folders) {
    TSweep sweep{{other_folders.begin(), other_folders.end()}, {}};
    for (const TFileSection& section : sections) {
        for (const auto& file : section.files)
            sweep.add(*file);
    }
    for (const std::string& folder : sweep.folders)
        sweep.remove_in(folder);
}

}  // namespace qiv_start::core
