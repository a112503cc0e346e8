#include "core/config/signed_fetch.h"

#include "core/support/stream.h"

namespace qiv_start::core {
namespace {

// A signature is 88 characters; anything much longer is none.
constexpr std::size_t kMaxSignatureSize = 4096;
const char* const kSignatureEnding = ".sig";

}  // namespace

// A copy that some server signed does not help another server's copy: someone on the path to one
// mirror can at most hold the workstation where it is.
std::optional<TSignedCopy> fetch_signed(TDownloader& downloader,
                                        const std::vector<std::string>& servers,
                                        const TSignedRequest& request, const TTrustedKeys& keys,
                                        const std::function<void(const std::string&)>& refused) {
    for (const std::string& server : servers) {
        TMemoryStream file(request.max_size);
        downloader.download_file_from(server, request.name, file);
        if (file.get_size() == 0)
            continue;
        TMemoryStream signature(kMaxSignatureSize);
        downloader.download_file_from(server, request.name + kSignatureEnding, signature);
        if (is_signed_by(file.data(), signature.data(), keys) &&
            (!request.is_acceptable || request.is_acceptable(file.data()))) {
            return TSignedCopy{file.data(), signature.data()};
        }
        refused(server);
    }
    return std::nullopt;
}

}  // namespace qiv_start::core
