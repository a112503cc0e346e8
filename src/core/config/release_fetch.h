// The release rule of a launcher built with trusted keys: the server list and the document come
// from one server, under a release record that verifies, is not older than one accepted before
// and has not expired.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/config/release.h"
#include "core/download/downloader.h"
#include "core/support/messages.h"

namespace qiv_start::core {

// What one server delivered under one release.
struct TReleaseCopy {
    std::string server;
    std::string record;  // the release's text
    TRelease release;
    std::string server_list;
    std::string document;
};

// What a release must satisfy on this workstation.
struct TReleasePolicy {
    TTrustedKeys keys;
    std::uint64_t highest_serial = 0;  // the highest accepted so far; equal ones are taken
    std::int64_t now = 0;              // seconds since 1970, UTC
};

// Asks the servers in their order; the first whose release and both files pass is taken. Each
// server that delivered a release but is passed over is told to `pass_over` with the reason, as a
// message for the user. Nothing when no server passed.
std::optional<TReleaseCopy> fetch_release(TDownloader& downloader,
                                          const std::vector<std::string>& servers,
                                          const TReleasePolicy& policy,
                                          const std::function<void(const std::string&)>& pass_over);

// The current time in seconds since 1970, UTC.
std::int64_t utc_now();

// The highest release serial accepted on this workstation. One that cannot be read counts as
// none, with the reason in the run log: only someone at the workstation can damage it, and they
// could as well remove it.
std::uint64_t accepted_serial(TCoreListener& listener);

// Stores the serial when it is higher than the one stored; nothing a server sends lowers it.
void accept_serial(std::uint64_t serial, TCoreListener& listener);

}  // namespace qiv_start::core
