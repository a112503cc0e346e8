// Fetches one file from the repository.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/support/stream.h"

namespace qiv_start::core {

class TDownloader {
  public:
    virtual ~TDownloader() = default;
    // Writes the named file, from the first server that delivers it, into the (empty) stream and
    // leaves it positioned at 0. A failed download raises nothing and leaves the stream empty.
    virtual void download_file_from_server(const std::string& file_name, TStream& stream) = 0;
    // The same for a file that the servers hold under another path than its name (an object of
    // the store); what is reported names the file by its name, the run log's details the path.
    virtual void download_file_as(const std::string& file_name, const std::string& path,
                                  TStream& stream) {
        static_cast<void>(file_name);
        download_file_from_server(path, stream);
    }
    // The same as download_file_as without waiting: finished is told once the stream is as the
    // call above leaves it, on a thread of the downloader's, or on the caller's before this
    // returns; so are the messages. The stream and the downloader stay until then. This one
    // downloads at once.
    using TFinished = std::function<void()>;
    virtual void start_download_as(const std::string& file_name, const std::string& path,
                                   TStream& stream, const TFinished& finished) {
        download_file_as(file_name, path, stream);
        finished();
    }
    // The same from the one server with that base address, for what must come from the server
    // that delivered another file (a signature beside its document).
    virtual void download_file_from(const std::string& server, const std::string& file_name,
                                    TStream& stream) = 0;
    // Whether the servers' connections carry many downloads at once (HTTP/2), so that running
    // many at once costs no more connections.
    virtual bool multiplexes() const { return false; }
    // The servers in the order to ask them one by one: those that did not answer before, last.
    virtual std::vector<std::string> in_asking_order(std::vector<std::string> servers) const {
        return servers;
    }
};

}  // namespace qiv_start::core
