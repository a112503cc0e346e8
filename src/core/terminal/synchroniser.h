// Brings configured files up to date inside the working folder: the digest check, the download
// into a temporary file, the replacement of the old copy in one rename and the extraction of
// archives.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/config/config.h"
#include "core/download/downloader.h"
#include "core/support/md5.h"
#include "core/support/messages.h"

namespace qiv_start::core {

// A downloader for a file fetched ahead, which starts it without waiting for it: it reports to
// the listener given, and a download under way ends soon once a stop is requested through the
// token.
using TDownloaderMaker = std::function<std::unique_ptr<TDownloader>(
    std::shared_ptr<TCoreListener> listener, std::stop_token stop)>;

// Downloads under way at the same time during a synchronisation, at most: each takes a
// connection of its own over HTTP/1.1, while over HTTP/2 they share one: libcurl puts up to 100
// streams on a connection before it opens another.
inline constexpr std::size_t kMaxTransfers = 8;
inline constexpr std::size_t kMaxMultiplexedTransfers = 96;

// Where a configured file lives: its folder and its path, native and inside the working folder.
struct TLocalFile {
    std::string directory;  // empty for the working folder itself
    std::string path;
};

// The file's place: its folder resolved inside the working folder and a plain name in it; nothing
// when either would lead out of the working folder.
std::optional<TLocalFile> locate(TFileConfig& file);

// What a file that locate() cannot place is reported with.
inline constexpr const char* kOutsideWorkingFolder = "Plik \"%0:s\" leży poza katalogiem roboczym.";

// Files dealt with together, announced by a message of their own.
struct TFileSection {
    std::string heading;  // sent as information before the section's files
    TFileConfigs files;
};

class TSynchroniser {
  public:
    // Every message goes to the listener, on the thread that synchronises. digests_bind: the
    // configuration is signed, so a copy that differs from its digests is never saved. With a
    // downloader maker and more than one transfer, the files after the one being dealt with are
    // checked and fetched ahead; what the listener sees stays the same. With one transfer, files
    // are taken one by one. When the downloader multiplexes, up to kMaxMultiplexedTransfers run
    // at once in place of kMaxTransfers.
    TSynchroniser(std::shared_ptr<TDownloader> downloader, std::shared_ptr<TCoreListener> listener,
                  bool digests_bind, TDownloaderMaker make_downloader = {},
                  std::size_t transfers = kMaxTransfers);
    ~TSynchroniser();
    TSynchroniser(const TSynchroniser&) = delete;
    TSynchroniser& operator=(const TSynchroniser&) = delete;

    // From now on the files with a SHA-256 come from the store under the folder (relative to
    // each server's base address, ending with '/'), and the others by name; with nothing, all
    // by name.
    void use_store(std::optional<std::string> folder);
    // Brings the sections' files up to date in their order. A file that cannot be brought in is
    // reported and the next one follows; an archive that cannot be read raises TError.
    void synchronise(const std::vector<TFileSection>& sections);
    // Downloads the file published under the name to path, which may lie outside the working
    // folder, from the first server whose copy matches the digests; false when none was saved,
    // with the reason as a detail for the run log.
    bool fetch_exact(const std::string& name, const std::string& path,
                     const TDigestPair& published);
    // Whether the file at the local path matched its digests in the last synchronisation.
    bool is_verified(const std::string& local_path) const;

  private:
    class TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace qiv_start::core
