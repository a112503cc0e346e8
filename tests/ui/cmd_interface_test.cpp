#include "ui/cmd_interface.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "core/support/md5.h"
#include "platform/process.h"
#include "qt_test_environment.h"
#include "support/recording_listener.h"
#include "support/temp_dir.h"
#include "ui/form_choose_terminal.h"
#include "ui/form_start_terminal.h"
#include "ui/terminal_button.h"
#include "ui_fakes.h"

namespace qiv_start::ui {
namespace {

using TTexts = std::vector<std::string>;

const char* const kOutdated =
    "Wersja programu jest przestarzała, proszę pobrać nową wersję i zastąpić istniejącą\r"
    "Czy zrobi to teraz?";

class StartTest : public ::testing::Test {
  protected:
    // An executable of that name whose digest the repository publishes.
    std::string executable(const std::string& name) {
        const std::string path = dir.file(name);
        test::write_bytes(path, "launcher build 2");
        config->hash = core::get_file_md5(path);
        return path;
    }

    TStartServices services(const std::string& executable_path) {
        TStartServices s;
        s.executable_path = [executable_path] { return executable_path; };
        s.foreign_working_folder = [] { return std::nullopt; };
        s.create_controller = [this](const std::shared_ptr<core::TCoreListener>& listener) {
            if (controller_error)
                throw core::TError(controller_error);
            controllers.push_back(
                std::make_shared<test::TFakeController>(config, test::three_terminals(), listener));
            controllers.back()->run_error = run_error;
            controllers.back()->run_error_reported = run_error_reported;
            controllers.back()->starts = terminal_starts;
            controllers.back()->waits_for_folder = waits_for_folder;
            controllers.back()->update_fetched = update_fetched;
            controllers.back()->update_matches = update_matches;
            return controllers.back();
        };
        s.create_version_check_log = [this] {
            ++version_logs;
            return version_log = std::make_shared<test::TRecordingListener>();
        };
        s.create_run_log = [this] {
            return run_log = std::make_shared<test::TRecordingListener>();
        };
        s.open_url = [this](const std::string& url) { opened.push_back(url); };
        s.close_windows_titled = [this](const std::string& title) {
            closed_titles.push_back(title);
            if (close_fails)
                throw core::TError("Brak dostępu do pulpitu");
        };
        s.end_process = [this](int exit_code) {
            exit_codes.push_back(exit_code);
            ended_with_start_window_shown = shown<TFormStartTerminal>();
            ended_with_chooser_shown = shown<TFormChooseTerminal>();
        };
        s.start_program = [this](const std::string& path, const TTexts& arguments) {
            programs.push_back(path);
            program_arguments = arguments;
        };
        s.is_program_running = [this](const std::string&) { return upgrade_running; };
        s.check_update = [this](const std::string&, const std::string&) {
            return update_refusal ? std::optional<std::string>(update_refusal) : std::nullopt;
        };
        s.mark_update = [this] { ++marks; };
        s.take_update_mark = [this] { return started_by_update; };
        s.prepare_user_copy = [this](const std::string&) { return user_copy; };
        s.run_program = [this](const std::string& path, const TTexts& arguments,
                               const std::string& folder) {
            programs.push_back(folder + " " + path);
            program_arguments = arguments;
            return 7;
        };
        return s;
    }

    int run(const std::string& executable_path, TTexts arguments) {
        TQivStartApplication application(std::move(arguments), services(executable_path), dialogs);
        const int exit_code = application.run();
        upgrade = application.is_upgrade();
        return exit_code;
    }

    TTexts started() const {
        TTexts codes;
        for (const auto& controller : controllers) {
            codes.insert(codes.end(), controller->started.begin(), controller->started.end());
        }
        return codes;
    }

    template <class Window>
    static bool shown() {
        const auto windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(), [](QWidget* window) {
            return qobject_cast<Window*>(window) && window->isVisible();
        });
    }

    // Acts on the chooser window once it shows its buttons, from inside its modal loop.
    void when_chooser_ready(std::function<void(TFormChooseTerminal&)> act) {
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, [this, act] {
            for (QWidget* window : QApplication::topLevelWidgets()) {
                auto* chooser = qobject_cast<TFormChooseTerminal*>(window);
                if (!chooser || !chooser->isVisible() || !chooser->findChild<QWidget*>("t1"))
                    continue;
                poll.stop();
                act(*chooser);
                return;
            }
        });
        poll.start();
    }

    test::TTempDir dir;
    test::TScriptedDialogs dialogs;
    std::shared_ptr<test::TFakeConfig> config = std::make_shared<test::TFakeConfig>();
    std::vector<std::shared_ptr<test::TFakeController>> controllers;
    std::shared_ptr<test::TRecordingListener> run_log, version_log;
    int version_logs = 0;
    TTexts opened, closed_titles;
    std::vector<int> exit_codes;
    bool ended_with_start_window_shown = false;
    bool ended_with_chooser_shown = false;
    TTexts programs, program_arguments;
    bool update_fetched = false;
    bool update_matches = false;
    bool upgrade_running = false;
    const char* update_refusal = nullptr;
    bool started_by_update = false;
    std::optional<core::TUserCopy> user_copy;
    int marks = 0;
    const char* controller_error = nullptr;
    const char* run_error = nullptr;
    bool run_error_reported = false;
    bool terminal_starts = true;
    bool waits_for_folder = false;
    bool close_fails = false;
    bool upgrade = false;
    QTimer poll;
};

TEST_F(StartTest, WrongExecutableNameIsReportedAndNothingElseRuns) {
    const std::string suffix = platform::executable_suffix();
    for (const std::string& name : {"QIV_START_2" + suffix, "qiv_start_2x" + suffix,
                                    "qiv_start_2_UPGR" + suffix, "my_qiv_start_2" + suffix}) {
        dialogs.warnings.clear();
        const std::string path = executable(name);
        EXPECT_EQ(run(path, {"A"}), 1);
        EXPECT_EQ(dialogs.warnings, TTexts{"Nazwa pliku wykonywalnego nie jest prawidłowa: " +
                                           path + "\rProszę zmienić nazwę na domyślną (" + path +
                                           ".exe) i uruchomić program jeszcze raz."});
    }
    EXPECT_EQ(version_logs, 0);
    EXPECT_TRUE(controllers.empty());
    EXPECT_TRUE(closed_titles.empty());
    EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(StartTest, OnlyTheFileNameCountsNotTheFolders) {
    std::filesystem::create_directory(dir.path() / "qiv_start_2");
    const std::string path = executable("qiv_start_2/launcher");
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(dialogs.warnings.size(), 1u);
    EXPECT_TRUE(controllers.empty());
}

TEST_F(StartTest, CurrentLauncherStartsTheFirstArgumentsTerminal) {
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"B", "C"}), 0);
    EXPECT_FALSE(upgrade);
    EXPECT_TRUE(dialogs.warnings.empty() && dialogs.questions.empty() && dialogs.errors.empty());
    EXPECT_EQ(version_logs, 1);
    EXPECT_EQ(closed_titles, TTexts{"qiv_start_2"});
    // One controller for the self-version check, one for the terminal start.
    ASSERT_EQ(controllers.size(), 2u);
    EXPECT_EQ(started(), TTexts{"B"});
    // The start's messages reach the run log through the collection that also holds the window.
    ASSERT_NE(run_log, nullptr);
    EXPECT_EQ(run_log->lines, TTexts{"informacja: download_start|B.exe"});
    // The process ends before the start window is hidden, which may cost seconds.
    EXPECT_EQ(exit_codes, std::vector<int>{0});
    EXPECT_TRUE(ended_with_start_window_shown);
}

// The copy under the upgrade name puts its bytes in the launcher's place and hands over to it.
TEST_F(StartTest, UpgradeNameReplacesTheLauncherAndStartsItWithTheSameArguments) {
    const std::string launcher = dir.file("qiv_start_2" + platform::executable_suffix());
    test::write_bytes(launcher, "launcher build 1");
    run(executable("qiv_start_2_upgr" + platform::executable_suffix()), {"A", "b c"});
    EXPECT_TRUE(upgrade);
    EXPECT_EQ(test::read_bytes(launcher), "launcher build 2");
    EXPECT_EQ(programs, TTexts{launcher});
    EXPECT_EQ(program_arguments, (TTexts{"A", "b c"}));
    EXPECT_EQ(marks, 1);
    EXPECT_EQ(exit_codes, std::vector<int>{0});
    EXPECT_TRUE(started().empty());
}

// A seed checks nothing itself: the user's copy runs with the same arguments, and its exit code
// is the seed's.
TEST_F(StartTest, ASeedEndsWithTheExitCodeOfTheUsersCopy) {
    user_copy = core::TUserCopy{"/home/jan/qiv", "/home/jan/qiv/qiv_start_2"};
    run(executable("qiv_start_2" + platform::executable_suffix()), {"A", "b c"});
    EXPECT_EQ(programs, TTexts{"/home/jan/qiv /home/jan/qiv/qiv_start_2"});
    EXPECT_EQ(program_arguments, (TTexts{"A", "b c"}));
    EXPECT_EQ(exit_codes, std::vector<int>{7});
    EXPECT_EQ(version_logs, 0);
    EXPECT_TRUE(controllers.empty());
}

// With self-update on, an outdated launcher hands over to the fetched copy without a question;
// when no copy could be fetched, the question comes as before.
TEST_F(StartTest, OutdatedLauncherWithSelfUpdateHandsOverOrElseAsks) {
    const std::string path = executable("qiv_start_2" + platform::executable_suffix());
    const std::string upgrade = dir.file("qiv_start_2_upgr" + platform::executable_suffix());
    test::write_bytes(upgrade, "left by a killed update");
    config->hash = "0123456789ABCDEF0123456789ABCDEF";
    config->self_update = true;
    update_fetched = true;
    const std::string attempts = dir.file("qiv_start_2_upgr.attempts");
    run(path, {"A"});
    EXPECT_FALSE(std::filesystem::exists(upgrade));
    EXPECT_EQ(controllers.front()->fetched_updates, TTexts{upgrade});
    EXPECT_EQ(programs, TTexts{upgrade});
    EXPECT_EQ(program_arguments, TTexts{"A"});
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_EQ(exit_codes, std::vector<int>{0});
    EXPECT_EQ(test::read_bytes(attempts), config->hash + " 1\n");

    // A copy that runs for another launcher is the update under way: started once more for
    // this one, without a download and without counting.
    upgrade_running = update_matches = true;
    run(path, {"B"});
    EXPECT_EQ(exit_codes, (std::vector<int>{0, 0}));
    EXPECT_EQ(controllers.back()->fetched_updates, TTexts{});
    EXPECT_EQ(programs, (TTexts{upgrade, upgrade}));
    EXPECT_EQ(test::read_bytes(attempts), config->hash + " 1\n");

    upgrade_running = update_matches = false;
    update_fetched = false;
    exit_codes.clear();
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(dialogs.questions, TTexts{kOutdated});
    EXPECT_EQ(exit_codes, std::vector<int>{1});
    EXPECT_EQ(programs.size(), 2u);
}

// An update that would not help, or could do harm, is not handed over to: the question comes, with
// the reason in the run log of the version check.
TEST_F(StartTest, SelfUpdateThatCannotHelpFallsBackToTheQuestion) {
    const std::string path = executable("qiv_start_2" + platform::executable_suffix());
    const std::string published = "0123456789ABCDEF0123456789ABCDEF";
    struct TCase {
        const char* name;
        std::function<void()> arrange;
        std::string reason;
    };
    const std::vector<TCase> cases{
        {"a digest in lower case, which no launcher has",
         [this] {
             std::transform(config->hash.begin(), config->hash.end(), config->hash.begin(),
                            ::tolower);
         },
         "Opublikowany skrót programu nie jest zapisany wielkimi literami szesnastkowymi i żadna "
         "wersja programu nie będzie z nim zgodna; program nie zostanie zaktualizowany."},
        {"a cached document", [this] { config->fetched = false; },
         "Ustawienia nie zostały pobrane z serwera w tym uruchomieniu; program nie zostanie "
         "zaktualizowany."},
        {"started by its update", [this] { started_by_update = true; },
         "Program uruchomiony po aktualizacji nadal różni się od opublikowanej wersji; nie "
         "zostanie zaktualizowany ponownie."},
        {"two hand-overs in vain",
         [&] { test::write_bytes(dir.file("qiv_start_2_upgr.attempts"), published + " 2\n"); },
         "Aktualizacja programu nie zajęła jego miejsca po 2 uruchomieniach; program nie "
         "zostanie zaktualizowany ponownie."},
        {"a copy that is no program",
         [this] { update_refusal = "Pobrany plik nie jest programem dla tego systemu."; },
         "Pobrany plik nie jest programem dla tego systemu."},
        {"another update under way", [this] { upgrade_running = true; },
         "Inna aktualizacja programu jeszcze trwa, a jej kopia różni się od opublikowanej."},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        config = std::make_shared<test::TFakeConfig>();
        config->hash = published;
        config->self_update = update_fetched = true;
        started_by_update = upgrade_running = false;
        update_refusal = nullptr;
        std::filesystem::remove(dir.file("qiv_start_2_upgr.attempts"));
        dialogs.questions.clear();
        programs.clear();
        c.arrange();
        EXPECT_EQ(run(path, {"A"}), 1);
        EXPECT_EQ(dialogs.questions, TTexts{kOutdated});
        EXPECT_TRUE(programs.empty());
        ASSERT_NE(version_log, nullptr);
        EXPECT_EQ(version_log->details, TTexts{c.reason});
    }
}

TEST_F(StartTest, OutdatedLauncherAnsweredNoEndsWithoutStartingAnything) {
    const std::string path = executable("qiv_start_2" + platform::executable_suffix());
    config->hash = "0123456789ABCDEF0123456789ABCDEF";
    config->servers = {"http://a/", "http://b/"};
    dialogs.answer = false;
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(dialogs.questions, TTexts{kOutdated});
    EXPECT_EQ(exit_codes, std::vector<int>{1});
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(closed_titles.empty());
    EXPECT_EQ(controllers.size(), 1u);
    EXPECT_TRUE(started().empty());
}

TEST_F(StartTest, OutdatedLauncherAnsweredYesOpensTheFirstServersPage) {
    const std::string path = executable("qiv_start_2" + platform::executable_suffix());
    config->hash = "0123456789ABCDEF0123456789ABCDEF";
    config->servers = {"http://a/repo/", "http://b/"};
    dialogs.answer = true;
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(opened, TTexts{"http://a/repo/index.html"});
    EXPECT_EQ(exit_codes, std::vector<int>{1});
    EXPECT_TRUE(started().empty());

    // Without a server there is no page to open; the process ends all the same.
    config->servers.clear();
    opened.clear();
    exit_codes.clear();
    config->hash = "0123456789ABCDEF0123456789ABCDEF";
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(exit_codes, std::vector<int>{1});
}

TEST_F(StartTest, ErrorEscapingTheStartIsShownWithExitCodeOne) {
    const std::string path = executable("qiv_start_2" + platform::executable_suffix());
    controller_error = "Nie można przygotować listy serwerów";
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(dialogs.errors, TTexts{"Nie można przygotować listy serwerów"});
    EXPECT_TRUE(closed_titles.empty());

    // The executable's own digest that cannot be taken fails the same way.
    controller_error = nullptr;
    dialogs.errors.clear();
    std::filesystem::remove(path);
    EXPECT_EQ(run(path, {"A"}), 1);
    EXPECT_EQ(dialogs.errors.size(), 1u);
    EXPECT_TRUE(started().empty());
}

// Unattended, a failed start ends the run: the window closes itself, the error is in the run log
// and the exit code says it failed.
TEST_F(StartTest, FailedStartIsLoggedEndsTheUnattendedRunAndGivesExitCodeOne) {
    dialogs.attended = false;
    run_error = "Nie można uruchomić terminala \"B\": No such file or directory";
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"B"}), 1);
    EXPECT_EQ(dialogs.errors, TTexts{run_error});
    ASSERT_NE(run_log, nullptr);
    EXPECT_EQ(run_log->lines,
              (TTexts{"informacja: download_start|B.exe", std::string("błąd: ") + run_error}));
}

// A run that ends without an error but with the terminal not started (not available, its
// executable not verified) fails all the same.
TEST_F(StartTest, TerminalNotStartedGivesExitCodeOne) {
    terminal_starts = false;
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"B"}), 1);
    EXPECT_EQ(started(), TTexts{"B"});
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(exit_codes.empty());
}

// While the run waits for another launcher, the start window answers, and its close box ends the
// run with nothing started.
TEST_F(StartTest, ClosingTheWindowWhileWaitingForTheFolderEndsTheRun) {
    waits_for_folder = true;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, [this] {
        if (controllers.size() < 2 || !controllers.back()->waiting)
            return;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (qobject_cast<TFormStartTerminal*>(window) && window->isVisible()) {
                poll.stop();
                window->close();
            }
        }
    });
    poll.start();
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"B"}), 1);
    ASSERT_EQ(controllers.size(), 2u);
    EXPECT_TRUE(controllers.back()->wait_given_up);
    EXPECT_TRUE(dialogs.errors.empty());
}

// An error the core has already reported is not written to the run log a second time.
TEST_F(StartTest, AReportedErrorIsLoggedOnce) {
    dialogs.attended = false;
    run_error = "Nie udało się pobrać ustawień.";
    run_error_reported = true;
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"B"}), 1);
    ASSERT_NE(run_log, nullptr);
    EXPECT_EQ(run_log->lines,
              (TTexts{"informacja: download_start|B.exe", std::string("błąd: ") + run_error}));
}

TEST_F(StartTest, FailingToCloseOtherLaunchersIsIgnored) {
    close_fails = true;
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {"A"}), 0);
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_EQ(started(), TTexts{"A"});
}

TEST_F(StartTest, WithoutArgumentTheChosenTerminalStarts) {
    when_chooser_ready([](TFormChooseTerminal& chooser) {
        QTest::mouseClick(chooser.findChild<QWidget*>("t1"), Qt::LeftButton, {}, QPoint(5, 5));
    });
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {}), 0);
    // Self-version check, chooser window and terminal start: three controllers.
    EXPECT_EQ(controllers.size(), 3u);
    EXPECT_EQ(started(), TTexts{"B"});
    // Neither window is hidden before the process ends: the start window opens over the chooser.
    EXPECT_EQ(exit_codes, std::vector<int>{0});
    EXPECT_TRUE(ended_with_start_window_shown);
    EXPECT_TRUE(ended_with_chooser_shown);
}

TEST_F(StartTest, ChooserClosedWithoutChoiceStartsNothing) {
    when_chooser_ready([](TFormChooseTerminal& chooser) { chooser.reject(); });
    EXPECT_EQ(run(executable("qiv_start_2" + platform::executable_suffix()), {}), 1);
    EXPECT_EQ(controllers.size(), 2u);
    EXPECT_TRUE(started().empty());
    EXPECT_EQ(run_log, nullptr);
}

}  // namespace
}  // namespace qiv_start::ui
