// The configuration read from the repository's document, with the per-user cache behind it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/config.h"
#include "core/download/downloader.h"
#include "core/support/messages.h"
#include "core/support/signature.h"
#include "platform/config_cache.h"

namespace qiv_start::core {

class TConfigProd : public TConfig {
  public:
    // Touches neither the network nor the cache.
    TConfigProd(std::shared_ptr<TCoreListener> listener, std::shared_ptr<TDownloader> downloader,
                std::vector<std::string> servers);
    // code_page: the 8-bit code page for a document without byte-order mark and for the
    // re-decoding of terminal names; the workstation's ANSI code page by default.
    TConfigProd(std::shared_ptr<TCoreListener> listener, std::shared_ptr<TDownloader> downloader,
                std::vector<std::string> servers, unsigned code_page);
    // trusted_keys: with any, the document is the one delivered under a release that passed the
    // release rule (fetch_release) and was taken, cached with its release, by the caller; nothing
    // is downloaded or written for it here. Without one, the cache is used, only under a release
    // that verifies and is not older than one accepted before. The build's keys by default.
    TConfigProd(std::shared_ptr<TCoreListener> listener, std::shared_ptr<TDownloader> downloader,
                std::vector<std::string> servers, unsigned code_page, TTrustedKeys trusted_keys,
                std::optional<platform::TSignedDocument> delivered = std::nullopt);
    ~TConfigProd() override;

    // The configuration of a document at hand, read as the launcher reads a downloaded one:
    // nothing is fetched, nothing is cached and no message is sent. Raises TError with the
    // parser's reason when the document does not parse or bind.
    static std::shared_ptr<TConfigProd> from_document(const std::string& bytes, unsigned code_page);

    std::string get_hash() override;
    std::string get_sha256() override;
    bool get_self_update() override;
    std::optional<std::string> get_store() override;
    bool is_fetched() override;
    std::optional<TReportSetting> get_report() override;
    std::vector<std::string> get_servers() override;
    TTerminalConfigs get_terminals() override;
    TFileConfigs get_default_files() override;
    std::vector<TRestrictedNetwork> get_restricted_networks() override;
    std::string get_admin_email() override;
    std::string get_page_url() override;
    TColor get_color_form() override;
    TColor get_color_text() override;
    TColor get_color_link() override;
    TColor get_color_btn_normal() override;
    TColor get_color_btn_highlight() override;
    TColor get_color_btn_text() override;
    TColor get_color_btn_frame() override;
    std::int32_t get_text_size() override;
    std::int32_t get_btn_text_size() override;
    std::int32_t get_margin() override;
    std::int32_t get_top_margin() override;
    std::int32_t get_btn_width() override;
    std::int32_t get_btn_height() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The text that the configuration parses from a delivered document's bytes: decoded by its
// byte-order mark or else in code_page, every line ended by CR LF.
std::string config_text_from_bytes(const std::string& bytes, unsigned code_page);

}  // namespace qiv_start::core
