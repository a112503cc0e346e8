// Arbitrary bytes as the repository's configuration document, then as the cached text, read
// through every getter of the configuration objects. The target makes a temporary directory the
// current one, so give the fuzzer absolute paths (corpus, -artifact_prefix, -dict).
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/config/config_prod.h"
#include "core/support/error.h"
#include "platform/config_cache.h"
#include "platform/text.h"

namespace {

using namespace qiv_start;

class TDeliveringDownloader : public core::TDownloader {
  public:
    explicit TDeliveringDownloader(std::optional<std::string> bytes) : bytes_(std::move(bytes)) {}
    void download_file_from_server(const std::string&, core::TStream& stream) override {
        if (!bytes_)
            return;
        stream.write(bytes_->data(), bytes_->size());
        stream.set_position(0);
    }
    void download_file_from(const std::string&, const std::string& file_name,
                            core::TStream& stream) override {
        download_file_from_server(file_name, stream);
    }

  private:
    std::optional<std::string> bytes_;
};

class TQuietListener : public core::TCoreListener {
  public:
    void notify(const core::TCoreMessage&) override {}
};

// Cache and local copy go to a directory of their own, entered once for the whole run and
// removed at its end.
class TSandbox {
  public:
    TSandbox() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qiv_config_fuzz_XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        directory_ = pattern;
        ::setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
        std::filesystem::current_path(directory_);
    }
    ~TSandbox() {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
    std::filesystem::path cache_file() const {
        return directory_ / "QIV" / "QIV_START" / "version_file";
    }

  private:
    std::filesystem::path directory_;
};

template <class Call>
void ignoring_errors(Call call) {
    try {
        call();
    } catch (const core::TError&) {
    }
}

void read_file(core::TFileConfig& file) {
    ignoring_errors([&] { file.get_name(); });
    ignoring_errors([&] { file.get_hash(); });
    ignoring_errors([&] { file.get_sha256(); });
    ignoring_errors([&] { file.get_relative_target_path(); });
    ignoring_errors([&] { file.get_relative_source_path(); });
    ignoring_errors([&] { file.unzip(); });
}

void read_terminal(core::TTerminalConfig& terminal) {
    ignoring_errors([&] { terminal.get_name(); });
    ignoring_errors([&] { terminal.get_version(); });
    ignoring_errors([&] { terminal.get_id_code(); });
    ignoring_errors([&] { terminal.is_accessed_by_all(); });
    ignoring_errors([&] { read_file(*terminal.get_exe_file()); });
    ignoring_errors([&] {
        for (const auto& file : terminal.get_files())
            read_file(*file);
    });
}

void read_config(core::TConfig& config) {
    ignoring_errors([&] { config.get_hash(); });
    ignoring_errors([&] { config.get_servers(); });
    ignoring_errors([&] {
        for (const auto& terminal : config.get_terminals())
            read_terminal(*terminal);
    });
    ignoring_errors([&] {
        for (const auto& file : config.get_default_files())
            read_file(*file);
    });
    ignoring_errors([&] { config.get_restricted_networks(); });
    ignoring_errors([&] { config.get_admin_email(); });
    ignoring_errors([&] { config.get_page_url(); });
    ignoring_errors([&] { config.get_color_form(); });
    ignoring_errors([&] { config.get_color_text(); });
    ignoring_errors([&] { config.get_color_link(); });
    ignoring_errors([&] { config.get_color_btn_normal(); });
    ignoring_errors([&] { config.get_color_btn_highlight(); });
    ignoring_errors([&] { config.get_color_btn_text(); });
    ignoring_errors([&] { config.get_color_btn_frame(); });
    ignoring_errors([&] { config.get_text_size(); });
    ignoring_errors([&] { config.get_btn_text_size(); });
    ignoring_errors([&] { config.get_margin(); });
    ignoring_errors([&] { config.get_top_margin(); });
    ignoring_errors([&] { config.get_btn_width(); });
    ignoring_errors([&] { config.get_btn_height(); });
}

void run(std::optional<std::string> delivered, unsigned code_page) {
    core::TConfigProd config(std::make_shared<TQuietListener>(),
                             std::make_shared<TDeliveringDownloader>(std::move(delivered)),
                             {"http://127.0.0.1/"}, code_page);
    read_config(config);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const TSandbox sandbox;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    // Downloaded, decoded in an 8-bit code page; no cache to fall back on.
    std::filesystem::remove(sandbox.cache_file());
    run(bytes, 1250);
    // Not downloaded: the same bytes as the cached text.
    platform::write_version_file(bytes);
    run(std::nullopt, platform::kCodePageUtf8);
    return 0;
}
