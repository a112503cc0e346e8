#include "qiv_repo/release_history.h"

#include <algorithm>

#include "core/support/error.h"
#include "core/support/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "qiv_repo/repository.h"

namespace qiv_start::repo {
namespace {

const char* const kTimeName = "published";

std::string folder_of(const std::string& directory, std::uint64_t serial) {
    return core::join_path(repository_path(directory, kReleasesFolder), std::to_string(serial));
}

std::optional<TKeptRelease> read_kept(const std::string& folder) {
    const auto path = [&](const char* name) { return core::join_path(folder, name); };
    if (!platform::file_exists(path(core::kReleaseName)) || !platform::file_exists(path(kTimeName)))
        return std::nullopt;
    TKeptRelease kept;
    kept.record = platform::read_file(path(core::kReleaseName));
    const auto release = core::parse_release(kept.record);
    std::string time = platform::read_file(path(kTimeName));
    if (!time.empty() && time.back() == '\n')
        time.pop_back();
    const auto seconds = core::parse_utc(time);
    if (!release || !seconds)
        return std::nullopt;
    kept.release = *release;
    kept.time = *seconds;
    kept.document = platform::read_file(path(kDocumentName));
    kept.servers = platform::read_file(path(kServerListName));
    if (core::describe(kept.document) != release->document ||
        core::describe(kept.servers) != release->servers)
        return std::nullopt;
    return kept;
}

std::string child_text(const core::TXMLNode& parent, const std::string& name) {
    const auto child = find_child(parent, name);
    return child ? child->get_text() : std::string();
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return text;
}

}  // namespace

std::vector<TKeptRelease> read_history(const std::string& directory) {
    std::vector<TKeptRelease> history;
    const std::string releases = repository_path(directory, kReleasesFolder);
    for (const std::string& name : platform::list_directory(releases)) {
        try {
            auto kept = read_kept(core::join_path(releases, name));
            if (kept && std::to_string(kept->release.serial) == name)
                history.push_back(std::move(*kept));
        } catch (const core::TError&) {
            // an unreadable folder keeps no release
        }
    }
    std::sort(history.begin(), history.end(),
              [](const auto& a, const auto& b) { return a.release.serial < b.release.serial; });
    return history;
}

void keep_release(const std::string& directory, const TKeptRelease& kept) {
    const std::string folder = folder_of(directory, kept.release.serial);
    if (!platform::create_directories(folder))
        throw core::TError("nie udało się utworzyć katalogu " + folder);
    const auto path = [&](const char* name) { return core::join_path(folder, name); };
    platform::write_file_atomic(path(kDocumentName), kept.document);
    platform::write_file_atomic(path(kServerListName), kept.servers);
    platform::write_file_atomic(path(kTimeName), core::format_utc(kept.time) + "\n");
    platform::write_file_atomic(path(core::kReleaseName), kept.record);
}

bool is_signed(const std::string& record) {
    return record.find("\nsignature ") != std::string::npos;
}

TDocumentContents document_contents(const std::string& bytes) {
    const TDocument document = load_document(bytes, platform::ansi_code_page());
    TDocumentContents contents;
    for (const TFileEntry& entry : file_entries(*document.root))
        contents.files[child_text(entry.element, "name")] =
            lower(child_text(entry.element, "sha256"));
    for (const auto& terminal : document.root->get_terminal().items())
        contents.terminals.emplace_back(child_text(terminal, "id"),
                                        child_text(terminal, "version"));
    return contents;
}

std::string terminal_versions(const TDocumentContents& contents) {
    std::string text;
    for (const auto& [code, version] : contents.terminals)
        text += (text.empty() ? "" : ", ") + code + " " + (version.empty() ? "?" : version);
    return text.empty() ? "-" : text;
}

}  // namespace qiv_start::repo
