// Configuration objects whose answers a test sets directly.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/config/config.h"
#include "core/support/error.h"

namespace qiv_start::test {

class TScriptedFile : public core::TFileConfig {
  public:
    TScriptedFile(std::string name, std::string target_path, std::string hash, bool archive = false)
        : name_(std::move(name)),
          target_path_(std::move(target_path)),
          hash_(std::move(hash)),
          archive_(archive) {}

    std::string get_name() override { return name_; }
    std::string get_hash() override { return hash_; }
    std::string get_sha256() override { return sha256_; }
    std::string get_relative_target_path() override { return target_path_; }
    std::string get_relative_source_path() override { return {}; }
    bool unzip() override { return archive_; }

    void set_hash(std::string hash) { hash_ = std::move(hash); }
    void set_sha256(std::string sha256) { sha256_ = std::move(sha256); }

  private:
    std::string name_;
    std::string target_path_;
    std::string hash_;
    std::string sha256_;
    bool archive_;
};

class TScriptedTerminal : public core::TTerminalConfig {
  public:
    TScriptedTerminal(std::string id_code, bool accessed_by_all,
                      std::shared_ptr<core::TFileConfig> exe_file,
                      core::TFileConfigs own_files = {})
        : id_code_(std::move(id_code)),
          accessed_by_all_(accessed_by_all),
          exe_file_(std::move(exe_file)),
          own_files_(std::move(own_files)) {}

    std::string get_name() override { return "Terminal " + id_code_; }
    std::string get_version() override { return "1.0"; }
    std::string get_id_code() override { return id_code_; }
    bool is_accessed_by_all() override { return accessed_by_all_; }
    std::shared_ptr<core::TFileConfig> get_exe_file() override { return exe_file_; }
    // The own files, then the executable last.
    core::TFileConfigs get_files() override {
        core::TFileConfigs files = own_files_;
        files.push_back(exe_file_);
        return files;
    }

  private:
    std::string id_code_;
    bool accessed_by_all_;
    std::shared_ptr<core::TFileConfig> exe_file_;
    core::TFileConfigs own_files_;
};

class TScriptedConfig : public core::TConfig {
  public:
    core::TTerminalConfigs terminals;
    core::TFileConfigs default_files;
    std::vector<core::TRestrictedNetwork> networks;
    std::string hash, sha256;
    std::optional<std::string> store;
    std::string store_refusal;  // not empty: get_store refuses the value with this reason

    std::string get_hash() override { return hash; }
    std::string get_sha256() override { return sha256; }
    std::optional<std::string> get_store() override {
        if (!store_refusal.empty())
            throw core::TError(store_refusal);
        return store;
    }
    std::vector<std::string> get_servers() override { return {}; }
    core::TTerminalConfigs get_terminals() override { return terminals; }
    core::TFileConfigs get_default_files() override { return default_files; }
    std::vector<core::TRestrictedNetwork> get_restricted_networks() override { return networks; }
    std::string get_admin_email() override { return {}; }
    std::string get_page_url() override { return {}; }
    core::TColor get_color_form() override { return 0; }
    core::TColor get_color_text() override { return 0; }
    core::TColor get_color_link() override { return 0; }
    core::TColor get_color_btn_normal() override { return 0; }
    core::TColor get_color_btn_highlight() override { return 0; }
    core::TColor get_color_btn_text() override { return 0; }
    core::TColor get_color_btn_frame() override { return 0; }
    std::int32_t get_text_size() override { return 0; }
    std::int32_t get_btn_text_size() override { return 0; }
    std::int32_t get_margin() override { return 0; }
    std::int32_t get_top_margin() override { return 0; }
    std::int32_t get_btn_width() override { return 0; }
    std::int32_t get_btn_height() override { return 0; }
};

}  // namespace qiv_start::test
