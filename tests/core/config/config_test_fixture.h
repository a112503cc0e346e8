// Surroundings for the configuration tests: a scripted downloader, a private cache location and a
// private current directory.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/config/config_prod.h"
#include "core/download/downloader.h"
#include "core/support/error.h"
#include "platform/config_cache.h"
#include "platform/text.h"
#include "support/environment.h"
#include "support/recording_listener.h"
#include "support/temp_dir.h"

namespace qiv_start::test {

// Delivers the scripted bytes for every request, or nothing when there are none; a download from
// one server delivers what that server's mirror holds under the name.
class TScriptedDownloader : public core::TDownloader {
  public:
    explicit TScriptedDownloader(std::optional<std::string> bytes = std::nullopt)
        : bytes(std::move(bytes)) {}

    void download_file_from_server(const std::string& file_name, core::TStream& stream) override {
        requests.push_back(file_name);
        deliver(bytes, stream);
    }

    void download_file_from(const std::string& server, const std::string& file_name,
                            core::TStream& stream) override {
        requests.push_back(server + file_name);
        const auto files = mirrors.find(server);
        if (files != mirrors.end() && files->second.contains(file_name))
            deliver(files->second.at(file_name), stream);
    }
    std::vector<std::string> in_asking_order(std::vector<std::string> servers) const override {
        std::stable_partition(servers.begin(), servers.end(),
                              [this](const std::string& s) { return !unanswering.contains(s); });
        return servers;
    }

    std::optional<std::string> bytes;
    std::map<std::string, std::map<std::string, std::string>> mirrors;  // server -> name -> bytes
    std::vector<std::string> requests;
    std::set<std::string> unanswering;  // asked last

  private:
    // A body past the stream's bound is cut off, and nothing is left of it, as in the real one.
    static void deliver(const std::optional<std::string>& content, core::TStream& stream) {
        if (!content)
            return;
        try {
            stream.write(content->data(), content->size());
        } catch (const core::TError&) {
            stream.clear();
        }
        stream.set_position(0);
    }
};

// Points XDG_CONFIG_HOME at a temporary directory and makes another one the current directory for
// the object's lifetime.
class TConfigSandbox {
  public:
    TConfigSandbox()
        : config_home_("XDG_CONFIG_HOME", home_.path().string()), current_(work_.path()) {}

    std::filesystem::path cache_file() const {
        return home_.path() / "QIV" / "QIV_START" / "version_file";
    }
    std::filesystem::path local_copy() const { return work_.path() / "qiv_start_2.xml"; }
#ifdef _WIN32
    // The cache is a registry value there, in the private HKEY_CURRENT_USER.
    bool has_cache() const {
        return platform::read_version_file().has_value();
    }
    std::string cache() const {
        return platform::read_version_file().value_or("");
    }
    void set_cache(const std::string& text) const {
        platform::write_version_file(text);
    }
#else
    bool has_cache() const {
        return std::filesystem::exists(cache_file());
    }
    std::string cache() const {
        return read_bytes(cache_file());
    }
    void set_cache(const std::string& text) const {
        write_bytes(cache_file(), text);
    }
#endif

  private:
    TTempDir home_;
    TTempDir work_;
    TScopedEnv config_home_;
    TPrivateUserRegistry registry_;
    TCurrentDir current_;
};

// The document element with the target namespace around body.
inline std::string qiv_document(const std::string& body) {
    return "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\">" + body + "</qiv_start>";
}

// A configuration over a scripted downloader, with the listener and downloader kept at hand.
struct TConfigUnderTest {
    explicit TConfigUnderTest(std::optional<std::string> bytes,
                              unsigned code_page = platform::kCodePageUtf8)
        : listener(std::make_shared<TRecordingListener>()),
          downloader(std::make_shared<TScriptedDownloader>(std::move(bytes))),
          config(std::make_shared<core::TConfigProd>(
              listener, downloader, std::vector<std::string>{"http://a/", "http://b/"},
              code_page)) {}

    std::shared_ptr<TRecordingListener> listener;
    std::shared_ptr<TScriptedDownloader> downloader;
    std::shared_ptr<core::TConfigProd> config;
};

}  // namespace qiv_start::test
