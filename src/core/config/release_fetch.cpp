#include "core/config/release_fetch.h"

#include <chrono>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/repository_names.h"
#include "core/support/stream.h"
#include "platform/config_cache.h"

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

std::uint64_t accepted_serial(TCoreListener& listener) {
    try {
        return platform::read_release_serial();
    } catch (const TError& failure) {
        listener.notify(TCoreMessage(detail, failure.what()));
        return 0;
    }
}

void accept_serial(std::uint64_t serial, TCoreListener& listener) {
    if (serial > accepted_serial(listener))
        platform::write_release_serial(serial);
}

std::int64_t utc_now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace qiv_start::core
