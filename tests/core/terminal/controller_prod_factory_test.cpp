#include "core/terminal/controller_prod_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <optional>
#include <tuple>
#include <utility>

#include "core/config/release.h"
#include "core/support/error.h"
#include "platform/config_cache.h"
#include "support/environment.h"
#include "support/recording_listener.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/test_keys.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::read_bytes;
using test::write_bytes;

// The cache of a document with its release, in the cache folder as the tests below place it.
const char* const kCacheUnit = "config-home/QIV/QIV_START/version_file.signed";

class ControllerFactory : public ::testing::Test {
  protected:
    std::vector<std::string> servers_after_get_controller() {
        return create_controller(listener_)->get_config()->get_servers();
    }

    std::string local_list() const { return read_bytes(dir_.path() / "config" / "servers.cfg"); }
    void set_local_list(const std::string& bytes) {
        write_bytes(dir_.path() / "config" / "servers.cfg", bytes);
    }

    test::TTempDir dir_;
    test::TCurrentDir cwd_{dir_.path()};
    std::shared_ptr<test::TRecordingListener> listener_ =
        std::make_shared<test::TRecordingListener>();
    test::TTestHttpServer server_;
    const std::string dead_ = "http://127.0.0.1:9/";
};

TEST_F(ControllerFactory, EmptyFolderGetsTheDefaultServerList) {
    const auto servers = servers_after_get_controller();

    const std::string list = local_list();
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(list, servers[0] + "\r\n");
    EXPECT_EQ(servers[0].rfind("https://", 0), 0u);
    EXPECT_EQ(servers[0].substr(servers[0].size() - 15), "qiv-repository/");
    EXPECT_EQ(listener_->lines.front(), "informacja: download_start|servers.cfg");
}

TEST_F(ControllerFactory, ZeroByteListIsWrittenAnewWithTheDefaultServer) {
    set_local_list("");
    const auto servers = servers_after_get_controller();
    ASSERT_EQ(servers.size(), 1u);
    EXPECT_EQ(local_list(), servers[0] + "\r\n");
}

// Only a list held open by another process ends the run (Windows); any other refusal to delete
// the empty list leaves no servers to ask, so the cached configuration is used.
TEST_F(ControllerFactory, EmptyListThatCannotBeDeletedLeavesTheCachedConfiguration) {
    set_local_list("");
    ::setenv("XDG_CONFIG_HOME", dir_.file("config-home").c_str(), 1);
    write_bytes(
        dir_.path() / "config-home" / "QIV" / "QIV_START" / "version_file",
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>CACHED</hash></qiv_start>");
    const test::TUnwritableFolder undeletable(dir_.path() / "config");
    if (!undeletable.holds())
        GTEST_SKIP() << "this process may delete any file";

    const auto controller = create_controller(listener_);

    EXPECT_TRUE(controller->get_config()->get_servers().empty());
    EXPECT_EQ(controller->get_config()->get_hash(), "CACHED");
    EXPECT_EQ(local_list(), "");
}

TEST_F(ControllerFactory, RepositoryCopyReplacesTheLocalListByteForByte) {
    const std::string repository_list = server_.base_url() + "\n" + dead_ + "\n";
    server_.serve("servers.cfg", repository_list);
    set_local_list(server_.base_url() + "\r\n");

    const auto servers = servers_after_get_controller();

    EXPECT_EQ(local_list(), repository_list);
    EXPECT_EQ(servers, (std::vector<std::string>{server_.base_url(), dead_}));
}

// A link in place of the settings folder or of the list that leads out of the working folder is
// refused before the list is read or replaced.
TEST_F(ControllerFactory, SettingsThatLinkOutOfTheWorkingFolderAreRefused) {
    const std::string outside_list = server_.base_url() + "\r\n";
    server_.serve("servers.cfg", dead_ + "\n");
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder ? "config" : "config/servers.cfg");
        const test::TTempDir outside;
        write_bytes(outside.path() / "servers.cfg", outside_list);
        fs::remove_all(dir_.path() / "config");
        if (folder) {
            fs::create_directory_symlink(outside.path(), dir_.path() / "config");
        } else {
            fs::create_directory(dir_.path() / "config");
            fs::create_symlink(outside.path() / "servers.cfg", dir_.path() / "config/servers.cfg");
        }
        try {
            create_controller(listener_);
            ADD_FAILURE() << "created";
        } catch (const TError& e) {
            EXPECT_STREQ(e.what(),
                         "Plik z ustawieniami config\\servers.cfg leży poza katalogiem roboczym.");
        }
        EXPECT_EQ(read_bytes(outside.path() / "servers.cfg"), outside_list);
        EXPECT_TRUE(server_.requests().empty());
    }
}

TEST_F(ControllerFactory, UnreachableRepositoryLeavesTheListUntouched) {
    // UTF-16 LE with a byte-order mark and LF line ends: "http://127.0.0.1:9/\n\nhttp://x/\n"
    std::string utf16 = "\xFF\xFE";
    for (char c : dead_ + "\n\nhttp://x/\n")
        utf16 += std::string{c, '\0'};
    set_local_list(utf16);

    const auto servers = servers_after_get_controller();

    EXPECT_EQ(local_list(), utf16);
    EXPECT_EQ(servers, (std::vector<std::string>{dead_, "", "http://x/"}));
}

// A settings folder that cannot be written keeps its list: the repository's, when it is the same,
// is not written again, and another one is left with a warning; the run goes on.
TEST_F(ControllerFactory, ReadOnlySettingsKeepTheirList) {
    const std::string local = server_.base_url() + "\r\n";
    set_local_list(local);
    for (const std::string& repository_list : {local, local + dead_ + "\r\n"}) {
        listener_ = std::make_shared<test::TRecordingListener>();
        server_.serve("servers.cfg", repository_list);
        const test::TUnwritableFolder unwritable(dir_.path() / "config");
        if (!unwritable.holds())
            GTEST_SKIP() << "this process may write anywhere";

        EXPECT_EQ(servers_after_get_controller(), std::vector<std::string>{server_.base_url()});
        EXPECT_EQ(local_list(), local);
        const bool same = repository_list == local;
        EXPECT_EQ(std::count_if(listener_->lines.begin(), listener_->lines.end(),
                                [](const std::string& line) {
                                    return line.starts_with(
                                        "uwaga: Nie można zapisać pobranej listy serwerów (");
                                }),
                  same ? 0 : 1);
    }
}

TEST_F(ControllerFactory, PortalPageDoesNotReplaceTheList) {
    server_.serve("servers.cfg", "<html><body>Zaloguj się</body></html>\r\n");
    const std::string local = server_.base_url() + "\r\n";
    set_local_list(local);

    servers_after_get_controller();

    EXPECT_EQ(local_list(), local);
    EXPECT_EQ(listener_->lines.back(),
              "uwaga: Pobrana lista serwerów jest nieprawidłowa; pozostaje dotychczasowa.");
}

// An address without its scheme would go out over plain HTTP: it is not asked, and the file keeps
// it for the administrator to mend.
TEST_F(ControllerFactory, AddressWithoutSchemeIsLeftOutWithAWarning) {
    const std::string local = "repo.example.org/qiv/\r\n" + server_.base_url() + "\r\n";
    set_local_list(local);

    EXPECT_EQ(servers_after_get_controller(), std::vector<std::string>{server_.base_url()});
    EXPECT_EQ(local_list(), local);
    EXPECT_EQ(std::count(listener_->lines.begin(), listener_->lines.end(),
                         "uwaga: Pominięto adres serwera \"repo.example.org/qiv/\" z pliku "
                         "config\\servers.cfg: nie zaczyna się od http:// ani https://."),
              1);
}

TEST_F(ControllerFactory, EmptyRepositoryAnswerKeepsTheList) {
    server_.serve("servers.cfg", "");
    const std::string local = server_.base_url() + "\r\n" + dead_ + "\r\n";
    set_local_list(local);

    EXPECT_EQ(servers_after_get_controller().size(), 2u);
    EXPECT_EQ(local_list(), local);
}

TEST_F(ControllerFactory, ConfigurationIsFetchedFromTheRefreshedServers) {
    test::TTestHttpServer repository;
    repository.serve(
        "qiv_start_2.xml",
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>ABC</hash></qiv_start>");
    repository.serve("servers.cfg", repository.base_url() + "\r\n");
    server_.serve("servers.cfg", repository.base_url() + "\r\n");
    set_local_list(server_.base_url() + "\r\n");
    test::set_env("XDG_CONFIG_HOME", dir_.file("config-home"));

    const auto controller = create_controller(listener_);

    EXPECT_EQ(controller->get_config()->get_hash(), "ABC");
    EXPECT_EQ(controller->get_config()->get_servers(),
              std::vector<std::string>{repository.base_url()});
}

// A release whose document's hash is its serial, unless another document is given, beside the
// list.
void publish(test::TTestHttpServer& server, std::uint64_t serial, const std::string& list,
             const std::optional<std::string>& other_document = std::nullopt) {
    const std::string document =
        other_document.value_or("<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>" +
                                std::to_string(serial) + "</hash></qiv_start>");
    const TSigningKey key = test::test_key_a();
    server.serve("servers.cfg", list);
    server.serve("qiv_start_2.xml", document);
    server.serve("qiv_start_2.release",
                 sign_release({serial, std::nullopt, describe(list), describe(document)}, {&key}));
}

// Calls back once when it is told of the line.
class TLineHook : public test::TRecordingListener {
  public:
    TLineHook(std::string line, std::function<void()> hook)
        : line_(std::move(line)), hook_(std::move(hook)) {}
    void notify(const TCoreMessage& message) override {
        TRecordingListener::notify(message);
        if (hook_ && message.to_string() == line_)
            std::exchange(hook_, nullptr)();
    }

  private:
    std::string line_;
    std::function<void()> hook_;
};

// The first server replays an older publish; the second has the current one, whose list and
// document are taken together and whose serial is kept.
TEST_F(ControllerFactory, WithTrustedKeysListAndDocumentComeUnderTheFirstCurrentRelease) {
    test::TTestHttpServer second;
    set_local_list(server_.base_url() + "\r\n" + second.base_url() + "\r\n");
    test::set_env("XDG_CONFIG_HOME", dir_.file("config-home"));
    const std::string list = second.base_url() + "\r\n";
    const auto hash_of_a_run = [&] {
        listener_->lines.clear();
        return TControllerProdFactory({test::kTestPublicKeyA})
            .get_controller(listener_)
            ->get_config()
            ->get_hash();
    };
    platform::write_release_serial(5);
    publish(server_, 4, list);
    publish(second, 5, list);
    EXPECT_EQ(hash_of_a_run(), "5");
    EXPECT_EQ(local_list(), list);
    EXPECT_EQ(std::count(listener_->lines.begin(), listener_->lines.end(),
                         "uwaga: Wydanie nr 4 z serwera " + server_.base_url() +
                             " jest starsze niż przyjęte już wydanie nr 5."),
              1);
    publish(second, 6, list);
    EXPECT_EQ(hash_of_a_run(), "6");
    EXPECT_EQ(platform::read_release_serial(), 6u);
}

// A start that takes release 6 over release 5 is stopped at each of its writes in turn, as by a
// kill there: the write fails, and what it would have replaced is back as it was. The next start,
// offline, works from the cache, never under a floor above the cached release. Only the local
// copy, which nothing reads, may fail without failing the start.
TEST_F(ControllerFactory, AStartStoppedWhileTakingAReleaseLeavesACacheThatServesOffline) {
    const std::string list = server_.base_url() + "\r\n";
    const std::vector<std::tuple<std::string, std::string, std::string>> stops = {
        // what fails, the hash of the start that takes release 6, the hash of the offline start
        {kCacheUnit, "", "5"},
        {"config-home/QIV/QIV_START/release_serial", "", "6"},
        {"config/servers.cfg", "", "6"},
        {"qiv_start_2.xml", "6", "6"}};
    const auto hash_of_a_run = [&](const std::shared_ptr<TCoreListener>& listener) {
        try {
            return TControllerProdFactory({test::kTestPublicKeyA})
                .get_controller(listener)
                ->get_config()
                ->get_hash();
        } catch (const TError&) {
            return std::string();
        }
    };
    for (const auto& [stopped, taking, offline] : stops) {
        SCOPED_TRACE(stopped);
        // A workstation that took nothing yet: neither its cache nor its folder keeps a serial.
        fs::remove_all(dir_.path() / "config-home");
        fs::remove(dir_.path() / "config" / "release_serial");
        test::set_env("XDG_CONFIG_HOME", dir_.file("config-home"));
        set_local_list(list);
        publish(server_, 5, list);
        ASSERT_EQ(hash_of_a_run(listener_), "5");

        publish(server_, 6, list);
        const fs::path target = dir_.path() / stopped;
        std::optional<std::string> saved;
        const auto stop_there = [&] {
            if (fs::exists(target))
                saved = read_bytes(target);
            fs::remove(target);
            fs::create_directory(target);  // no file can be renamed onto it
        };
        EXPECT_EQ(hash_of_a_run(std::make_shared<TLineHook>(
                      "informacja: download_finished|qiv_start_2.xml", stop_there)),
                  taking);
        fs::remove(target);
        if (saved)
            write_bytes(target, *saved);

        set_local_list(dead_ + "\r\n");
        EXPECT_EQ(hash_of_a_run(listener_), offline);
    }

    // A release whose document does not read is not taken: it replaces no cache, no floor and no
    // server list.
    set_local_list(list);
    publish(server_, 7, dead_ + "\r\n", "<qiv_start");
    EXPECT_EQ(hash_of_a_run(listener_), "");
    EXPECT_EQ(local_list(), list);
    server_.fail("qiv_start_2.release", 404);
    EXPECT_EQ(hash_of_a_run(listener_), "6");
}
}  // namespace
}  // namespace qiv_start::core
