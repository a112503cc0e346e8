#include "core/terminal/synchroniser.h"

#include <algorithm>
#include <set>

#include "core/download/verified_file_stream.h"
#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/md5.h"
#include "core/support/paths.h"
#include "core/support/repository_names.h"
#include "core/terminal/look_ahead.h"
#include "core/terminal/sync_plan.h"
#include "core/terminal/zip_extract.h"
#include "platform/files.h"

namespace qiv_start::core {
namespace {

const char* const kCheckingVersion = "Sprawdzanie wersji pliku|%0:s";
const char* const kVersionCurrent = "Wersji pliku jest poprawna|%0:s";
const char* const kCannotDelete = "Błąd podczas usuwania pliku \"%0:s\": %1:s";
const char* const kCannotSave = "Błąd zapisywania pliku \"%0:s\": %1:s";
const char* const kNothingDelivered = "Niemożliwe było sciągnięcie pliku";
const char* const kDigestMismatch =
    "Suma kontrolna pobranego pliku \"%0:s\" nie zgadza się z ustawieniami.";
const char* const kNoSha256 =
    "Plik \"%0:s\" nie ma w ustawieniach sumy SHA-256; nie zostanie pobrany ani uruchomiony.";
const char* const kNoMatchingCopy = "Żaden serwer nie ma pliku \"%0:s\" zgodnego z ustawieniami.";
const char* const kMismatchNotSaved =
    "Plik \"%0:s\" nie został zapisany: jego suma kontrolna nie zgadza się z ustawieniami.";

// The threads that work on the files ahead (digest checks, flushes to disk) while their
// downloads, which hold none, are under way, and how much further ahead of the file being dealt
// with than the downloads under way they may be: fetched files wait in their temporary files, so
// that one slow file holds up the others less. Neither grows with the downloads that a
// multiplexed connection carries at once.
constexpr std::size_t kLookAheadThreads = kMaxTransfers;
constexpr std::size_t kLookAheadSpareWindow = 3 * kMaxTransfers;

// Why the old copy cannot be replaced, when another program holds it open: a download would be in
// vain, on this start and the next.
std::optional<std::string> in_use(const std::string& path) {
    try {
        platform::check_replaceable(path);
        return std::nullopt;
    } catch (const platform::TFileInUseError& failure) {
        return failure.what();
    }
}

// The local copy has the published MD5 and, when one is published, SHA-256.
bool matches_digests(const std::string& path, const TDigestPair& published) {
    const TDigestPair digests = get_file_digests(path, !published.sha256.empty());
    return is_current_digest(digests.md5, published.md5) && digests_match(digests, published);
}

// The name of the object that holds the bytes with this SHA-256: its 64 digits in lower case;
// nothing for a text that is no such digest.
std::optional<std::string> object_name(const std::string& sha256) {
    if (sha256.size() != 64 || !std::all_of(sha256.begin(), sha256.end(), [](char c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        }))
        return std::nullopt;
    std::string name = sha256;
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return name;
}

}  // namespace

std::optional<TLocalFile> locate(TFileConfig& file) {
    const std::string name = file.get_name();
    std::optional<std::string> directory = resolve_inside(file.get_relative_target_path());
    if (!directory || !is_plain_name(name))
        return std::nullopt;
    std::string path = directory->empty() ? name : *directory + platform::path_separator() + name;
    return TLocalFile{std::move(*directory), std::move(path)};
}

class TSynchroniser::TImpl {
  public:
    TImpl(std::shared_ptr<TDownloader> downloader, std::shared_ptr<TCoreListener> listener,
          bool digests_bind, TDownloaderMaker make_downloader, std::size_t transfers)
        : downloader_(std::move(downloader)),
          listener_(std::move(listener)),
          make_downloader_(std::move(make_downloader)),
          transfers_(transfers),
          digests_bind_(digests_bind) {}

    void synchronise(const std::vector<TFileSection>& sections);
    bool fetch_exact(const std::string& name, const std::string& path,
                     const TDigestPair& published);
    bool is_verified(const std::string& local_path) const { return verified_.contains(local_path); }
    void use_store(std::optional<std::string> folder) { store_ = std::move(folder); }

  private:
    // What a file's turn takes over from the work done ahead.
    struct TFetched {
        bool current = false;
        std::unique_ptr<TVerifiedFileStream> stream;  // none when current or not fetched
        std::optional<std::string> error;  // what the turn reports instead of replacing the file
        std::unique_ptr<TDownloader> downloader;  // the one that fetched it, gone before the stream
    };

    void sync_one_by_one(const std::vector<TFileSection>& sections);
    void update_file(const std::shared_ptr<TFileConfig>& file);
    bool is_current(TFileConfig& file, const TLocalFile& local);
    bool download_file(TFileConfig& file, const TLocalFile& local);
    bool store_download(TVerifiedFileStream& stream, const std::string& name,
                        const std::string& path);
    bool replace_old_copy(TVerifiedFileStream& stream, const std::string& name);
    void sync_ahead(const std::vector<TFileSection>& sections, std::size_t transfers);
    TLookAhead::TStep check_ahead(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                                  const TLocalFile& local, TFetched& fetched, TCoreListener& record,
                                  const std::stop_token& stop);
    TLookAhead::TStep download_ahead(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                                     TFetched& fetched, TCoreListener& record,
                                     const std::stop_token& stop);
    static void flush_download(const TPlannedFile& file, TFetched& fetched);
    void take_turn(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                   const std::optional<TLocalFile>& local, TFetched& fetched);
    std::string source(const std::string& name, const std::string& sha256) const;
    static void extract_archive(const std::string& directory, const std::string& name);
    void send(const TMessageType& type, const std::string& text);

    std::shared_ptr<TDownloader> downloader_;
    std::shared_ptr<TCoreListener> listener_;
    TDownloaderMaker make_downloader_;
    std::size_t transfers_;
    bool digests_bind_;
    // The local paths whose files matched their digests in this run.
    std::set<std::string> verified_;
    std::optional<std::string> store_;
};

void TSynchroniser::TImpl::synchronise(const std::vector<TFileSection>& sections) {
    verified_.clear();
    if (make_downloader_ && transfers_ > 1)
        sync_ahead(sections, transfers_ == kMaxTransfers && downloader_->multiplexes()
                                 ? kMaxMultiplexedTransfers
                                 : transfers_);
    else
        sync_one_by_one(sections);
}

bool TSynchroniser::TImpl::fetch_exact(const std::string& name, const std::string& path,
                                       const TDigestPair& published) {
    const std::size_t separator = path.find_last_of(platform::path_separator());
    TVerifiedFileStream stream(separator == std::string::npos ? "" : path.substr(0, separator),
                               path, published, false);
    downloader_->download_file_as(name, source(name, published.sha256), stream);
    try {
        if (const auto& failure = stream.write_failure())
            throw TError(*failure);
        if (!stream.is_verified()) {
            send(detail, format(kNoMatchingCopy, {name}));
            return false;
        }
        stream.commit();
        return true;
    } catch (const TError& failure) {
        send(detail, format(kCannotSave, {name, failure.what()}));
        return false;
    }
}

void TSynchroniser::TImpl::sync_one_by_one(const std::vector<TFileSection>& sections) {
    for (const TFileSection& section : sections) {
        send(info, section.heading);
        for (const auto& file : section.files)
            update_file(file);
    }
}

void TSynchroniser::TImpl::update_file(const std::shared_ptr<TFileConfig>& file) {
    const std::optional<TLocalFile> local = locate(*file);
    if (!local) {
        send(error, format(kOutsideWorkingFolder, {file->get_name()}));
        return;
    }
    // MD5 alone binds nothing: a copy with a forged one would pass.
    if (digests_bind_ && file->get_sha256().empty()) {
        send(error, format(kNoSha256, {file->get_name()}));
        return;
    }
    if (!is_current(*file, *local) && !download_file(*file, *local))
        return;
    if (file->unzip())
        extract_archive(local->directory, file->get_name());
}

bool TSynchroniser::TImpl::is_current(TFileConfig& file, const TLocalFile& local) {
    if (!platform::file_exists(local.path))
        return false;
    const std::string name = file.get_name();
    send(info, format(kCheckingVersion, {name}));
    if (!matches_digests(local.path, {file.get_hash(), file.get_sha256()}))
        return false;
    verified_.insert(local.path);
    send(info, format(kVersionCurrent, {name}));
    return true;
}

// The new copy arrives in a temporary file beside the old one, which stays until that copy is
// complete and then goes in one rename. False when the file could not be brought in.
bool TSynchroniser::TImpl::download_file(TFileConfig& file, const TLocalFile& local) {
    const std::string name = file.get_name();
    if (const auto reason = in_use(local.path)) {
        send(error, format(kCannotDelete, {name, *reason}));
        return false;
    }
    // Under a signed configuration the digests are what the administrator vouches for: a copy
    // that differs from them never stands in for the file.
    TVerifiedFileStream stream(local.directory, local.path, {file.get_hash(), file.get_sha256()},
                               !digests_bind_);
    downloader_->download_file_as(name, source(name, file.get_sha256()), stream);
    return store_download(stream, name, local.path);
}

bool TSynchroniser::TImpl::store_download(TVerifiedFileStream& stream, const std::string& name,
                                          const std::string& path) {
    if (const auto& failure = stream.write_failure()) {
        send(error, format(kCannotSave, {name, *failure}));
        return false;
    }
    if (!stream.has_copy()) {
        send(error, stream.had_mismatch() ? format(kMismatchNotSaved, {name})
                                          : format(kCannotSave, {name, kNothingDelivered}));
        return false;
    }
    if (!replace_old_copy(stream, name))
        return false;
    if (stream.is_verified()) {
        verified_.insert(path);
    } else {
        send(warning, format(kDigestMismatch, {name}));
    }
    return true;
}

bool TSynchroniser::TImpl::replace_old_copy(TVerifiedFileStream& stream, const std::string& name) {
    try {
        stream.commit();
        return true;
    } catch (const platform::TFileInUseError& failure) {
        send(error, format(kCannotDelete, {name, failure.what()}));
    } catch (const TError& failure) {
        send(error, format(kCannotSave, {name, failure.what()}));
    }
    return false;
}

// The checks run ahead on the look-ahead's threads, and the downloads ahead on the connection
// pool's engine, each file's messages kept for its turn. The turns come in order and do, with what
// was fetched, what update_file does; a section's heading goes out before the turn of its first
// file.
void TSynchroniser::TImpl::sync_ahead(const std::vector<TFileSection>& sections,
                                      std::size_t transfers) {
    std::vector<TPlannedFile> plan;
    std::vector<std::optional<TLocalFile>> locals;
    std::vector<std::size_t> firsts;  // each section's first file
    for (const TFileSection& section : sections) {
        firsts.push_back(plan.size());
        for (const auto& file : section.files) {
            plan.push_back(plan_file(file));
            locals.push_back(plan.back().readable ? locate(*file) : std::nullopt);
            // One outside the working folder, or one that a signed configuration does not bind,
            // is reported at its turn, the way it always was.
            plan.back().readable = plan.back().readable && locals.back().has_value() &&
                                   !(digests_bind_ && plan.back().sha256.empty());
        }
    }
    // Declared before the look-ahead: what was fetched and not used goes only after the
    // preparations have ended, and takes its temporary file with it.
    std::vector<TFetched> fetched(plan.size());
    const std::size_t threads = std::min(transfers, kLookAheadThreads);
    const std::size_t window = transfers + threads * kLookAheadSpareWindow / kLookAheadThreads;
    TLookAhead ahead(predecessors(plan), threads, window, transfers,
                     [&](std::size_t index, TCoreListener& record, std::stop_token stop) {
                         if (!plan[index].readable)
                             return TLookAhead::TStep::ended();
                         return check_ahead(ahead, index, plan[index], *locals[index],
                                            fetched[index], record, stop);
                     });
    std::size_t announced = 0;
    const auto announce_up_to = [&](std::size_t index) {
        for (; announced < sections.size() && firsts[announced] <= index; ++announced)
            send(info, sections[announced].heading);
    };
    for (std::size_t index = 0; index < plan.size(); ++index) {
        announce_up_to(index);
        take_turn(ahead, index, plan[index], locals[index], fetched[index]);
    }
    announce_up_to(plan.size());
}

// Runs on a worker: the digest check, then, once a download's slot is free, the download into a
// temporary file; nothing that changes the file itself.
TLookAhead::TStep TSynchroniser::TImpl::check_ahead(TLookAhead& ahead, std::size_t index,
                                                    const TPlannedFile& file,
                                                    const TLocalFile& local, TFetched& fetched,
                                                    TCoreListener& record,
                                                    const std::stop_token& stop) {
    if (platform::file_exists(local.path)) {
        record.notify(TCoreMessage(info, format(kCheckingVersion, {file.name})));
        fetched.current = matches_digests(local.path, {file.hash, file.sha256});
        if (fetched.current) {
            record.notify(TCoreMessage(info, format(kVersionCurrent, {file.name})));
            return TLookAhead::TStep::ended();
        }
        if (const auto reason = in_use(local.path)) {
            fetched.error = format(kCannotDelete, {file.name, *reason});
            return TLookAhead::TStep::ended();
        }
    }
    fetched.stream = std::make_unique<TVerifiedFileStream>(
        local.directory, local.path, TDigestPair{file.hash, file.sha256}, !digests_bind_);
    return TLookAhead::TStep::after_slot([this, &ahead, index, &file, &fetched, &record, stop] {
        return download_ahead(ahead, index, file, fetched, record, stop);
    });
}

// The download goes on without a thread; its end resumes the file's preparation.
TLookAhead::TStep TSynchroniser::TImpl::download_ahead(TLookAhead& ahead, std::size_t index,
                                                       const TPlannedFile& file, TFetched& fetched,
                                                       TCoreListener& record,
                                                       const std::stop_token& stop) {
    // The record outlives the downloader, which goes at the file's turn.
    const std::shared_ptr<TCoreListener> listener(std::shared_ptr<TCoreListener>(), &record);
    fetched.downloader = make_downloader_(listener, stop);
    fetched.downloader->start_download_as(file.name, source(file.name, file.sha256),
                                          *fetched.stream, [&ahead, index, &file, &fetched] {
                                              ahead.resume(index, [&file, &fetched] {
                                                  flush_download(file, fetched);
                                                  return TLookAhead::TStep::ended();
                                              });
                                          });
    return TLookAhead::TStep::suspended();
}

// The data goes to the disk here, outside the download's slot, so that the replacement at the
// turn is quick.
void TSynchroniser::TImpl::flush_download(const TPlannedFile& file, TFetched& fetched) {
    try {
        fetched.stream->flush();
    } catch (const TError& failure) {
        fetched.error = format(kCannotSave, {file.name, failure.what()});
    }
}

void TSynchroniser::TImpl::take_turn(TLookAhead& ahead, std::size_t index, const TPlannedFile& file,
                                     const std::optional<TLocalFile>& local, TFetched& fetched) {
    if (!file.readable) {
        update_file(file.config);
    } else {
        ahead.follow(index, *listener_);
        bool present = fetched.current;
        if (present)
            verified_.insert(local->path);
        else if (fetched.error)
            send(error, *fetched.error);
        else
            present = store_download(*fetched.stream, file.name, local->path);
        if (present && file.unzip)
            extract_archive(local->directory, file.name);
        fetched = {};
    }
    ahead.finish(index);
}

// An object's name is its digest: a file whose digest is not one cannot be in the store, and is
// asked for by name, for the digests to judge.
// Where the servers hold the file: its object in the store, else under its name.
std::string TSynchroniser::TImpl::source(const std::string& name, const std::string& sha256) const {
    const std::optional<std::string> object = store_ ? object_name(sha256) : std::nullopt;
    return object ? object_path(*store_, *object) : name;
}

void TSynchroniser::TImpl::extract_archive(const std::string& directory, const std::string& name) {
    const std::string archive =
        directory.empty() ? name : directory + platform::path_separator() + name;
    extract_missing_members(archive, directory.empty() ? "." : directory);
}

void TSynchroniser::TImpl::send(const TMessageType& type, const std::string& text) {
    listener_->notify(TCoreMessage(type, text));
}

TSynchroniser::TSynchroniser(std::shared_ptr<TDownloader> downloader,
                             std::shared_ptr<TCoreListener> listener, bool digests_bind,
                             TDownloaderMaker make_downloader, std::size_t transfers)
    : impl_(std::make_unique<TImpl>(std::move(downloader), std::move(listener), digests_bind,
                                    std::move(make_downloader), transfers)) {}

TSynchroniser::~TSynchroniser() = default;

void TSynchroniser::synchronise(const std::vector<TFileSection>& sections) {
    impl_->synchronise(sections);
}

bool TSynchroniser::fetch_exact(const std::string& name, const std::string& path,
                                const TDigestPair& published) {
    return impl_->fetch_exact(name, path, published);
}

void TSynchroniser::use_store(std::optional<std::string> folder) {
    impl_->use_store(std::move(folder));
}

bool TSynchroniser::is_verified(const std::string& local_path) const {
    return impl_->is_verified(local_path);
}

}  // namespace qiv_start::core
