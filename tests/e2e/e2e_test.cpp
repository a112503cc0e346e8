// Runs the built launcher as a process against nginx serving the sample repository, in a working
// folder and a per-user configuration folder of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
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

gid_t gid_of(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_gid : 0;
}

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

    // duzy.bin, with these bytes, among KASA's files after cennik.txt; from_store: only as the
    // object of a store that the document names. Returns the path the repository serves it at.
    std::string add_big_file(const std::string& bytes, bool from_store = false) {
        core::TFileDigests digests(from_store);
        digests.update(bytes.data(), bytes.size());
        const core::TDigestPair digest = digests.finish();
        std::string document = read_bytes(repository_ / "qiv_start_2.xml");
        const auto after = document.find("</file>", document.find("<name>cennik.txt</name>")) + 7;
        document.insert(after,
                        "<file><name>duzy.bin</name><target_path>terminale\\kasa</target_path>"
                        "<unzip>FALSE</unzip><hash>" +
                            digest.md5 + "</hash>" +
                            (from_store ? "<sha256>" + digest.sha256 + "</sha256>" : "") +
                            "</file>");
        const std::string path = from_store ? object_of(digest.sha256) : "duzy.bin";
        if (from_store)
            document.insert(document.find("</hash>") + 7, "<store value=\"objects/\"/>");
        write_bytes(repository_ / path, bytes);
        write_bytes(repository_ / "qiv_start_2.xml", document);
        return path;
    }

    // "objects/ab/abcdef...", for the digest in either case.
    static std::string object_of(std::string sha256) {
        std::transform(sha256.begin(), sha256.end(), sha256.begin(), ::tolower);
        return "objects/" + sha256.substr(0, 2) + "/" + sha256;
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
    const std::string access = read_bytes(nginx_ / "access.log");
    EXPECT_NE(access.find("\"GET /cennik.txt HTTP/1.1\" 200"), std::string::npos) << access;
    EXPECT_EQ(access.find("/objects/"), std::string::npos) << access;
}

// A repository whose document names its store: a mirror first, that holds the document and every
// object but one, then the repository itself, whose named copies are gone or other than the
// document's. Every file with a SHA-256 comes from the store, the one the mirror lacks from the
// repository; a file without SHA-256 comes by name, and the messages name each file by its name.
TEST_F(LauncherRun, FilesWithASha256ComeFromTheStoreAndAMirrorWithoutAnObjectIsPassedOver) {
    output_of(quoted(QIV_REPO) + " hash " + quoted(repository_) + " --sha256 --launcher " +
              quoted(QIV_LAUNCHER));
    std::string document = read_bytes(repository_ / "qiv_start_2.xml");
    const auto by_name = document.find("<sha256>", document.find("<name>wspolne.ini</name>"));
    document.erase(by_name, document.find("</sha256>", by_name) + 9 - by_name);
    document.insert(document.find("</hash>") + 7, "\r\n  <store value=\"objects\"/>");
    write_bytes(repository_ / "qiv_start_2.xml", document);
    const std::string servers = base_url_ + "first/\r\n" + base_url_ + "\r\n";
    write_bytes(repository_ / "servers.cfg", servers);
    write_bytes(work_ / "config" / "servers.cfg", servers);

    const fs::path first = repository_ / "first";
    std::map<std::string, std::string> objects, published;  // by name
    for (const auto& entry : fs::directory_iterator(repository_)) {
        const std::string name = entry.path().filename().string();
        if (!entry.is_regular_file() || name == "qiv_start_2.xml" || name == "servers.cfg")
            continue;
        objects[name] = object_of(core::get_file_digests(entry.path().string(), true).sha256);
        published[name] = read_bytes(entry.path());
        write_bytes(repository_ / objects[name], published[name]);
        if (name != "cennik.txt")
            write_bytes(first / objects[name], published[name]);
    }
    fs::copy_file(repository_ / "qiv_start_2.xml", first / "qiv_start_2.xml");
    fs::copy_file(repository_ / "servers.cfg", first / "servers.cfg");
    write_bytes(repository_ / "cennik.txt", "inny cennik\r\n");
    fs::remove(repository_ / "kasa.sh");
    fs::remove(repository_ / "dane.zip");

    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
    EXPECT_EQ(read_bytes(work_ / "terminale" / "kasa" / "cennik.txt"), published["cennik.txt"]);
    EXPECT_EQ(read_bytes(work_ / "wspolne" / "wspolne.ini"), published["wspolne.ini"]);
    EXPECT_TRUE(fs::exists(work_ / "terminale" / "kasa" / "dane" / "paragon.txt"));
    const std::string run_log = log("qiv_start");
    EXPECT_NE(run_log.find("download_start|cennik.txt\r\n"), std::string::npos) << run_log;
    EXPECT_EQ(count(run_log, "błąd"), 0) << run_log;

    // What each file was asked for as (HEAD, then GET), with the answers; the run's report goes to
    // the server of the document, which has no file for it.
    std::set<std::string> asked;
    const std::regex request("\"[A-Z]+ /([^ ?]+)\\S* HTTP/1\\.1\" (\\d+)");
    const std::string access = read_bytes(nginx_ / "access.log");
    for (std::sregex_iterator it(access.begin(), access.end(), request), end; it != end; ++it)
        asked.insert((*it)[1].str() + " " + (*it)[2].str());
    EXPECT_EQ(
        asked,
        (std::set<std::string>{
            "first/servers.cfg 200", "first/qiv_start_2.xml 200", "first/qiv_start_2.report 404",
            "first/wspolne.ini 404", "wspolne.ini 200", "first/" + objects["slownik.txt"] + " 200",
            "first/" + objects["raporty.lib"] + " 200", "first/" + objects["cennik.txt"] + " 404",
            objects["cennik.txt"] + " 200", "first/" + objects["dane.zip"] + " 200",
            "first/" + objects["kasa.sh"] + " 200"}))
        << access;
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

// A working folder, settings or logs that another user may change: nothing is fetched there or
// started from there, unless the administrator allows it. The user's private group may write.
TEST_F(LauncherRun, AFolderThatOthersMayChangeIsUsedOnlyWhenTheAdministratorAllowsIt) {
    const std::string refused =
        "błąd: Katalog roboczy programu mogą zmieniać inni użytkownicy tego komputera, więc "
        "program nie pobierze do niego plików ani nic z niego nie uruchomi. Proszę zgłosić to "
        "administratorowi.\r\n";
    const bool root = ::geteuid() == 0;
    struct TCase {
        fs::path folder;
        fs::perms added;
        std::optional<gid_t> group;
        std::optional<std::string> allowed;
        int exit_code;
    };
    const std::vector<TCase> cases = {
        {work_, fs::perms::others_write, std::nullopt, std::nullopt, 1},
        {work_ / "config", fs::perms::group_write, gid_t{54321}, std::nullopt, 1},
        {work_ / "logs", fs::perms::others_write, std::nullopt, std::nullopt, 1},
        {work_, fs::perms::others_write, std::nullopt, "0", 1},
        {work_, fs::perms::others_write, std::nullopt, "1", 0},
        {work_, fs::perms::group_write, std::nullopt, std::nullopt, 0}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.folder.filename().string() + " " + c.allowed.value_or("-"));
        if (c.group && !root)
            continue;
        fs::create_directories(c.folder);
        const gid_t former_group = gid_of(c.folder);
        fs::permissions(c.folder, c.added, fs::perm_options::add);
        if (c.group) {
            ASSERT_EQ(::chown(c.folder.c_str(), static_cast<uid_t>(-1), *c.group), 0);
        }
        const TScopedEnv allowed("QIV_START_SHARED_FOLDER", c.allowed);
        EXPECT_EQ(run_launcher("KASA"), c.exit_code);
        EXPECT_EQ(log("qiv_start").find(refused) != std::string::npos, c.exit_code == 1)
            << log("qiv_start");
        EXPECT_EQ(fs::exists(work_ / "terminale"), c.exit_code == 0);
        fs::permissions(c.folder, c.added, fs::perm_options::remove);
        if (c.group) {
            ASSERT_EQ(::chown(c.folder.c_str(), static_cast<uid_t>(-1), former_group), 0);
        }
    }
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

// A launcher in a folder that only root may write is a seed. Run by another user, it copies itself
// into that user's private folder with its folder's servers and release floor, and the copy
// synchronises and starts the terminal there; the seed's folder stays as it was. The next start
// copies the launcher again where the user's copy went missing, and lowers no higher serial.
TEST_F(LauncherRun, ASeedHandsTheStartOverToTheUsersOwnCopy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the seed as another user";
    constexpr int kUser = 65534;
    const fs::path seed = dir_.path() / "seed", home = dir_.path() / "home";
    fs::create_directories(seed / "config");
    fs::create_directories(home);
    ASSERT_EQ(::chown(home.c_str(), kUser, kUser), 0);
    fs::permissions(dir_.path(), fs::perms::others_exec, fs::perm_options::add);
    fs::copy_file(QIV_LAUNCHER, seed / "qiv_start_2");
    write_bytes(seed / "config" / "servers.cfg", base_url_ + "\r\n");
    write_bytes(seed / "config" / "release_serial", "5\n");
    launcher_ = seed / "qiv_start_2";
    config_home_ = home / ".config";
    const std::string as_user = "env -u XDG_DATA_HOME HOME=" + quoted(home) +
                                " setpriv --reuid=65534 --regid=65534 --clear-groups";

    ASSERT_EQ(run_launcher("KASA", as_user), 0) << read_bytes(dir_.path() / "launcher.out");
    work_ = home / ".local" / "share" / "qiv_start_2";
    const std::string record = started_record();
    EXPECT_NE(
        record.find("katalog roboczy: " + fs::canonical(work_ / "terminale" / "kasa").string()),
        std::string::npos)
        << record;
    struct stat folder {};
    ASSERT_EQ(::stat(work_.c_str(), &folder), 0);
    EXPECT_EQ(folder.st_uid, static_cast<uid_t>(kUser));
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2"), read_bytes(QIV_LAUNCHER));
    EXPECT_EQ(read_bytes(work_ / "config" / "release_serial"), "5\n");
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"),
              read_bytes(repository_ / "servers.cfg"));
    std::vector<fs::path> seed_files(fs::recursive_directory_iterator(seed), {});
    EXPECT_EQ(seed_files.size(), 4u);  // the launcher, config and its two files

    forget_start();
    fs::remove(work_ / "qiv_start_2");
    write_bytes(work_ / "config" / "release_serial", "7\n");
    ASSERT_EQ(run_launcher("KASA", as_user), 0) << read_bytes(dir_.path() / "launcher.out");
    EXPECT_FALSE(started_record().empty());
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2"), read_bytes(QIV_LAUNCHER));
    EXPECT_EQ(read_bytes(work_ / "config" / "release_serial"), "7\n");
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

    // Kills a launcher once it has a first MiB of duzy.bin, then lets the next one finish it: it
    // asks for the rest at the path.
    void kill_and_resume(const std::string& big, const std::string& path);
};

// A launcher killed in the middle of a download leaves the part it received, which the next start
// takes up: it asks only for the rest, and the file arrives whole; by name and from the store.
TEST_F(LauncherRunOnASlowLink, DownloadOfAKilledLauncherIsResumedByTheNextStart) {
    std::string big(24 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>((i * 2654435761u) >> 13);
    const std::string document = read_bytes(repository_ / "qiv_start_2.xml");
    for (const bool from_store : {false, true}) {
        SCOPED_TRACE(from_store ? "from the store" : "by name");
        write_bytes(repository_ / "qiv_start_2.xml", document);
        fs::remove(repository_ / "duzy.bin");
        const std::string path = add_big_file(big, from_store);
        fs::remove_all(work_ / "terminale");
        write_bytes(nginx_ / "access.log", "");
        kill_and_resume(big, "/" + path);
    }
}

void LauncherRunOnASlowLink::kill_and_resume(const std::string& big, const std::string& path) {
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
    EXPECT_NE(access.find("\"GET " + path + " HTTP/1.1\" 206"), std::string::npos) << access;
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
