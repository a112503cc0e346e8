// The synchronisation of files against real HTTP servers: which copy wins, and what becomes of the
// old copy and of the working folder's surroundings when a download goes wrong.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "core/download/downloader_prod.h"
#include "core/terminal/controller_prod.h"
#include "support/content_digests.h"
#include "support/recording_listener.h"
#include "support/scripted_config.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::md5_of;
using test::read_bytes;
using test::write_bytes;

const char* const kPortalPage = "<html><body>Zaloguj się do sieci hotelowej</body></html>";

// The launcher works in work/; nothing may appear beside it.
class ControllerDownload : public ::testing::Test {
  protected:
    ControllerDownload() { fs::create_directories(work_); }

    // Both servers, in their order; the file is configured with the digest of content.
    void configure(const std::string& name, const std::string& content) {
        file_ = std::make_shared<test::TScriptedFile>(name, "terminale\\kasa", md5_of(content));
        auto exe = std::make_shared<test::TScriptedFile>("kasa.sh", "terminale\\kasa",
                                                         md5_of("#!/bin/sh\n"));
        first_.serve("kasa.sh", "#!/bin/sh\n");
        config_->terminals.push_back(
            std::make_shared<test::TScriptedTerminal>("KASA", true, exe, TFileConfigs{file_}));
    }

    std::vector<std::string> run() {
        const test::TCurrentDir inside(work_);
        auto downloader = std::make_shared<TDownloaderProd>(
            listener_, std::vector<std::string>{first_.base_url(), second_.base_url()});
        TWorkstation workstation{[] { return std::vector<std::string>{}; },
                                 [](const std::string&, const std::string&) {}};
        TControllerProd controller(downloader, config_, workstation);
        controller.add_listener(listener_);
        controller.run_terminal("KASA");
        return listener_->lines;
    }

    std::string local(const std::string& name) const {
        return read_bytes(work_ / "terminale" / "kasa" / name);
    }

    std::vector<std::string> names_in(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void expect_nothing_outside() const {
        EXPECT_EQ(names_in(dir_.path()), std::vector<std::string>{"work"});
    }

    bool said(const std::string& line) const {
        const auto& lines = listener_->lines;
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::size_t position_of(const std::string& line) const {
        const auto& lines = listener_->lines;
        return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) -
                                        lines.begin());
    }

    test::TTempDir dir_;
    fs::path work_ = dir_.path() / "work";
    test::TTestHttpServer first_, second_;
    std::shared_ptr<test::TScriptedFile> file_;
    std::shared_ptr<test::TScriptedConfig> config_ = std::make_shared<test::TScriptedConfig>();
    std::shared_ptr<test::TRecordingListener> listener_ =
        std::make_shared<test::TRecordingListener>();
};

TEST_F(ControllerDownload, PortalPageOnTheFirstServerGivesWayToTheRightCopyOnTheSecond) {
    configure("cennik.txt", "cennik");
    first_.serve("cennik.txt", kPortalPage);
    second_.serve("cennik.txt", "cennik");

    run();

    EXPECT_EQ(local("cennik.txt"), "cennik");
    for (const auto& line : listener_->lines)
        EXPECT_FALSE(line.starts_with("uwaga") || line.starts_with("błąd")) << line;
    expect_nothing_outside();
}

TEST_F(ControllerDownload, WithoutAMatchingCopyTheFirstOneDeliveredIsKeptWithAWarning) {
    configure("cennik.txt", "cennik z ustawień");
    first_.serve("cennik.txt", "cennik pierwszy");
    second_.serve("cennik.txt", "cennik drugi");

    run();

    EXPECT_EQ(local("cennik.txt"), "cennik pierwszy");
    EXPECT_TRUE(
        said("uwaga: Suma kontrolna pobranego pliku \"cennik.txt\" nie zgadza się z "
             "ustawieniami."));
    EXPECT_EQ(names_in(work_ / "terminale" / "kasa"),
              (std::vector<std::string>{"cennik.txt", "kasa.sh"}));
}

TEST_F(ControllerDownload, BodyRunningPastItsAnnouncedLengthIsCutOffAndTheNextServerAsked) {
    const std::string content(10000, 'c');
    configure("cennik.txt", content);
    first_.serve_longer("cennik.txt", content + std::string(100000, 'x'), content.size());
    second_.serve("cennik.txt", content);

    run();

    EXPECT_EQ(local("cennik.txt"), content);
    EXPECT_FALSE(
        said("uwaga: Suma kontrolna pobranego pliku \"cennik.txt\" nie zgadza się z "
             "ustawieniami."));
    expect_nothing_outside();
}

// The old copy stays until a complete new one is there to take its place.
TEST_F(ControllerDownload, CutConnectionsAndServerErrorsLeaveTheOldCopyInPlace) {
    configure("cennik.txt", "nowy cennik, dłuższy od starego");
    write_bytes(work_ / "terminale" / "kasa" / "cennik.txt", "stary cennik");
    first_.cut_short("cennik.txt", "nowy cennik, dłuższy od starego", 5);
    second_.fail("cennik.txt", 500);

    run();

    EXPECT_EQ(local("cennik.txt"), "stary cennik");
    EXPECT_TRUE(
        said("błąd: Błąd zapisywania pliku \"cennik.txt\": Niemożliwe było sciągnięcie pliku"));
    EXPECT_EQ(names_in(work_ / "terminale" / "kasa"),
              (std::vector<std::string>{"cennik.txt", "kasa.sh"}));
    expect_nothing_outside();
}

// A full disk is no fault of the server: its reason is told, and no other server is asked.
TEST_F(ControllerDownload, LocalWriteFailureEndsTheDownloadAtOnceWithItsReason) {
    const std::string content(256 * 1024, 'd');
    configure("dane.bin", content);
    write_bytes(work_ / "terminale" / "kasa" / "dane.bin", "stare dane");
    first_.serve("dane.bin", content);
    second_.serve("dane.bin", content);

    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    run();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previous_handler);

    const auto& lines = listener_->lines;
    const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("błąd: Błąd zapisywania pliku \"dane.bin\": ");
    });
    ASSERT_NE(error, lines.end());
    EXPECT_NE(error->find("File too large"), std::string::npos) << *error;
    EXPECT_EQ(local("dane.bin"), "stare dane");
    EXPECT_EQ(names_in(work_ / "terminale" / "kasa"),
              (std::vector<std::string>{"dane.bin", "kasa.sh"}));
    for (const auto& request : second_.requests())
        EXPECT_EQ(request.find("dane.bin"), std::string::npos) << request;
}

// The download's messages come first; the folder's failure is the saving's error after them.
TEST_F(ControllerDownload, FolderThatCannotBeCreatedFailsAfterTheDownloadMessages) {
    configure("cennik.txt", "cennik");
    write_bytes(work_ / "terminale", "a file where a folder should be");
    first_.serve("cennik.txt", "cennik");

    run();

    const std::size_t start = position_of("informacja: download_start|cennik.txt");
    const std::size_t finished = position_of("informacja: download_finished|cennik.txt");
    const auto& lines = listener_->lines;
    const auto error = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("błąd: Błąd zapisywania pliku \"cennik.txt\": ");
    });
    ASSERT_LT(finished, lines.size());
    ASSERT_NE(error, lines.end());
    EXPECT_LT(start, finished);
    EXPECT_LT(finished, static_cast<std::size_t>(error - lines.begin()));
    expect_nothing_outside();
}

// A stale copy that cannot be removed for a reason other than being in use (here: immutable) is
// downloaded all the same and fails on saving.
TEST_F(ControllerDownload, StaleCopyThatCannotBeReplacedFailsOnSaving) {
    configure("cennik.txt", "nowy cennik");
    const fs::path stale = work_ / "terminale" / "kasa" / "cennik.txt";
    write_bytes(stale, "stary cennik");
    const std::string lock = "chattr +i '" + stale.string() + "' 2>/dev/null";
    if (std::system(lock.c_str()) != 0)
        GTEST_SKIP() << "the file system takes no immutable flag";
    first_.serve("cennik.txt", "nowy cennik");

    run();
    std::system(("chattr -i '" + stale.string() + "'").c_str());

    EXPECT_TRUE(said("informacja: download_finished|cennik.txt"));
    const auto& lines = listener_->lines;
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("błąd: Błąd zapisywania pliku \"cennik.txt\": ");
    }));
    EXPECT_EQ(local("cennik.txt"), "stary cennik");
    EXPECT_EQ(names_in(work_ / "terminale" / "kasa"),
              (std::vector<std::string>{"cennik.txt", "kasa.sh"}));
}

}  // namespace
}  // namespace qiv_start::core
