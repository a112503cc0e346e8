// The configuration as the rest of the launcher reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qiv_start::core {

// 0x00BBGGRR for a direct colour, 0xFF0000nn for system colour nn, 0x1FFFFFFF for no colour,
// 0x20000000 for the default colour.
using TColor = std::int32_t;

struct TRestrictedNetwork {
    std::string network_mask;
    std::string network_address;
};

class TFileConfig {
  public:
    virtual ~TFileConfig() = default;
    virtual std::string get_name() = 0;
    virtual std::string get_hash() = 0;
    // The SHA-256 digest in hexadecimal; empty when the document gives none.
    virtual std::string get_sha256() = 0;
    virtual std::string get_relative_target_path() = 0;
    virtual std::string get_relative_source_path() = 0;
    virtual bool unzip() = 0;
};

using TFileConfigs = std::vector<std::shared_ptr<TFileConfig>>;

class TTerminalConfig {
  public:
    virtual ~TTerminalConfig() = default;
    virtual std::string get_name() = 0;
    virtual std::string get_version() = 0;
    virtual std::string get_id_code() = 0;
    virtual bool is_accessed_by_all() = 0;
    virtual std::shared_ptr<TFileConfig> get_exe_file() = 0;
    virtual TFileConfigs get_files() = 0;
};

using TTerminalConfigs = std::vector<std::shared_ptr<TTerminalConfig>>;

// <report value="NAME" host_name="false"/>: every run reports its outcome with one GET of NAME,
// a file the repository serves; host_name="false" leaves the host name out of the report.
struct TReportSetting {
    std::string name;
    bool host_name = true;
};

class TConfig {
  public:
    virtual ~TConfig() = default;
    virtual std::string get_hash() = 0;
    // The launcher's own SHA-256, empty when none is published.
    virtual std::string get_sha256() { return {}; }
    // Whether an outdated launcher fetches the published one and replaces itself.
    virtual bool get_self_update() { return false; }
    // The folder of the store of objects that the files with a SHA-256 are fetched from, relative
    // to each server's base address and ending with '/'; nothing when the document names none.
    // Raises TError when the value is no folder inside the repository.
    virtual std::optional<std::string> get_store() { return std::nullopt; }
    // Whether the document in force came from a server in this run, not from the cache; under
    // trusted keys, with a release that had not expired. Only such a one may replace the launcher.
    virtual bool is_fetched() { return false; }
    // Nothing when the document does not ask for run reports. Raises TError for a name that is
    // not a relative name inside the repository.
    virtual std::optional<TReportSetting> get_report() { return std::nullopt; }
    virtual std::vector<std::string> get_servers() = 0;
    virtual TTerminalConfigs get_terminals() = 0;
    virtual TFileConfigs get_default_files() = 0;
    virtual std::vector<TRestrictedNetwork> get_restricted_networks() = 0;
    virtual std::string get_admin_email() = 0;
    virtual std::string get_page_url() = 0;
    virtual TColor get_color_form() = 0;
    virtual TColor get_color_text() = 0;
    virtual TColor get_color_link() = 0;
    virtual TColor get_color_btn_normal() = 0;
    virtual TColor get_color_btn_highlight() = 0;
    virtual TColor get_color_btn_text() = 0;
    virtual TColor get_color_btn_frame() = 0;
    virtual std::int32_t get_text_size() = 0;
    virtual std::int32_t get_btn_text_size() = 0;
    virtual std::int32_t get_margin() = 0;
    virtual std::int32_t get_top_margin() = 0;
    virtual std::int32_t get_btn_width() = 0;
    virtual std::int32_t get_btn_height() = 0;
};

}  // namespace qiv_start::core
