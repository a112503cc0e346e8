// Configurations, terminals, controllers and dialogs for driving the windows and the start-up
// sequence without a repository or anyone at the screen.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/support/error.h"
#include "core/terminal/controller.h"
#include "ui/dialogs.h"

namespace qiv_start::test {

class TFakeTerminal : public core::TTerminalConfig {
  public:
    TFakeTerminal(std::string name, std::string version, std::string id_code)
        : name_(std::move(name)), version_(std::move(version)), id_code_(std::move(id_code)) {}
    std::string get_name() override { return name_; }
    std::string get_version() override { return version_; }
    std::string get_id_code() override { return id_code_; }
    bool is_accessed_by_all() override { return true; }
    std::shared_ptr<core::TFileConfig> get_exe_file() override { return nullptr; }
    core::TFileConfigs get_files() override { return {}; }

  private:
    std::string name_, version_, id_code_;
};

inline core::TTerminalConfigs three_terminals() {
    return {std::make_shared<TFakeTerminal>("Terminal A", "1.0.0.1", "A"),
            std::make_shared<TFakeTerminal>("Terminal B", "2.0.0.2", "B"),
            std::make_shared<TFakeTerminal>("Terminal C", "3.0.0.3", "C")};
}

// The look of the buttons: 400 x 40 at margin 10 and top margin 20, red, lime when highlighted,
// black text in a blue frame.
class TFakeConfig : public core::TConfig {
  public:
    std::string hash;
    std::vector<std::string> servers;
    std::int32_t btn_width = 400, btn_height = 40, margin = 10, top_margin = 20;
    core::TColor normal = 0x0000FF, highlight = 0x00FF00, text = 0x000000, frame = 0xFF0000;
    int failing_width_call = 0;  // the call of get_btn_width that fails, counting from 1; 0: none

    bool self_update = false;
    bool fetched = true;

    std::string get_hash() override { return hash; }
    bool get_self_update() override { return self_update; }
    bool is_fetched() override { return fetched; }
    std::vector<std::string> get_servers() override { return servers; }
    core::TTerminalConfigs get_terminals() override { return {}; }
    core::TFileConfigs get_default_files() override { return {}; }
    std::vector<core::TRestrictedNetwork> get_restricted_networks() override { return {}; }
    std::string get_admin_email() override { return {}; }
    std::string get_page_url() override { return {}; }
    core::TColor get_color_form() override { return 0; }
    core::TColor get_color_text() override { return 0; }
    core::TColor get_color_link() override { return 0; }
    core::TColor get_color_btn_normal() override { return normal; }
    core::TColor get_color_btn_highlight() override { return highlight; }
    core::TColor get_color_btn_text() override { return text; }
    core::TColor get_color_btn_frame() override { return frame; }
    std::int32_t get_text_size() override { return 10; }
    std::int32_t get_btn_text_size() override { return 15; }
    std::int32_t get_margin() override { return margin; }
    std::int32_t get_top_margin() override { return top_margin; }
    std::int32_t get_btn_width() override {
        if (++width_calls_ == failing_width_call)
            throw core::TError("Brak wartości btnWidth");
        return btn_width;
    }
    std::int32_t get_btn_height() override { return btn_height; }

  private:
    int width_calls_ = 0;
};

// Remembers the listener it was built for and the terminals it was asked to run; tells the
// listener about its work as the real controller would.
class TFakeController : public core::TController {
  public:
    TFakeController(std::shared_ptr<TFakeConfig> config, core::TTerminalConfigs terminals,
                    std::shared_ptr<core::TCoreListener> listener)
        : config_(std::move(config)),
          terminals_(std::move(terminals)),
          listener_(std::move(listener)) {}

    void add_listener(const std::shared_ptr<core::TCoreListener>&) override {}
    void set_wait_step(core::TWaitStep step) override { wait_step = std::move(step); }
    std::shared_ptr<core::TConfig> get_config() override { return config_; }
    core::TTerminalConfigs get_accessible_terminals() override {
        listener_->notify(core::TCoreMessage(core::info, "download_start|qiv_start_2.xml"));
        if (on_accessible_terminals)
            on_accessible_terminals();
        return terminals_;
    }
    std::string get_version(const std::string&) override { return {}; }
    bool fetch_launcher_update(const std::string& path) override {
        fetched_updates.push_back(path);
        return update_fetched;
    }
    bool is_launcher_update(const std::string&) override { return update_matches; }
    bool run_terminal(const std::string& terminal_code) override {
        started.push_back(terminal_code);
        listener_->notify(
            core::TCoreMessage(core::info, "download_start|" + terminal_code + ".exe"));
        if (run_error && run_error_reported)
            listener_->notify(core::TCoreMessage(core::error, run_error));
        if (run_error)
            throw core::TError(run_error);
        if (waits_for_folder)
            return wait_for_folder();
        return starts;
    }

    const std::shared_ptr<core::TCoreListener>& listener() const { return listener_; }
    std::function<void()> on_accessible_terminals;
    std::vector<std::string> fetched_updates;
    bool update_fetched = false;
    bool update_matches = false;  // a copy already saved is the published launcher
    std::vector<std::string> started;
    const char* run_error = nullptr;  // raised by run_terminal after its message
    bool run_error_reported = false;  // the error is also sent before it is raised
    bool starts = true;               // false: the run ends with the terminal not started
    // The run waits for another launcher's folder until its wait step gives up.
    bool waits_for_folder = false;
    bool waiting = false;
    bool wait_given_up = false;
    core::TWaitStep wait_step;

  private:
    // Bounded, so that a wait that is never given up fails the test rather than hangs it.
    bool wait_for_folder() {
        waiting = true;
        for (int step = 0; step < 10000 && !wait_given_up; ++step)
            wait_given_up = !wait_step(std::chrono::milliseconds(1));
        return false;
    }

    std::shared_ptr<TFakeConfig> config_;
    core::TTerminalConfigs terminals_;
    std::shared_ptr<core::TCoreListener> listener_;
};

// Answers every question with `answer` and keeps what was shown.
class TScriptedDialogs : public ui::TDialogs {
  public:
    void warning(const std::string& text) override { warnings.push_back(text); }
    bool ask_yes_no(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void error(const std::string& text) override { errors.push_back(text); }
    bool is_attended() const override { return attended; }

    bool answer = false;
    bool attended = true;
    std::vector<std::string> warnings, questions, errors;
};

}  // namespace qiv_start::test
