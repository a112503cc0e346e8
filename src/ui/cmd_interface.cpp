#include "ui/cmd_interface.h"

#include <QDialog>
#include <optional>

#include "core/support/error.h"
#include "core/support/format.h"
#include "core/support/listener_collection.h"
#include "core/support/md5.h"
#include "core/support/repository_names.h"
#include "core/terminal/self_update.h"
#include "platform/files.h"
#include "platform/process.h"
#include "ui/form_choose_terminal.h"
#include "ui/form_start_terminal.h"

namespace qiv_start::ui {
namespace {

// The program's base name: the executable's expected name, and the title of other launchers'
// windows to close.
const char* const kProgramName = core::kLauncherName;
using core::kUpgradeEnding;

// clang-format off
const char* const kWrongNameText = "Nazwa pliku wykonywalnego nie jest prawidłowa: %0:s\rProszę zmienić nazwę na domyślną (%0:s.exe) i uruchomić program jeszcze raz.";
const char* const kOutdatedText = "Wersja programu jest przestarzała, proszę pobrać nową wersję i zastąpić istniejącą\rCzy zrobi to teraz?";
// clang-format on
const char* const kDownloadPage = "index.html";
// The exit codes of a run that started the terminal and of every run that ends without it;
// scripts rely on them.
constexpr int kStarted = 0;
constexpr int kNotStarted = 1;
// The exit code of a run that handed the start over to the updated launcher.
constexpr int kHandedOver = 0;
// How long the upgrade copy waits for the old launcher to end: far longer than it takes.
constexpr int kUpgradeWaitSteps = 200;
const char* const kUpdating = "aktualizacja programu";
const char* const kHandOverFailed = "Nie udało się uruchomić nowej wersji programu: %0:s";
const char* const kUserCopyFailed = "Nie udało się uruchomić programu w katalogu użytkownika: %0:s";
const char* const kInstallFailed = "Nie udało się zastąpić programu nową wersją: %0:s";
const char* const kNeverCurrent =
    "Opublikowany skrót programu nie jest zapisany wielkimi literami szesnastkowymi i żadna "
    "wersja programu nie będzie z nim zgodna; program nie zostanie zaktualizowany.";
const char* const kNotFetched =
    "Ustawienia nie zostały pobrane z serwera w tym uruchomieniu; program nie zostanie "
    "zaktualizowany.";
const char* const kStillOutdated =
    "Program uruchomiony po aktualizacji nadal różni się od opublikowanej wersji; nie zostanie "
    "zaktualizowany ponownie.";
const char* const kAttemptsUsed =
    "Aktualizacja programu nie zajęła jego miejsca po %0:s uruchomieniach; program nie zostanie "
    "zaktualizowany ponownie.";
const char* const kForeignFolder =
    "Katalog roboczy programu mogą zmieniać inni użytkownicy tego komputera, więc program nie "
    "pobierze do niego plików ani nic z niego nie uruchomi. Proszę zgłosić to administratorowi.";
const char* const kUpdateUnderWay =
    "Inna aktualizacja programu jeszcze trwa, a jej kopia różni się od opublikowanej.";
// How many hand-overs to one published launcher may fail to take its place before the question.
constexpr int kMaxUpdateAttempts = 2;

std::string file_name_of(const std::string& path) {
    const auto separator = path.find_last_of(platform::path_separator());
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

// Remembers the last error the core reported.
struct TLastError : core::TCoreListener {
    void notify(const core::TCoreMessage& message) override {
        if (&message.get_type() == &core::error)
            text = message.get_value();
    }
    std::string text;
};

}  // namespace

TQivStartApplication::TQivStartApplication(std::vector<std::string> arguments,
                                           TStartServices services, TDialogs& dialogs)
    : arguments_(std::move(arguments)), services_(std::move(services)), dialogs_(dialogs) {}

int TQivStartApplication::run() {
    try {
        start();
        return terminal_started_ ? kStarted : kNotStarted;
    } catch (const std::exception& e) {
        dialogs_.error(e.what());
        return kNotStarted;
    }
}

void TQivStartApplication::start() {
    executable_path_ = services_.executable_path();
    if (!check_executable_name()) {
        dialogs_.warning(core::format(kWrongNameText, {executable_path_}));
        return;
    }
    // A seed writes nothing in its own folder: the user's copy checks the folder it works in.
    if (!upgrade_ && hand_over_to_user_copy())
        return;
    if (!check_working_folder())
        return;
    started_by_update_ = services_.take_update_mark();
    const core::TLauncherFiles files = core::launcher_files(executable_path_);
    if (upgrade_) {
        finish_update(files);
        return;
    }
    core::remove_leftover_upgrade(files);
    if (!check_version_of_program(files))
        return;
    close_other_instances();
    if (!has_terminal_argument()) {
        choose_terminal();
        return;
    }
    try {
        terminal_code_ = arguments_.front();
        show_start_window();
    } catch (const std::exception& e) {
        dialogs_.error(e.what());
    }
}

bool TQivStartApplication::check_executable_name() {
    const std::string name = file_name_of(executable_path_);
    const std::string suffix = platform::executable_suffix();
    if (name == kProgramName + suffix)
        return true;
    if (name == kProgramName + (kUpgradeEnding + suffix)) {
        upgrade_ = true;
        return true;
    }
    return false;
}

// A seed works in no folder of its own: the user's copy takes the start with the same arguments,
// and its exit code is the run's.
bool TQivStartApplication::hand_over_to_user_copy() {
    const auto copy = services_.prepare_user_copy(executable_path_);
    if (!copy)
        return false;
    int exit_code = kNotStarted;
    try {
        exit_code = services_.run_program(copy->launcher, arguments_, copy->folder);
    } catch (const core::TError& e) {
        throw core::TError(core::format(kUserCopyFailed, {e.what()}));
    }
    services_.end_process(exit_code);
    return true;
}

// Before anything is fetched or started: a folder that another user may change could hold a
// program of theirs that this user would run.
bool TQivStartApplication::check_working_folder() {
    const std::optional<std::string> reason = services_.foreign_working_folder();
    if (!reason)
        return true;
    const auto run_log = services_.create_run_log();
    run_log->notify(core::TCoreMessage(core::error, kForeignFolder));
    run_log->notify(core::TCoreMessage(core::detail, *reason));
    dialogs_.error(kForeignFolder);
    return false;
}

bool TQivStartApplication::check_version_of_program(const core::TLauncherFiles& files) {
    const auto log = services_.create_version_check_log();
    const auto listeners = std::make_shared<core::TListenerCollection<core::TCoreMessage>>();
    listeners->add(log);
    listeners->add(tally_);
    const auto controller = services_.create_controller(listeners);
    const auto config = controller->get_config();
    const std::string digest = core::get_file_md5(executable_path_);
    if (core::is_current_digest(digest, config->get_hash())) {
        core::forget_update_attempts(files.attempts);
        return true;
    }
    if (config->get_self_update() && may_update(*config, files, *log) &&
        hand_over_to_update(*controller, files, *log)) {
        report_run(*config, core::TRunOutcome::handed_over, *log);
        services_.end_process(kHandedOver);
        return false;
    }
    const bool open_page = dialogs_.ask_yes_no(kOutdatedText);
    report_run(*config, core::TRunOutcome::outdated, *log);
    if (open_page)
        open_download_page(config->get_servers());
    services_.end_process(kNotStarted);
    return false;
}

// A digest published in lower case is never the launcher's: no update could end the question.
// Only a document fresh from a server may replace the launcher: a cached or expired one may be
// older than the launcher. A launcher that its update started, or an update that did not take the
// launcher's place twice, would only go round again.
bool TQivStartApplication::may_update(core::TConfig& config, const core::TLauncherFiles& files,
                                      core::TCoreListener& log) {
    std::optional<std::string> refusal;
    if (!core::is_upper_hex(config.get_hash()))
        refusal = kNeverCurrent;
    else if (!config.is_fetched())
        refusal = kNotFetched;
    else if (started_by_update_)
        refusal = kStillOutdated;
    else if (core::update_attempts(files.attempts, config.get_hash()) >= kMaxUpdateAttempts)
        refusal = core::format(kAttemptsUsed, {std::to_string(kMaxUpdateAttempts)});
    if (refusal)
        log.notify(core::TCoreMessage(core::detail, *refusal));
    return !refusal;
}

// Under the update's lock, the published copy is saved beside the launcher under the upgrade
// name, checked and started with the same arguments; a copy that already runs for another
// launcher is started once more instead. False, with the reason in the run log, when that fails.
bool TQivStartApplication::hand_over_to_update(core::TController& controller,
                                               const core::TLauncherFiles& files,
                                               core::TCoreListener& log) {
    const auto refuse = [&log](const std::string& reason) {
        log.notify(core::TCoreMessage(core::detail, reason));
        return false;
    };
    try {
        platform::TFolderLock lock(files.lock);
        lock.lock();
        if (services_.is_program_running(files.upgrade)) {
            if (!controller.is_launcher_update(files.upgrade))
                return refuse(kUpdateUnderWay);
        } else {
            if (!controller.fetch_launcher_update(files.upgrade))
                return false;
            core::count_update_attempt(files.attempts, controller.get_config()->get_hash());
        }
        if (const auto refusal = services_.check_update(executable_path_, files.upgrade))
            return refuse(*refusal);
        services_.start_program(files.upgrade, arguments_);
        return true;
    } catch (const std::exception& e) {
        return refuse(core::format(kHandOverFailed, {e.what()}));
    }
}

void TQivStartApplication::ask_for_manual_update(const std::vector<std::string>& servers) {
    if (dialogs_.ask_yes_no(kOutdatedText))
        open_download_page(servers);
    services_.end_process(kNotStarted);
}

// Run by the upgrade copy, in the start window: once the old launcher has ended, the copy takes
// its place and starts it with the same arguments. A failure falls back to the question an
// outdated launcher asks.
void TQivStartApplication::finish_update(const core::TLauncherFiles& files) {
    const auto log = services_.create_version_check_log();
    std::optional<std::string> failure;
    TFormStartTerminal window(dialogs_);
    window.set_exec_proc([&](const std::shared_ptr<core::TCoreListener>& listener) {
        core::TListenerCollection<core::TCoreMessage> listeners;
        listeners.add(listener);
        listeners.add(log);
        listeners.notify(core::TCoreMessage(core::info, kUpdating));
        failure = install_and_hand_over(
            files, [&window](std::chrono::milliseconds step) { return window.wait_step(step); });
        if (failure)
            listeners.notify(core::TCoreMessage(core::detail, *failure));
    });
    window.exec();
    if (failure) {
        ask_for_manual_update(services_.create_controller(log)->get_config()->get_servers());
        return;
    }
    services_.end_process(kHandedOver);
}

// Why the update could not be finished, or nothing once the launcher runs again.
std::optional<std::string> TQivStartApplication::install_and_hand_over(
    const core::TLauncherFiles& files, const core::TWaitStep& wait_step) {
    int steps = 0;
    try {
        core::install_upgrade(executable_path_, files, [&](std::chrono::milliseconds step) {
            return ++steps < kUpgradeWaitSteps && wait_step(step);
        });
    } catch (const std::exception& e) {
        return core::format(kInstallFailed, {e.what()});
    }
    try {
        services_.mark_update();
        services_.start_program(files.launcher, arguments_);
    } catch (const std::exception& e) {
        return core::format(kHandOverFailed, {e.what()});
    }
    return std::nullopt;
}

// Without a server there is no page to offer; the user is told to update all the same.
void TQivStartApplication::open_download_page(const std::vector<std::string>& servers) {
    if (!servers.empty())
        services_.open_url(servers.front() + kDownloadPage);
}

// Another launcher's windows are a courtesy to close; failing to reach them changes nothing here.
void TQivStartApplication::close_other_instances() {
    try {
        services_.close_windows_titled(kProgramName);
    } catch (...) {
    }
}

// The start window opens over the chooser, which stays shown: once the terminal runs, the process
// ends with both windows shown, since hiding the chooser would cost the seconds that hiding the
// start window would (see show_start_window).
void TQivStartApplication::choose_terminal() {
    TFormChooseTerminal chooser(services_.create_controller, dialogs_);
    chooser.set_on_chosen([this](const std::string& code) {
        terminal_code_ = code;
        show_start_window();
    });
    chooser.exec();
}

void TQivStartApplication::show_start_window() {
    TFormStartTerminal window(dialogs_);
    // While the controller waits for another launcher, the window stays alive and its close box
    // ends the run.
    // Once the terminal runs, the process ends with the window still shown, which the system takes
    // down with it. Hiding it first may cost seconds: wine's X11 driver waits up to 2 s for a
    // window manager to confirm it, the whole 2 s on a display without one.
    window.set_exec_proc([this, &window](std::shared_ptr<core::TCoreListener> listener) {
        exec_terminal(listener,
                      [&window](std::chrono::milliseconds step) { return window.wait_step(step); });
        if (terminal_started_)
            services_.end_process(kStarted);
    });
    // The window ends accepted only when the work ran to its end.
    if (window.exec() != QDialog::Accepted)
        terminal_started_ = false;
}

void TQivStartApplication::exec_terminal(const std::shared_ptr<core::TCoreListener>& listener,
                                         core::TWaitStep wait_step) {
    const auto listeners = std::make_shared<core::TListenerCollection<core::TCoreMessage>>();
    listeners->add(listener);
    const auto run_log = services_.create_run_log();
    listeners->add(run_log);
    const auto last_error = std::make_shared<TLastError>();
    listeners->add(last_error);
    listeners->add(tally_);
    try {
        controller_ = services_.create_controller(listeners);
        controller_->set_wait_step(std::move(wait_step));
        terminal_started_ = controller_->run_terminal(terminal_code_);
    } catch (const std::exception& e) {
        // An error that ends the run belongs in its log, not only on the screen; once, when the
        // core has already reported it.
        if (last_error->text != e.what())
            run_log->notify(core::TCoreMessage(core::error, e.what()));
        if (controller_)
            report_run(*controller_->get_config(), tally_->outcome(false, true), *run_log);
        throw;
    }
    report_run(*controller_->get_config(), tally_->outcome(terminal_started_, false), *run_log);
}

// After the terminal started or the run failed: the report never holds up the start.
void TQivStartApplication::report_run(core::TConfig& config, core::TRunOutcome outcome,
                                      core::TCoreListener& log) {
    try {
        core::report_run(config, *tally_,
                         {outcome, terminal_code_, core::get_file_md5(executable_path_)}, log);
    } catch (const std::exception& e) {
        log.notify(core::TCoreMessage(core::detail, e.what()));
    }
}

}  // namespace qiv_start::ui
