// A downloader that serves files from a map, the way the real one fills the caller's stream.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "core/download/downloader.h"
#include "core/support/error.h"

namespace qiv_start::test {

class TScriptedDownloader : public core::TDownloader {
  public:
    std::map<std::string, std::string> files;  // name -> content; a missing name is not delivered
    std::vector<std::string> requested;        // every name asked for, in order
    // Each download first receives a few bytes from a server that then fails, as when the next
    // server has to be tried.
    bool restart_each_download = false;

    void download_file_from_server(const std::string& file_name, core::TStream& stream) override {
        requested.push_back(file_name);
        if (restart_each_download) {
            stream.clear();
            stream.write("broken", 6);
        }
        const auto found = files.find(file_name);
        stream.clear();
        if (found == files.end())
            return;
        // Several small pieces, as the bytes arrive from the network. A local write failure
        // ends the download at once, as it does in the real one.
        const std::string& content = found->second;
        try {
            for (std::size_t at = 0; at < content.size(); at += kPiece) {
                stream.write(content.data() + at, std::min(kPiece, content.size() - at));
            }
        } catch (const core::TIoError&) {
            return;
        }
        // The only server: what it delivered stays whether the stream takes it or not.
        stream.accept();
        stream.set_position(0);
    }

    // Every server serves the same files.
    void download_file_from(const std::string&, const std::string& file_name,
                            core::TStream& stream) override {
        download_file_from_server(file_name, stream);
    }

    std::size_t count(const std::string& file_name) const {
        return static_cast<std::size_t>(std::count(requested.begin(), requested.end(), file_name));
    }

  private:
    static constexpr std::size_t kPiece = 5;
};

}  // namespace qiv_start::test
