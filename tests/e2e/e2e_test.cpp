// Runs the built launcher as a process against nginx serving the sample repository, in a working
// folder and a per-user configuration folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <thread>

#include "core/support/md5.h"
#include "core/support/run_report.h"
#include "launcher_test.h"
#include "support/environment.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

class LauncherRun : public LauncherTest {
  protected:
    LauncherRun() : LauncherTest(QIV_LAUNCHER) {}

    void SetUp() override {
        fs::create_directories(repository_);
        base_url_ = serve(repository_);
        output_of(script("examples/make-repository") + " " + quoted(repository_) + " " + base_url_ +
                  " " + quoted(QIV_LAUNCHER) + " " + quoted(QIV_REPO));
        write_bytes(work_ / "config" / "servers.cfg", base_url_ + "\r\n");
    }

    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    }

    // duzy.bin, with these bytes, among KASA's files after cennik.txt.
    void add_big_file(const std::string& bytes) {
        write_bytes(repository_ / "duzy.bin", bytes);
        core::TMd5 digest;
        digest.update(bytes.data(), bytes.size());
        std::string document = read_bytes(repository_ / "qiv_start_2.xml");
        const auto after = document.find("</file>", document.find("<name>cennik.txt</name>")) + 7;
        document.insert(after,
                        "<file><name>duzy.bin</name><target_path>terminale\\kasa</target_path>"
                        "<unzip>FALSE</unzip><hash>" +
                            digest.finish() + "</hash></file>");
        write_bytes(repository_ / "qiv_start_2.xml", document);
    }

    // The launcher in the repository, with self-update on. Other bytes, when given, with their
    // digest.
    void publish_launcher(const std::string& bytes = read_bytes(QIV_LAUNCHER)) {
        std::string document = read_bytes(repository_ / "qiv_start_2.xml");
        const auto start = document.find("<hash>") + 6;
        core::TMd5 digest;
        digest.update(bytes.data(), bytes.size());
        document.replace(start, document.find("</hash>") - start, digest.finish());
        document.insert(document.find("</hash>") + 7, "\r\n  <self_update value=\"true\"/>");
        write_bytes(repository_ / "qiv_start_2.xml", document);
        write_bytes(repository_ / "qiv_start_2", bytes);
    }

    // The check_version run logs, oldest first.
    std::string check_logs() const {
        std::vector<fs::path> logs;
        for (const auto& entry : fs::directory_iterator(work_ / "logs")) {
            if (entry.path().filename().string().starts_with("check_version"))
                logs.push_back(entry.path());
        }
        std::sort(logs.begin(), logs.end());
        std::string text;
        for (const auto& log : logs)
            text += read_bytes(log);
        return text;
    }

    // The launcher run from now on: a copy in the working folder that differs from the published.
    void make_outdated() {
        launcher_ = work_ / "qiv_start_2";
        write_bytes(launcher_, read_bytes(QIV_LAUNCHER) + "starsza wersja");
        fs::permissions(launcher_, fs::perms::owner_all);
    }

    // The run reports in nginx's access log, in order.
    std::vector<core::TRunReport> reports() const {
        std::vector<core::TRunReport> found;
        std::istringstream log(read_bytes(nginx_ / "access.log"));
        const std::string request = "GET /qiv_start_2.report?";
        for (std::string line; std::getline(log, line);) {
            const auto at = line.find(request);
            if (at == std::string::npos)
                continue;
            const auto query = at + request.size();
            const auto report =
                core::parse_report_query(line.substr(query, line.find(' ', query) - query));
            EXPECT_TRUE(report) << line;
            if (report)
                found.push_back(*report);
        }
        return found;
    }

    // Both server lists name only the server at url.
    void move_repository_to(const std::string& url) {
        write_bytes(repository_ / "servers.cfg", url + "\r\n");
        write_bytes(work_ / "config" / "servers.cfg", url + "\r\n");
    }

    fs::path repository_ = dir_.path() / "repository";
    std::string base_url_;
};

TEST_F(LauncherRun, FreshFolderGetsEveryFileAndStartsTheTerminalInItsDirectory) {
    EXPECT_EQ(run_launcher("KASA"), 0);

    const std::string record = started_record();
    EXPECT_NE(record.find("Dzień dobry! Terminal KASA działa."), std::string::npos) << record;
    EXPECT_NE(
        record.find("katalog roboczy: " + fs::canonical(work_ / "terminale" / "kasa").string()),
        std::string::npos)
        << record;
    EXPECT_EQ(read_bytes(work_ / "wspolne" / "slownik.txt"),
              read_bytes(repository_ / "slownik.txt"));
    EXPECT_TRUE(fs::exists(work_ / "wspolne" / "biblioteki" / "raporty.lib"));
    EXPECT_TRUE(fs::exists(work_ / "terminale" / "kasa" / "dane" / "szablony" / "faktura.txt"));
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"), read_bytes(repository_ / "qiv_start_2.xml"));

    const std::string run_log = log("qiv_start");
    EXPECT_NE(run_log.find("informacja: file_count|6\r\n"), std::string::npos) << run_log;
    EXPECT_NE(run_log.find("informacja: terminal \"KASA\" uruchomiono\r\n"), std::string::npos);
    EXPECT_EQ(count(run_log, "Wersji pliku jest poprawna"), 0);
    EXPECT_NE(log("check_version").find("download_finished|qiv_start_2.xml"), std::string::npos);
}

TEST_F(LauncherRun, SecondRunFindsEveryFileCurrentAndRepairsWhatChanged) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    ASSERT_FALSE(started_record().empty());
    forget_start();
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_FALSE(started_record().empty());
    EXPECT_EQ(count(log("qiv_start"), "Wersji pliku jest poprawna|"), 6) << log("qiv_start");
    EXPECT_EQ(count(log("qiv_start"), "download_start|"), 2);  // servers.cfg, qiv_start_2.xml

    // A working folder that lets nothing be written there (the terminal's own folder aside) still
    // starts a terminal whose files are all current, from the cached document.
    {
        forget_start();
        const TUnwritableFolder folder(work_), logs(work_ / "logs"), config(work_ / "config");
        if (folder.holds()) {
            EXPECT_EQ(run_launcher("KASA"), 0);
            EXPECT_FALSE(started_record().empty());
        }
    }

    // A stale file is replaced and a deleted archive member comes back; the rest stays.
    write_bytes(work_ / "terminale" / "kasa" / "cennik.txt", "zmieniony\r\n");
    fs::remove(work_ / "terminale" / "kasa" / "dane" / "paragon.txt");
    write_bytes(work_ / "terminale" / "kasa" / "dane" / "szablony" / "faktura.txt", "moja\r\n");
    ASSERT_EQ(run_launcher("KASA"), 0);
    const std::string run_log = log("qiv_start");
    EXPECT_NE(run_log.find("download_start|cennik.txt"), std::string::npos) << run_log;
    EXPECT_EQ(read_bytes(work_ / "terminale" / "kasa" / "cennik.txt"),
              read_bytes(repository_ / "cennik.txt"));
    EXPECT_TRUE(fs::exists(work_ / "terminale" / "kasa" / "dane" / "paragon.txt"));
    EXPECT_EQ(read_bytes(work_ / "terminale" / "kasa" / "dane" / "szablony" / "faktura.txt"),
              "moja\r\n");
}

TEST_F(LauncherRun, UnknownOrRestrictedTerminalIsReportedAndNothingStarts) {
    EXPECT_EQ(run_launcher("NIEMA"), 1);
    EXPECT_NE(log("qiv_start").find("błąd: Terminal z kodem \"NIEMA\" nie jest dostępny.\r\n"),
              std::string::npos);
    EXPECT_EQ(run_launcher("MAGAZYN"), 1);
    EXPECT_NE(log("qiv_start").find("błąd: Terminal z kodem \"MAGAZYN\" nie jest dostępny.\r\n"),
              std::string::npos);
    EXPECT_EQ(run_launcher("kasa"), 1);
    EXPECT_FALSE(fs::exists(work_ / "terminale"));
}

// The window toolkit's own options (-reverse, -style x, ...) are terminal codes like any other.
TEST_F(LauncherRun, ToolkitOptionsReachTheLauncherAsTerminalCodes) {
    EXPECT_EQ(run_launcher("-reverse"), 1);
    EXPECT_NE(log("qiv_start").find("błąd: Terminal z kodem \"-reverse\" nie jest dostępny.\r\n"),
              std::string::npos);
    EXPECT_EQ(run_launcher("-style fusion KASA"), 1);
    EXPECT_NE(log("qiv_start").find("błąd: Terminal z kodem \"-style\" nie jest dostępny.\r\n"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(work_ / "terminale"));
}

TEST_F(LauncherRun, SecondServerServesWhenTheFirstIsDown) {
    const std::string servers = "http://127.0.0.1:9/\r\n" + base_url_ + "\r\n";
    write_bytes(repository_ / "servers.cfg", servers);
    write_bytes(work_ / "config" / "servers.cfg", servers);
    EXPECT_EQ(run_launcher("KASA"), 0);
    EXPECT_FALSE(started_record().empty());
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), servers);
}

TEST_F(LauncherRun, RepositoryServerListReplacesTheLocalOneButAPortalPageDoesNot) {
    const std::string repository_list = base_url_ + "\r\n" + base_url_ + "\r\n";
    write_bytes(repository_ / "servers.cfg", repository_list);
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), repository_list);

    write_bytes(repository_ / "servers.cfg", "<html><body>Zaloguj się do sieci</body></html>\n");
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), repository_list);
    EXPECT_NE(log("check_version").find("uwaga: Pobrana lista serwerów jest nieprawidłowa"),
              std::string::npos);
}

TEST_F(LauncherRun, UnreachableRepositoryFallsBackToTheCacheOrEndsWithExitCodeOne) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    ASSERT_FALSE(started_record().empty());
    forget_start();
    const std::string servers_before = read_bytes(work_ / "config" / "servers.cfg");
    stop_serving();

    EXPECT_EQ(run_launcher("KASA"), 0);
    EXPECT_FALSE(started_record().empty());
    EXPECT_NE(log("check_version").find("uwaga: Błąd pobierania ustawień z sieci.\r\n"),
              std::string::npos);
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), servers_before);

    fs::remove_all(config_home_);
    EXPECT_EQ(run_launcher("KASA"), 1);
    EXPECT_NE(log("check_version")
                  .find("błąd: Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci "
                        "internet.\r\n"),
              std::string::npos);
}

// The administrator publishes the launcher with self-update on; the first server's copy is not
// the published one. An outdated launcher, with a copy under the upgrade name left by a killed
// update, fetches the published launcher from the second server, hands over to it under the
// upgrade name, and that copy takes its place and starts the terminal. The next start is current
// and leaves no copy behind.
TEST_F(LauncherRun, AnOutdatedLauncherUpdatesItselfAndStartsTheTerminal) {
    publish_launcher();
    const fs::path first = repository_ / "first";
    write_bytes(repository_ / "servers.cfg", base_url_ + "first/\r\n" + base_url_ + "\r\n");
    fs::create_directories(first);
    for (const auto& entry : fs::directory_iterator(repository_)) {
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), first / entry.path().filename());
    }
    write_bytes(first / "qiv_start_2", "#!/bin/sh\necho przejety >started.txt\n");
    make_outdated();
    write_bytes(work_ / "qiv_start_2_upgr", "kopia przerwanej aktualizacji");

    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
    EXPECT_EQ(core::get_file_md5(launcher_.string()), core::get_file_md5(QIV_LAUNCHER));
    EXPECT_EQ(fs::status(launcher_).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    const std::string logs = check_logs();
    EXPECT_EQ(count(logs, "informacja: aktualizacja programu"), 2) << logs;
    EXPECT_EQ(count(logs, "download_start|qiv_start_2\r\n"), 1) << logs;

    forget_start();
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
    EXPECT_FALSE(fs::exists(work_ / "qiv_start_2_upgr"));
    EXPECT_FALSE(fs::exists(work_ / "started.txt"));
}

// A published launcher that is no program of this system is not started, and one that never
// takes the launcher's place is handed over to twice: then the question comes, with the reason in
// the run log, and the terminal is not started.
TEST_F(LauncherRun, AnUpdateThatCannotTakeTheLaunchersPlaceEndsInTheQuestion) {
    const struct {
        const char* name;
        std::string bytes;
        std::vector<int> exit_codes;
        const char* reason;
    } cases[] = {
        {"a script",
         "#!/bin/sh\necho uruchomiony >obcy.txt\n",
         {1},
         "nie jest programem dla tego systemu"},
        {"a program that ends at once",
         read_bytes("/bin/true"),
         {0, 0, 1},
         "nie zajęła jego miejsca po 2 uruchomieniach"},
    };
    const std::string document = read_bytes(repository_ / "qiv_start_2.xml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(work_ / "logs");
        write_bytes(repository_ / "qiv_start_2.xml", document);
        publish_launcher(c.bytes);
        make_outdated();
        std::vector<int> exit_codes;
        for (std::size_t run = 0; run < c.exit_codes.size(); ++run)
            exit_codes.push_back(run_launcher("KASA"));
        EXPECT_EQ(exit_codes, c.exit_codes);
        EXPECT_NE(check_logs().find(c.reason), std::string::npos) << check_logs();
        EXPECT_NE(
            read_bytes(dir_.path() / "launcher.out").find("Wersja programu jest przestarzała"),
            std::string::npos);
        EXPECT_FALSE(fs::exists(work_ / "obcy.txt"));
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "started.txt"));
    }
}

// Three outdated launchers started together: each ends with 0, each one's start reaches the
// terminal through one update, and the launcher is replaced once.
TEST_F(LauncherRun, OutdatedLaunchersStartedTogetherEachStartTheTerminal) {
    publish_launcher();
    make_outdated();
    std::string all;
    for (const std::string n : {"1", "2", "3"}) {
        all.append("(cd ").append(quoted(work_)).append(" && env XDG_CONFIG_HOME=");
        all.append(quoted(config_home_)).append(" QT_QPA_PLATFORM=offscreen ");
        all.append(quoted(launcher_)).append(" KASA >/dev/null 2>&1; echo $? >");
        all.append(quoted(dir_.path() / ("exit" + n))).append(") & ");
    }
    ASSERT_EQ(std::system((all + "wait").c_str()), 0);
    std::string run_logs;
    for (int attempt = 0; attempt < 600 && count(run_logs, "uruchomiono") < 3; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        run_logs.clear();
        for (const auto& entry : fs::directory_iterator(work_ / "logs")) {
            if (entry.path().filename().string().starts_with("qiv_start_"))
                run_logs += read_bytes(entry.path());
        }
    }
    for (const std::string n : {"1", "2", "3"})
        EXPECT_EQ(read_bytes(dir_.path() / ("exit" + n)), "0\n") << n;
    EXPECT_EQ(count(run_logs, "terminal \"KASA\" uruchomiono"), 3) << run_logs;
    EXPECT_EQ(count(run_logs, "błąd"), 0) << run_logs;
    EXPECT_EQ(count(check_logs(), "Nie udało się"), 0) << check_logs();
    EXPECT_EQ(core::get_file_md5(launcher_.string()), core::get_file_md5(QIV_LAUNCHER));
}

// The old launcher and its upgrade copy killed together at whatever step of the update: the next
// start finishes or repeats it, and starts the terminal.
TEST_F(LauncherRun, AnUpdateKilledAtAnyStepIsFinishedByTheNextStart) {
    publish_launcher();
    // The pattern does not match the shell that runs it.
    const std::string kill_all = "pkill -9 -f '" + (work_ / "qiv_start_[2]").string() + "' || true";
    for (const char* delay : {"0.1", "0.5", "1.2"}) {
        SCOPED_TRACE(delay);
        make_outdated();
        const std::string started =
            "cd " + quoted(work_) + " && (env XDG_CONFIG_HOME=" + quoted(config_home_) +
            " QT_QPA_PLATFORM=offscreen " + quoted(launcher_) + " KASA >/dev/null 2>&1 &)";
        ASSERT_EQ(std::system(started.c_str()), 0);
        ASSERT_EQ(std::system(("sleep " + std::string(delay) + " && " + kill_all).c_str()), 0);
        forget_start();
        ASSERT_EQ(run_launcher("KASA"), 0);
        EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
        EXPECT_EQ(core::get_file_md5(launcher_.string()), core::get_file_md5(QIV_LAUNCHER));
        ASSERT_EQ(std::system(kill_all.c_str()), 0);
    }
}

// nginx sends each answer at 4 MiB/s.
class LauncherRunOnASlowLink : public LauncherRun {
  protected:
    TScopedEnv limit_{"NGINX_LIMIT_RATE", "4m"};
};

// A launcher killed in the middle of a download leaves the part it received, which the next start
// takes up: it asks only for the rest, and the file arrives whole.
TEST_F(LauncherRunOnASlowLink, DownloadOfAKilledLauncherIsResumedByTheNextStart) {
    std::string big(24 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    add_big_file(big);

    // About 6 s of download; the launcher is killed once a first MiB of it is on the disk.
    const std::string killed =
        "cd " + quoted(work_) + " && (env XDG_CONFIG_HOME=" + quoted(config_home_) +
        " QT_QPA_PLATFORM=offscreen " + quoted(QIV_LAUNCHER) +
        " KASA >/dev/null 2>&1 & pid=$!; for _ in $(seq 600); do"
        " record=$(ls terminale/kasa/duzy.bin.part*.resume 2>/dev/null | head -n 1);"
        " [ -n \"$record\" ] && [ \"$(stat -c %s \"${record%.resume}\")\" -gt 1048576 ] && break;"
        " sleep 0.05; done; kill -9 $pid; wait $pid)";
    static_cast<void>(std::system(killed.c_str()));
    std::uintmax_t kept = 0;
    bool recorded = false;
    for (const auto& entry : fs::directory_iterator(work_ / "terminale" / "kasa")) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("duzy.bin.part") && name.ends_with(".resume"))
            recorded = true;
        else if (name.starts_with("duzy.bin.part"))
            kept = fs::file_size(entry.path());
    }
    ASSERT_TRUE(recorded);
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, big.size());

    EXPECT_EQ(run_launcher("KASA"), 0);
    EXPECT_TRUE(read_bytes(work_ / "terminale" / "kasa" / "duzy.bin") == big);
    const std::string access = read_bytes(nginx_ / "access.log");
    EXPECT_NE(access.find("\"GET /duzy.bin HTTP/1.1\" 206"), std::string::npos) << access;
    for (const auto& entry : fs::recursive_directory_iterator(work_))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

// Two launchers started together in one folder: one synchronises, the other waits for it and
// finds the files current; each keeps its own logs and nothing lands outside the folder.
TEST_F(LauncherRun, TwoLaunchersStartedTogetherTakeTurnsInTheFolder) {
    // A big file keeps the first launcher at work long enough for the second to arrive.
    const std::string big(96 * 1024 * 1024, 'b');
    add_big_file(big);
    std::string both;
    for (const std::string n : {"1", "2"}) {
        const fs::path out = dir_.path() / ("launcher" + n + ".out");
        const fs::path exit_code = dir_.path() / ("exit" + n);
        both.append("(cd ").append(quoted(work_)).append(" && env XDG_CONFIG_HOME=");
        both.append(quoted(config_home_)).append(" QT_QPA_PLATFORM=offscreen ");
        both.append(quoted(QIV_LAUNCHER)).append(" KASA >").append(quoted(out));
        both.append(" 2>&1; echo $? >").append(quoted(exit_code)).append(") & ");
    }
    ASSERT_EQ(std::system((both + "wait").c_str()), 0);
    EXPECT_EQ(read_bytes(dir_.path() / "exit1"), "0\n")
        << read_bytes(dir_.path() / "launcher1.out");
    EXPECT_EQ(read_bytes(dir_.path() / "exit2"), "0\n")
        << read_bytes(dir_.path() / "launcher2.out");

    std::string run_logs;
    int logs = 0;
    for (const auto& entry : fs::directory_iterator(work_ / "logs")) {
        if (entry.path().filename().string().starts_with("qiv_start_")) {
            run_logs += read_bytes(entry.path());
            ++logs;
        }
    }
    EXPECT_EQ(logs, 2);
    EXPECT_EQ(count(run_logs, "download_start|duzy.bin"), 1) << run_logs;
    EXPECT_EQ(count(run_logs, "download_start|cennik.txt"), 1) << run_logs;
    EXPECT_EQ(count(run_logs, "Wersji pliku jest poprawna|cennik.txt"), 1) << run_logs;
    EXPECT_EQ(count(run_logs, "terminal \"KASA\" uruchomiono"), 2) << run_logs;
    EXPECT_EQ(count(run_logs, "błąd"), 0) << run_logs;
    for (const auto& entry : fs::recursive_directory_iterator(work_))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
    std::vector<std::string> beside;
    for (const auto& entry : fs::directory_iterator(dir_.path()))
        beside.push_back(entry.path().filename().string());
    std::sort(beside.begin(), beside.end());
    EXPECT_EQ(beside, (std::vector<std::string>{"config-home", "exit1", "exit2", "launcher1.out",
                                                "launcher2.out", "nginx", "repository", "work"}));
}

// One run, one report line: a started terminal, an access refused, a file that no server had.
TEST_F(LauncherRun, EveryRunLeavesOneReportWithItsOutcomeInTheAccessLog) {
    struct TRow {
        std::string terminal;
        int exit_code;
        core::TRunOutcome outcome;
        std::uint64_t checked, downloaded, failed;
    };
    const std::vector<TRow> rows{
        {"KASA", 0, core::TRunOutcome::started, 6, 6, 0},
        {"MAGAZYN", 1, core::TRunOutcome::access_refused, 0, 0, 0},
        {"KASA", 1, core::TRunOutcome::file_missing, 6, 0, 1},
    };
    const auto before = std::time(nullptr);
    std::string md5 = core::get_file_md5(QIV_LAUNCHER);
    std::transform(md5.begin(), md5.end(), md5.begin(), ::tolower);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i == 2) {
            fs::remove(repository_ / "kasa.sh");
            fs::remove(work_ / "terminale" / "kasa" / "kasa.sh");
        }
        ASSERT_EQ(run_launcher(rows[i].terminal), rows[i].exit_code) << i;
        const auto all = reports();
        ASSERT_EQ(all.size(), i + 1) << read_bytes(nginx_ / "access.log");
        const core::TRunReport& report = all.back();
        EXPECT_EQ(report.outcome, rows[i].outcome) << i;
        EXPECT_EQ(report.terminal, rows[i].terminal);
        EXPECT_EQ(report.checked, rows[i].checked) << i;
        EXPECT_EQ(report.downloaded, rows[i].downloaded) << i;
        EXPECT_EQ(report.failed, rows[i].failed) << i;
        EXPECT_EQ(report.sequence, i + 1);
        EXPECT_EQ(report.workstation, all.front().workstation);
        EXPECT_EQ(report.workstation.size(), 32u);
        EXPECT_EQ(report.launcher, md5);
        EXPECT_FALSE(report.host.empty());
        EXPECT_FALSE(report.cache_used);
        EXPECT_GE(report.time, before);
        EXPECT_LE(report.time, std::time(nullptr));
        EXPECT_EQ(report.server, i == 0 ? std::optional<std::uint64_t>(0) : std::nullopt);
        EXPECT_EQ(report.bytes > 0, true);
    }
}

// Reports that found no server wait in the cache folder for a run that reaches one.
TEST_F(LauncherRun, ReportsOfOfflineRunsAreSentByTheNextRunWithTheirOwnTimes) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    stop_serving();
    ASSERT_EQ(run_launcher("KASA"), 0);  // from the cache
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    const auto offline_done = std::time(nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    base_url_ = serve(repository_);
    move_repository_to(base_url_);
    ASSERT_EQ(run_launcher("KASA"), 0);

    const auto all = reports();
    ASSERT_EQ(all.size(), 3u) << read_bytes(nginx_ / "access.log");
    for (std::uint64_t i = 0; i < all.size(); ++i)
        EXPECT_EQ(all[i].sequence, i + 1);
    EXPECT_TRUE(all[1].cache_used);
    EXPECT_LT(all[1].time, offline_done);
    EXPECT_GT(all[2].time, offline_done);
    EXPECT_FALSE(all[2].cache_used);
}

// A report server that takes the connection and never answers changes nothing for the run.
TEST_F(LauncherRun, AReportThatIsNeverAnsweredLeavesTheRunAsItWas) {
    TTestHttpServer server;
    move_repository_to(server.base_url());
    for (const auto& entry : fs::recursive_directory_iterator(repository_)) {
        if (entry.is_regular_file())
            server.serve(fs::relative(entry.path(), repository_).generic_string(),
                         read_bytes(entry.path()));
    }
    server.stall_answer("qiv_start_2.report");
    EXPECT_EQ(run_launcher("KASA"), 0);
    EXPECT_FALSE(started_record().empty());
    EXPECT_NE(log("qiv_start").find("Raport z uruchomienia nie został wysłany na serwer"),
              std::string::npos);
}

}  // namespace
}  // namespace qiv_start::test
