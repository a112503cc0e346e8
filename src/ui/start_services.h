// What the start-up sequence needs from the world outside it, replaceable as a whole so that the
// sequence can run against fakes.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/support/messages.h"
#include "core/terminal/seed.h"
#include "ui/controller_creator.h"

namespace qiv_start::ui {

using TLogCreator = std::function<std::shared_ptr<core::TCoreListener>()>;

struct TStartServices {
    std::function<std::string()> executable_path;
    // Why another user could change the working folder, or nothing (core::foreign_working_folder).
    std::function<std::optional<std::string>()> foreign_working_folder;
    TControllerCreator create_controller;
    TLogCreator create_version_check_log;  // the run log of the self-version check
    TLogCreator create_run_log;            // the run log of the terminal start
    std::function<void(const std::string& url)> open_url;
    std::function<void(const std::string& title)> close_windows_titled;
    // Ends the process at once. Should it return, the start-up sequence stops all the same.
    std::function<void(int exit_code)> end_process;
    // Starts the program at the path with the arguments, without waiting; raises TError.
    std::function<void(const std::string& path, const std::vector<std::string>& arguments)>
        start_program;
    // Whether a program started with start_program still runs from the file.
    std::function<bool(const std::string& path)> is_program_running;
    // Why the fetched launcher at upgrade_path may not replace the one at own_path, or nothing
    // (core::refuse_upgrade).
    std::function<std::optional<std::string>(const std::string& own_path,
                                             const std::string& upgrade_path)>
        check_update;
    // Marks the programs started from now on as started by the update; whether this process was,
    // the mark taken off so that what it starts is not.
    std::function<void()> mark_update;
    std::function<bool()> take_update_mark;
    // The user's own launcher when the one at the path is a seed (core::prepare_user_copy).
    std::function<std::optional<core::TUserCopy>(const std::string& executable_path)>
        prepare_user_copy;
    // Runs the program at the path with the arguments in the folder and waits for it: its exit
    // code. Raises TError.
    std::function<int(const std::string& path, const std::vector<std::string>& arguments,
                      const std::string& folder)>
        run_program;
};

// The real controller factory, run logs, browser, desktop and process.
TStartServices production_services();

}  // namespace qiv_start::ui
