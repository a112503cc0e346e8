#include "core/config/release_fetch.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/paths.h"
#include "core/support/repository_names.h"
#include "core/support/stream.h"
#include "platform/config_cache.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

// The files a release binds, each with the size past which no release is believed.
struct TBoundFile {
    const char* name;
    std::size_t max_size;
};
constexpr TBoundFile kServerList{kServerListName, kMaxServerListSize};
constexpr TBoundFile kDocument{kDocumentName, kMaxDocumentSize};

const char* const kNotSigned = "Plik \"%0:s\" z serwera %1:s nie ma ważnego podpisu.";
const char* const kOlder =
    "Wydanie nr %0:s z serwera %1:s jest starsze niż przyjęte już wydanie nr %2:s.";
const char* const kExpired = "Wydanie nr %0:s z serwera %1:s wygasło %2:s.";
const char* const kNotInRelease = "Plik \"%0:s\" z serwera %1:s nie zgadza się z wydaniem nr %2:s.";

// The bytes of a file that one server delivers, never more than max_size of them.
std::string download_from(TDownloader& downloader, const std::string& server,
                          const std::string& name, std::size_t max_size) {
    TMemoryStream stream(max_size);
    downloader.download_file_from(server, name, stream);
    return stream.data();
}

// Why the release cannot be used here, or nothing.
std::optional<std::string> refusal_of(const TRelease& release, const std::string& server,
                                      const TReleasePolicy& policy) {
    const std::string serial = std::to_string(release.serial);
    if (release.serial < policy.highest_serial)
        return format(kOlder, {serial, server, std::to_string(policy.highest_serial)});
    if (release.expires && *release.expires <= policy.now)
        return format(kExpired, {serial, server, utc_text(*release.expires)});
    return std::nullopt;
}

// A file of the release from the same server: no more bytes than the release states, and only
// the bytes it describes.
std::optional<std::string> fetch_described(TDownloader& downloader, const std::string& server,
                                           const TBoundFile& bound, const TReleaseFile& file) {
    if (file.size > bound.max_size)
        return std::nullopt;
    std::string bytes =
        download_from(downloader, server, bound.name, static_cast<std::size_t>(file.size));
    if (describe(bytes) != file)
        return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<TReleaseCopy> fetch_release(
    TDownloader& downloader, const std::vector<std::string>& servers, const TReleasePolicy& policy,
    const std::function<void(const std::string&)>& pass_over) {
    for (const std::string& server : downloader.in_asking_order(servers)) {
        std::string record = download_from(downloader, server, kReleaseName, kMaxReleaseSize);
        if (record.empty())
            continue;
        const auto release = verify_release(record, policy.keys);
        if (!release) {
            pass_over(format(kNotSigned, {kReleaseName, server}));
            continue;
        }
        if (const auto refusal = refusal_of(*release, server, policy)) {
            pass_over(*refusal);
            continue;
        }
        auto server_list = fetch_described(downloader, server, kServerList, release->servers);
        auto document = server_list
                            ? fetch_described(downloader, server, kDocument, release->document)
                            : std::nullopt;
        if (server_list && document) {
            return TReleaseCopy{server, std::move(record), *release, std::move(*server_list),
                                std::move(*document)};
        }
        pass_over(format(kNotInRelease, {server_list ? kDocument.name : kServerList.name, server,
                                         std::to_string(release->serial)}));
    }
    return std::nullopt;
}

namespace {

// The serial kept beside the files it protects, so that a reset profile, whose cache starts
// anew, still refuses what the working folder has outgrown.
std::string folder_serial_path() {
    const std::optional<std::string> path = resolve_inside(kLocalReleaseSerial);
    if (!path)
        throw TIoError(std::string(kLocalReleaseSerial) + " leads out of the working folder");
    return *path;
}

std::uint64_t read_folder_serial() {
    const std::string path = folder_serial_path();
    if (!platform::file_exists(path))
        return 0;
    const std::string text = platform::read_file(path);
    std::uint64_t serial = 0;
    const char* const end = text.data() + text.size();
    const auto [last, failure] = std::from_chars(text.data(), end, serial);
    if (failure != std::errc() || text.empty() || std::string_view(last, end - last) != "\n")
        throw TIoError("Not a release serial number in \"" + path + "\"");
    return serial;
}

void write_folder_serial(std::uint64_t serial) {
    platform::write_file_atomic(folder_serial_path(), std::to_string(serial) + "\n");
}

// One that cannot be read counts as none, with the reason in the run log.
std::uint64_t read_or_none(std::uint64_t (*read)(), TCoreListener& listener) {
    try {
        return read();
    } catch (const TError& failure) {
        listener.notify(TCoreMessage(detail, failure.what()));
        return 0;
    }
}

}  // namespace

std::uint64_t accepted_serial(TCoreListener& listener) {
    return std::max(read_or_none(platform::read_release_serial, listener),
                    read_or_none(read_folder_serial, listener));
}

// Each place is raised on its own: a reset profile gets its cache's serial back. A working folder
// that cannot be written (read-only) keeps its own, with the reason in the run log.
void accept_serial(std::uint64_t serial, TCoreListener& listener) {
    if (serial > read_or_none(platform::read_release_serial, listener))
        platform::write_release_serial(serial);
    if (serial > read_or_none(read_folder_serial, listener)) {
        try {
            write_folder_serial(serial);
        } catch (const TError& failure) {
            listener.notify(TCoreMessage(detail, failure.what()));
        }
    }
}

std::int64_t utc_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace qiv_start::core
