// The application: the start-up checks, the choice of the terminal and its start.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/terminal/controller.h"
#include "core/terminal/run_reporter.h"
#include "core/terminal/self_update.h"
#include "ui/dialogs.h"
#include "ui/start_services.h"

namespace qiv_start::ui {

class TQivStartApplication {
  public:
    // arguments: the command line after the program's own path.
    TQivStartApplication(std::vector<std::string> arguments, TStartServices services,
                         TDialogs& dialogs);

    // Checks the executable's name and version, closes other launchers' windows, takes the
    // terminal code from the command line or the chooser window and starts the terminal.
    void start();
    // start, with an error that escapes it shown to the user; the process's exit code: 0 when the
    // terminal was started, 1 whenever it was not.
    int run();

    // True when the program runs under its upgrade name.
    bool is_upgrade() const { return upgrade_; }

  private:
    void report_run(core::TConfig& config, core::TRunOutcome outcome, core::TCoreListener& log);
    bool check_executable_name();
    bool hand_over_to_user_copy();
    bool check_working_folder();
    // False when the program is outdated; the process has been ended then.
    bool check_version_of_program(const core::TLauncherFiles& files);
    bool may_update(core::TConfig& config, const core::TLauncherFiles& files,
                    core::TCoreListener& log);
    bool hand_over_to_update(core::TController& controller, const core::TLauncherFiles& files,
                             core::TCoreListener& log);
    void ask_for_manual_update(const std::vector<std::string>& servers);
    void finish_update(const core::TLauncherFiles& files);
    std::optional<std::string> install_and_hand_over(const core::TLauncherFiles& files,
                                                     const core::TWaitStep& wait_step);
    void open_download_page(const std::vector<std::string>& servers);
    void close_other_instances();
    bool has_terminal_argument() const { return !arguments_.empty(); }
    void choose_terminal();
    void show_start_window();
    void exec_terminal(const std::shared_ptr<core::TCoreListener>& listener,
                       core::TWaitStep wait_step);

    std::vector<std::string> arguments_;
    TStartServices services_;
    TDialogs& dialogs_;
    std::string executable_path_;

    std::shared_ptr<core::TController> controller_;
    // Counts the whole run, from the version check on, for its report.
    std::shared_ptr<core::TRunTally> tally_ = std::make_shared<core::TRunTally>();
    std::string terminal_code_;
    bool upgrade_ = false;
    bool started_by_update_ = false;  // by the upgrade copy, once it took the launcher's place
    bool terminal_started_ = false;
};

}  // namespace qiv_start::ui
