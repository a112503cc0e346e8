// Files that count only with a trusted signature from the same server: the configuration document
// and the list of servers.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/download/downloader.h"
#include "core/support/signature.h"

namespace qiv_start::core {

// A file's bytes as one server delivered them, with the signature that verifies them.
struct TSignedCopy {
    std::string bytes;
    std::string signature;
};

// What is fetched: the file, its signature beside it under the name with ".sig", and a check of
// a signed copy's content (any content passes without one).
struct TSignedRequest {
    std::string name;
    std::size_t max_size;  // the download is cut off there
    std::function<bool(const std::string& bytes)> is_acceptable;
};

// Asks the servers in their order for the file and, from the same server, its signature; the
// first copy that a trusted key verifies and that is acceptable is taken. Each server whose copy
// was refused is passed to `refused`. Nothing when no server delivered such a copy.
std::optional<TSignedCopy> fetch_signed(TDownloader& downloader,
                                        const std::vector<std::string>& servers,
                                        const TSignedRequest& request, const TTrustedKeys& keys,
                                        const std::function<void(const std::string&)>& refused);

}  // namespace qiv_start::core
