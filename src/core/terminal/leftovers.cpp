#include "core/terminal/leftovers.h"

#include <set>

#include "core/download/kept_download.h"
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

    // An interrupted download of a configured file stays, with its record, while the record is
    // fresh and names a copy that the file holds part of: the next download goes on with it.
    bool resumable(const std::string& folder, const std::string& temporary_name) const {
        const std::string temporary = in(folder, temporary_name);
        const std::string target = temporary_name.substr(0, temporary_name.rfind(".part"));
        if (!kept.contains(folded(in(folder, target))))
            return false;
        const auto mark = read_kept_record(temporary);
        const std::int64_t size = platform::file_size(temporary);
        return mark && size > 0 && size < mark->length;
    }

    void remove_in(const std::string& folder) const {
        for (const std::string& entry : platform::list_directory(folder.empty() ? "." : folder)) {
            const std::string path = in(folder, entry);
            if (kept.contains(folded(path)))
                continue;
            const bool temporary = platform::is_temporary_name(entry);
            if (temporary) {
                if (resumable(folder, entry))
                    continue;
            } else if (is_kept_record_name(entry)) {
                const std::string temporary = entry.substr(0, entry.rfind('.'));
                if (platform::file_exists(in(folder, temporary)) && resumable(folder, temporary))
                    continue;
            } else {
                continue;
            }
            // A temporary file that another launcher is still writing stays: some files, such
            // as the list of servers, are written before the wait for the folder.
            try {
                if (temporary)
                    platform::remove_abandoned_temporary(path);
                else
                    platform::delete_file(path);
            } catch (const TError&) {
            }
        }
    }

    static std::string in(const std::string& folder, const std::string& entry) {
        return folder.empty() ? entry : folder + platform::path_separator() + entry;
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
