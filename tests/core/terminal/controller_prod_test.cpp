#include "core/terminal/controller_prod.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <tuple>

#include "core/support/error.h"
#include "platform/files.h"
#include "support/content_digests.h"
#include "support/recording_listener.h"
#include "support/scripted_config.h"
#include "support/scripted_downloader.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::md5_of;
using test::read_bytes;
using test::sha256_of;
using test::write_bytes;

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> names_in(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class ControllerSync : public ::testing::Test {
  protected:
    // Publishes content in the repository and returns its configuration entry.
    std::shared_ptr<test::TScriptedFile> serve(const std::string& name, const std::string& target,
                                               const std::string& content, bool archive = false) {
        downloader_->files[name] = content;
        return std::make_shared<test::TScriptedFile>(name, target, md5_of(content), archive);
    }

    // A terminal open to all, started by kasa.sh in terminale\kasa.
    void add_terminal(const std::string& code, TFileConfigs own_files,
                      const std::string& exe_dir = "terminale\\kasa") {
        auto exe = serve("kasa.sh", exe_dir, "#!/bin/sh\nexit 0\n");
        config_->terminals.push_back(
            std::make_shared<test::TScriptedTerminal>(code, true, exe, std::move(own_files)));
    }

    std::shared_ptr<TControllerProd> controller() {
        TWorkstation workstation{[] { return std::vector<std::string>{"10.1.2.3"}; },
                                 [this](const std::string& directory, const std::string& file) {
                                     if (!start_error_.empty())
                                         throw TError(start_error_);
                                     started_.push_back(directory + "|" + file);
                                 }};
        auto made =
            std::make_shared<TControllerProd>(downloader_, config_, workstation, digests_bind_);
        made->add_listener(listener_);
        return made;
    }

    std::vector<std::string> run(const std::string& code) {
        listener_->lines.clear();
        terminal_started_ = false;
        terminal_started_ = controller()->run_terminal(code);
        return listener_->lines;
    }

    bool said(const std::string& line) const {
        const auto& lines = listener_->lines;
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::string zip_bytes(const std::vector<test::TZipMember>& members) {
        const fs::path path = dir_.path() / "built.zip";
        test::write_zip(path, members);
        std::string bytes = read_bytes(path);
        fs::remove(path);
        return bytes;
    }

    test::TTempDir dir_;
    test::TCurrentDir current_{dir_.path()};
    std::shared_ptr<test::TScriptedConfig> config_ = std::make_shared<test::TScriptedConfig>();
    std::shared_ptr<test::TScriptedDownloader> downloader_ =
        std::make_shared<test::TScriptedDownloader>();
    std::shared_ptr<test::TRecordingListener> listener_ =
        std::make_shared<test::TRecordingListener>();
    std::vector<std::string> started_;
    bool digests_bind_ = false;
    std::string start_error_;
    bool terminal_started_ = false;  // what the last run answered
};

TEST_F(ControllerSync, DefaultFilesComeFirstThenTheTerminalsOwnAndTheTerminalStarts) {
    config_->default_files = {serve("slownik.txt", "wspolne", "słownik"),
                              serve("raporty.lib", "wspolne\\biblioteki", "raporty")};
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik"),
                          serve("logo.png", "terminale\\kasa\\grafika", "logo")});

    EXPECT_EQ(run("KASA"), (std::vector<std::string>{
                               "informacja: uruchamianie terminala \"KASA\"",
                               "informacja: pobieranie plików terminala \"KASA\"",
                               "informacja: file_count|5",
                               "informacja: pobieranie plików wspólnych",
                               "informacja: pobieranie plików szczególnych",
                               "informacja: uruchomienie terminala \"KASA\"",
                               "informacja: terminal \"KASA\" uruchomiono",
                           }));
    EXPECT_EQ(downloader_->requested,
              (std::vector<std::string>{"slownik.txt", "raporty.lib", "cennik.txt", "logo.png",
                                        "kasa.sh"}));
    EXPECT_EQ(read_bytes("wspolne/biblioteki/raporty.lib"), "raporty");
    EXPECT_EQ(read_bytes("terminale/kasa/grafika/logo.png"), "logo");
    EXPECT_EQ(names_in("terminale/kasa"),
              (std::vector<std::string>{"cennik.txt", "grafika", "kasa.sh"}));
    EXPECT_EQ(started_, std::vector<std::string>{std::string("terminale") +
                                                 platform::path_separator() + "kasa|kasa.sh"});
}

TEST_F(ControllerSync, CurrentFilesAreCheckedAndNotDownloadedAgain) {
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik")});
    run("KASA");
    const auto second = run("KASA");

    EXPECT_EQ(downloader_->count("cennik.txt"), 1u);
    EXPECT_EQ(downloader_->count("kasa.sh"), 1u);
    const auto checked =
        std::find(second.begin(), second.end(), "informacja: Sprawdzanie wersji pliku|cennik.txt");
    ASSERT_NE(checked, second.end());
    EXPECT_EQ(*(checked + 1), "informacja: Wersji pliku jest poprawna|cennik.txt");
    EXPECT_EQ(started_.size(), 2u);
}

TEST_F(ControllerSync, StaleFileIsReplacedWithoutLeftovers) {
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "nowy cennik")});
    write_bytes("terminale/kasa/cennik.txt", "stary cennik");

    run("KASA");

    EXPECT_TRUE(said("informacja: Sprawdzanie wersji pliku|cennik.txt"));
    EXPECT_FALSE(said("informacja: Wersji pliku jest poprawna|cennik.txt"));
    EXPECT_EQ(read_bytes("terminale/kasa/cennik.txt"), "nowy cennik");
    EXPECT_EQ(names_in("terminale/kasa"), (std::vector<std::string>{"cennik.txt", "kasa.sh"}));
}

// The reader holds the stale copy as a running terminal holds its library. Windows keeps such a
// file from being replaced: it is reported, not downloaded in vain. POSIX replaces it.
TEST_F(ControllerSync, StaleFileHeldOpenIsReportedInsteadOfDownloadedWhereItCannotBeReplaced) {
    add_terminal("KASA", {serve("biblioteka.dll", "terminale\\kasa", "nowa")});
    write_bytes("terminale/kasa/biblioteka.dll", "stara");
    {
        const platform::TFileReader holder(
            (fs::path("terminale") / "kasa" / "biblioteka.dll").string());
        run("KASA");
    }
#ifdef _WIN32
    const auto& lines = listener_->lines;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("błąd: Błąd podczas usuwania pliku \"biblioteka.dll\": ");
    }));
    EXPECT_EQ(downloader_->count("biblioteka.dll"), 0u);
    EXPECT_EQ(read_bytes("terminale/kasa/biblioteka.dll"), "stara");
#else
    EXPECT_EQ(read_bytes("terminale/kasa/biblioteka.dll"), "nowa");
#endif
}

TEST_F(ControllerSync, LowerCaseDigestIsDownloadedOnEveryRunWithoutAWarning) {
    auto file = serve("cennik.txt", "terminale\\kasa", "cennik");
    file->set_hash(lower(file->get_hash()));
    add_terminal("KASA", {file});

    run("KASA");
    run("KASA");

    EXPECT_EQ(downloader_->count("cennik.txt"), 2u);
    EXPECT_EQ(read_bytes("terminale/kasa/cennik.txt"), "cennik");
    for (const auto& line : listener_->lines)
        EXPECT_EQ(line.find("uwaga"), std::string::npos) << line;
}

TEST_F(ControllerSync, NothingDeliveredKeepsTheOldCopyIsReportedAndTheNextFileFollows) {
    auto missing = serve("dane.zip", "terminale\\kasa", "zip");
    downloader_->files.erase("dane.zip");
    add_terminal("KASA", {missing, serve("cennik.txt", "terminale\\kasa", "cennik")});
    write_bytes("terminale/kasa/dane.zip", "stara wersja");

    run("KASA");

    EXPECT_TRUE(
        said("błąd: Błąd zapisywania pliku \"dane.zip\": Niemożliwe było sciągnięcie pliku"));
    EXPECT_EQ(names_in("terminale/kasa"),
              (std::vector<std::string>{"cennik.txt", "dane.zip", "kasa.sh"}));
    EXPECT_EQ(read_bytes("terminale/kasa/dane.zip"), "stara wersja");
    EXPECT_EQ(started_.size(), 1u);
}

TEST_F(ControllerSync, DeliveredBytesThatDisagreeWithTheDigestAreKeptWithAWarning) {
    auto file = serve("cennik.txt", "terminale\\kasa", "cennik z serwera");
    file->set_hash(md5_of("cennik z ustawień"));
    add_terminal("KASA", {file});

    run("KASA");

    EXPECT_TRUE(
        said("uwaga: Suma kontrolna pobranego pliku \"cennik.txt\" nie zgadza się z "
             "ustawieniami."));
    EXPECT_EQ(read_bytes("terminale/kasa/cennik.txt"), "cennik z serwera");
}

TEST_F(ControllerSync, ASha256DigestMustMatchAsWellAsTheMd5InEitherLetterCase) {
    auto file = serve("cennik.txt", "terminale\\kasa", "cennik");
    file->set_sha256(lower(sha256_of("cennik")));
    add_terminal("KASA", {file});
    run("KASA");
    run("KASA");
    EXPECT_EQ(downloader_->count("cennik.txt"), 1u);
    EXPECT_TRUE(said("informacja: Wersji pliku jest poprawna|cennik.txt"));

    // The same MD5 with another SHA-256: the local copy is stale and the download disagrees.
    file->set_sha256(sha256_of("cennik z ustawień"));
    run("KASA");
    EXPECT_EQ(downloader_->count("cennik.txt"), 2u);
    EXPECT_FALSE(said("informacja: Wersji pliku jest poprawna|cennik.txt"));
    EXPECT_TRUE(
        said("uwaga: Suma kontrolna pobranego pliku \"cennik.txt\" nie zgadza się z "
             "ustawieniami."));
}

// With a store, a file with a SHA-256 is asked for as its object, named by the digest in lower
// case, and so is the published launcher; the others come by name, and all of them do when the
// store is named wrongly.
TEST_F(ControllerSync, FilesWithASha256ComeFromTheStoreAndTheRestByName) {
    const auto object = [](const std::string& content) {
        const std::string digest = lower(sha256_of(content));
        return "obiekty/" + digest.substr(0, 2) + "/" + digest;
    };
    auto file = serve("cennik.txt", "terminale\\kasa", "stary cennik");
    file->set_sha256(sha256_of("cennik"));
    file->set_hash(md5_of("cennik"));
    downloader_->files[object("cennik")] = "cennik";
    add_terminal("KASA", {file});
    config_->store = "obiekty/";
    run("KASA");
    EXPECT_EQ(downloader_->requested, (std::vector<std::string>{object("cennik"), "kasa.sh"}));
    EXPECT_EQ(read_bytes("terminale/kasa/cennik.txt"), "cennik");

    config_->hash = md5_of("nowy");
    config_->sha256 = sha256_of("nowy");
    downloader_->files[object("nowy")] = "nowy";
    EXPECT_TRUE(controller()->fetch_launcher_update("qiv_start_2_upgr"));
    EXPECT_EQ(downloader_->requested.back(), object("nowy"));
    EXPECT_EQ(read_bytes("qiv_start_2_upgr"), "nowy");

    config_->store_refusal = "\"../x\" nie jest folderem wewnątrz repozytorium";
    fs::remove("terminale/kasa/cennik.txt");
    run("KASA");
    EXPECT_EQ(downloader_->requested.back(), "cennik.txt");
    EXPECT_TRUE(
        said("błąd: Nieprawidłowy magazyn plików w ustawieniach: \"../x\" nie jest "
             "folderem wewnątrz repozytorium. Pliki zostaną pobrane według nazw."));
    EXPECT_TRUE(terminal_started_);
}

// Under a signed configuration: the same MD5, another SHA-256, as a forged file would have.
TEST_F(ControllerSync, UnderASignedConfigurationAMismatchingFileIsNeitherSavedNorStarted) {
    digests_bind_ = true;
    auto forged = serve("cennik.txt", "terminale\\kasa", "cennik");
    forged->set_sha256(sha256_of("cennik z ustawień"));
    auto good = serve("slownik.txt", "wspolne", "słownik");
    good->set_sha256(sha256_of("słownik"));
    add_terminal("KASA", {forged, good});
    const auto exe =
        std::static_pointer_cast<test::TScriptedFile>(config_->terminals.back()->get_exe_file());
    exe->set_sha256(sha256_of("#!/bin/sh\nexit 0\n"));
    run("KASA");
    EXPECT_TRUE(
        said("błąd: Plik \"cennik.txt\" nie został zapisany: jego suma kontrolna nie "
             "zgadza się z ustawieniami."));
    EXPECT_FALSE(fs::exists("terminale/kasa/cennik.txt"));
    EXPECT_EQ(read_bytes("wspolne/slownik.txt"), "słownik");
    EXPECT_EQ(started_.size(), 1u);
    EXPECT_TRUE(terminal_started_);

    // A changed executable is not saved, and the copy already on disk is not started either.
    exe->set_hash(md5_of("inny program"));
    run("KASA");
    EXPECT_TRUE(
        said("błąd: Plik \"kasa.sh\" nie został zapisany: jego suma kontrolna nie "
             "zgadza się z ustawieniami."));
    EXPECT_TRUE(
        said("błąd: Terminal \"KASA\" nie został uruchomiony: plik \"kasa.sh\" nie "
             "zgadza się z ustawieniami."));
    EXPECT_FALSE(said("informacja: terminal \"KASA\" uruchomiono"));
    EXPECT_EQ(started_.size(), 1u);
    EXPECT_FALSE(terminal_started_);

    // MD5 alone binds nothing: the entry is refused even with the right copy on disk.
    exe->set_hash(md5_of("#!/bin/sh\nexit 0\n"));
    exe->set_sha256("");
    run("KASA");
    EXPECT_TRUE(
        said("błąd: Plik \"kasa.sh\" nie ma w ustawieniach sumy SHA-256; nie zostanie pobrany "
             "ani uruchomiony."));
    EXPECT_EQ(started_.size(), 1u);
}

TEST_F(ControllerSync, AnAttemptThatStartedOverKeepsOnlyTheBytesOfTheLastOne) {
    downloader_->restart_each_download = true;
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik")});

    run("KASA");

    EXPECT_EQ(read_bytes("terminale/kasa/cennik.txt"), "cennik");
    for (const auto& line : listener_->lines)
        EXPECT_EQ(line.find("uwaga"), std::string::npos) << line;
}

TEST_F(ControllerSync, DirectoryThatCannotBeCreatedIsReportedAndTheNextFileFollows) {
    write_bytes("zablokowane", "a file where a directory should be");
    add_terminal("KASA", {serve("cennik.txt", "zablokowane\\dane", "cennik"),
                          serve("logo.png", "terminale\\kasa", "logo")});

    run("KASA");

    const auto& lines = listener_->lines;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("błąd: Błąd zapisywania pliku \"cennik.txt\": ");
    }));
    EXPECT_EQ(read_bytes("terminale/kasa/logo.png"), "logo");
    EXPECT_EQ(started_.size(), 1u);
}

class ControllerArchives : public ControllerSync {};

TEST_F(ControllerArchives, CurrentArchiveRestoresADeletedMemberAndLeavesTheOthersAlone) {
    add_terminal("KASA",
                 {serve("dane.zip", "terminale\\kasa",
                        zip_bytes({{"a.txt", "a"}, {"szablony\\faktura.txt", "faktura"}}), true)});
    run("KASA");
    ASSERT_EQ(read_bytes("terminale/kasa/szablony/faktura.txt"), "faktura");
    write_bytes("terminale/kasa/a.txt", "zmienione na miejscu");
    fs::remove("terminale/kasa/szablony/faktura.txt");

    run("KASA");

    EXPECT_EQ(downloader_->count("dane.zip"), 1u);
    EXPECT_EQ(read_bytes("terminale/kasa/szablony/faktura.txt"), "faktura");
    EXPECT_EQ(read_bytes("terminale/kasa/a.txt"), "zmienione na miejscu");
}

TEST_F(ControllerArchives, ReplacedArchiveAddsNewMembersButOverwritesNone) {
    auto archive = serve("dane.zip", "terminale\\kasa", zip_bytes({{"a.txt", "wersja 1"}}), true);
    add_terminal("KASA", {archive});
    run("KASA");
    const std::string second = zip_bytes({{"a.txt", "wersja 2"}, {"b.txt", "nowy"}});
    downloader_->files["dane.zip"] = second;
    archive->set_hash(md5_of(second));

    run("KASA");

    EXPECT_EQ(downloader_->count("dane.zip"), 2u);
    EXPECT_EQ(read_bytes("terminale/kasa/a.txt"), "wersja 1");
    EXPECT_EQ(read_bytes("terminale/kasa/b.txt"), "nowy");
}

TEST_F(ControllerArchives, ArchiveThatIsNoZipStopsTheSyncAndNothingStarts) {
    add_terminal("KASA", {serve("dane.zip", "terminale\\kasa", "<html>portal</html>", true),
                          serve("cennik.txt", "terminale\\kasa", "cennik")});

    EXPECT_THROW(controller()->run_terminal("KASA"), TError);

    EXPECT_EQ(downloader_->count("cennik.txt"), 0u);
    EXPECT_TRUE(started_.empty());
    EXPECT_FALSE(said("informacja: uruchomienie terminala \"KASA\""));
}

TEST_F(ControllerSync, CodeThatNoAccessibleTerminalCarriesIsReportedOnce) {
    add_terminal("KASA", {});
    auto made = controller();
    made->add_listener(listener_);  // a second add of the same listener changes nothing

    for (const std::string code : {"NIEMA", "kasa", ""}) {
        listener_->lines.clear();
        EXPECT_FALSE(made->run_terminal(code));
        EXPECT_EQ(listener_->lines, std::vector<std::string>{"błąd: Terminal z kodem \"" + code +
                                                             "\" nie jest dostępny."});
    }
    EXPECT_TRUE(downloader_->requested.empty());
    EXPECT_TRUE(started_.empty());
}

TEST_F(ControllerSync, FirstOfTwoTerminalsWithTheSameCodeIsTheOneStarted) {
    add_terminal("KASA", {}, "pierwsza");
    add_terminal("KASA", {}, "druga");

    run("KASA");

    EXPECT_EQ(started_, std::vector<std::string>{"pierwsza|kasa.sh"});
    EXPECT_FALSE(fs::exists("druga"));
}

// Nothing the configuration names may take a write, or a start, out of the working folder.
TEST_F(ControllerSync, PathsLeavingTheWorkingFolderAreRefusedAndNothingIsWrittenThere) {
    fs::create_directories(dir_.path() / "work");
    const test::TCurrentDir inside(dir_.path() / "work");
    const std::string absolute = (dir_.path() / "obok").string();
    config_->default_files = {
        serve("a.txt", "..\\obok", "a"),         serve("b.txt", "kasa\\..\\..\\obok", "b"),
        serve("c.txt", absolute, "c"),           serve("d.txt", "C:\\obok", "d"),
        serve("..\\e.txt", "kasa", "e"),         serve("x/../../f.txt", "kasa", "f"),
        serve("g.txt", "kasa\\.\\dane\\..", "g")};

    add_terminal("KASA", {}, "..\\bin");
    EXPECT_THROW(
        try { run("KASA"); } catch (const TError& failure) {
            EXPECT_STREQ(failure.what(), "Plik \"kasa.sh\" leży poza katalogiem roboczym.");
            throw;
        },
        TError);

    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "..\\e.txt", "x/../../f.txt"}) {
        EXPECT_TRUE(said(std::string("błąd: Plik \"") + name + "\" leży poza katalogiem roboczym."))
            << name;
        EXPECT_EQ(downloader_->count(name), 0u) << name;
    }
    EXPECT_EQ(read_bytes("kasa/g.txt"), "g");
    EXPECT_TRUE(started_.empty());
    EXPECT_FALSE(said("informacja: terminal \"KASA\" uruchomiono"));
    EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{"work"});
}

TEST_F(ControllerSync, ProgramThatCannotBeStartedIsAnErrorNotASuccess) {
    add_terminal("KASA", {});
    start_error_ = "No such file or directory";
    try {
        run("KASA");
        ADD_FAILURE() << "a failed start passed for a success";
    } catch (const TError& failure) {
        EXPECT_STREQ(failure.what(),
                     "Nie można uruchomić terminala \"KASA\": No such file or directory");
    }
    EXPECT_TRUE(said("informacja: uruchomienie terminala \"KASA\""));
    EXPECT_FALSE(said("informacja: terminal \"KASA\" uruchomiono"));
}

// What a killed run may have left in a folder that the launcher writes goes, but for a download
// that may be resumed. A configured file, an archive's member and what lies elsewhere stay,
// whatever their names.
TEST_F(ControllerSync, TemporaryFilesOfAKilledRunAreRemovedAndOthersLeftAlone) {
    const std::string archive =
        zip_bytes({{"szablony\\faktura.txt", "faktura"}, {"notatki.part7", "z archiwum"}});
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik"),
                          serve("cennik.txt.part12", "terminale\\kasa", "nazwa jak resztka"),
                          serve("dane.zip", "terminale\\kasa", archive, true)});
    run("KASA");
    write_bytes("terminale/kasa/notatki.part7", "zmienione na miejscu");
    const std::vector<std::pair<std::string, bool>> files = {
        // the path, and whether the file stays
        {"terminale/kasa/cennik.txt.part123456789", false},
        {"terminale/kasa/cennik.txt.part4242_7", false},
        {"terminale/kasa/inny.txt.part1", false},
        {"terminale/kasa/szablony/faktura.txt.part99", false},
        {"qiv_start_2.xml.part5", false},
        {"config/servers.cfg.part6_1", false},
        {"terminale/kasa/cennik.txt.partia", true},
        {"terminale/kasa/cennik.txt.part_", true},
        {"inne/notatka.txt.part1", true},
    };
    for (const auto& [path, stays] : files)
        write_bytes(path, "resztki");
    // Interrupted downloads: one that may be resumed stays with its record; without a fresh,
    // readable record of a longer copy, or of a file that is no longer configured, they go.
    const auto seconds_ago = [](std::chrono::hours age) {
        const auto now = std::chrono::system_clock::now() - age;
        return std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count());
    };
    const auto record = [&](std::chrono::hours age, const char* length = "100") {
        return "qiv_start_2 resume 1\n" + std::string(length) + "\n" + seconds_ago(age) +
               "\n\"v1\"\n";
    };
    const std::vector<std::tuple<std::string, std::string, bool>> kept = {
        // the temporary file, its record (none when empty), and whether both stay
        {"terminale/kasa/cennik.txt.part77", record(std::chrono::hours(1)), true},
        {"terminale/kasa/cennik.txt.part78", record(std::chrono::hours(73)), false},
        {"terminale/kasa/cennik.txt.part79", record(std::chrono::hours(-2)), false},
        {"terminale/kasa/cennik.txt.part80", record(std::chrono::hours(1), "7"), false},
        {"terminale/kasa/cennik.txt.part81", "qiv_start_2 resume 1\n100\n", false},
        {"terminale/kasa/inny.txt.part2", record(std::chrono::hours(1)), false},
    };
    for (const auto& [path, content, stays] : kept) {
        write_bytes(path, "resztki");
        write_bytes(path + ".resume", content);
    }
    write_bytes("terminale/kasa/cennik.txt.part82.resume", record(std::chrono::hours(1)));

    run("KASA");

    for (const auto& [path, stays] : files)
        EXPECT_EQ(fs::exists(path), stays) << path;
    for (const auto& [path, content, stays] : kept) {
        EXPECT_EQ(fs::exists(path), stays) << path;
        EXPECT_EQ(fs::exists(path + ".resume"), stays) << path;
    }
    EXPECT_FALSE(fs::exists("terminale/kasa/cennik.txt.part82.resume"));
    EXPECT_EQ(downloader_->count("cennik.txt.part12"), 1u);
    EXPECT_EQ(read_bytes("terminale/kasa/notatki.part7"), "zmienione na miejscu");
}

// A listener that notes, with each message, whether the test had let go of the folder by then.
class TLockWatchingListener : public TCoreListener {
  public:
    explicit TLockWatchingListener(const std::atomic<bool>& released) : released_(released) {}
    void notify(const TCoreMessage& message) override {
        lines.emplace_back(released_.load(), message.to_string());
    }
    std::vector<std::pair<bool, std::string>> lines;

  private:
    const std::atomic<bool>& released_;
};

TEST_F(ControllerSync, SecondLauncherWaitsForTheFolderAndThenFindsTheFilesCurrent) {
    add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik")});
    std::optional<platform::TFolderLock> other;
    other.emplace("qiv_start_2.lock");
    ASSERT_TRUE(other->try_lock());
    std::atomic<bool> released{false};
    auto watcher = std::make_shared<TLockWatchingListener>(released);
    auto waiting = controller();
    waiting->add_listener(watcher);

    std::thread second([&] { waiting->run_terminal("KASA"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    released = true;
    other.reset();
    second.join();

    ASSERT_GE(watcher->lines.size(), 3u);
    EXPECT_EQ(watcher->lines[0],
              std::make_pair(false, std::string("informacja: uruchamianie terminala \"KASA\"")));
    EXPECT_EQ(watcher->lines[1].second,
              "informacja: oczekiwanie na zakończenie pracy innej kopii programu w tym katalogu");
    for (std::size_t i = 2; i < watcher->lines.size(); ++i)
        EXPECT_TRUE(watcher->lines[i].first) << watcher->lines[i].second;
    EXPECT_EQ(started_.size(), 1u);
}

// Another launcher holds the folder. The caller's wait step runs between the attempts at the
// lock: the other launcher lets go, the close box gives up, or the wait fails.
TEST_F(ControllerSync, WaitForTheFolderRunsTheCallersStepsAndEndsAsTheyDecide) {
    struct TCase {
        const char* what;
        int release_at;              // the step at which the other launcher lets go
        int give_up_at;              // the step that answers false
        int failing_at;              // the step that raises TIoError
        std::optional<bool> answer;  // what run_terminal answers; nothing when it raises
    };
    for (const TCase& one : {TCase{"released", 3, 0, 0, true}, TCase{"given up", 0, 2, 0, false},
                             TCase{"failing", 0, 0, 2, std::nullopt}}) {
        SCOPED_TRACE(one.what);
        config_->terminals.clear();
        add_terminal("KASA", {serve("cennik.txt", "terminale\\kasa", "cennik")});
        std::optional<platform::TFolderLock> other;
        other.emplace("qiv_start_2.lock");
        ASSERT_TRUE(other->try_lock());
        int steps = 0;
        auto waiting = controller();
        waiting->set_wait_step([&](std::chrono::milliseconds) {
            ++steps;
            if (steps == one.release_at)
                other.reset();
            if (steps == one.failing_at)
                throw platform::TIoError("Cannot lock file");
            return steps != one.give_up_at;
        });
        listener_->lines.clear();
        const std::size_t requested = downloader_->requested.size();
        const std::size_t started = started_.size();

        std::optional<bool> result;
        try {
            result = waiting->run_terminal("KASA");
        } catch (const platform::TIoError&) {
        }

        const auto& lines = listener_->lines;
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "informacja: oczekiwanie na zakończenie pracy innej kopii programu w "
                             "tym katalogu"),
                  1);
        EXPECT_EQ(steps, std::max({one.release_at, one.give_up_at, one.failing_at}));
        EXPECT_EQ(result, one.answer);
        // Only a run that got the lock synchronises and starts.
        const bool locked = one.release_at != 0;
        EXPECT_EQ(downloader_->requested.size() > requested, locked);
        EXPECT_EQ(started_.size() - started, locked ? 1u : 0u);
    }
}

}  // namespace
}  // namespace qiv_start::core
