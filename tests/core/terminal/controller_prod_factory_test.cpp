#include "core/terminal/controller_prod_factory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "core/support/error.h"
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

// Keeps this process from deleting the file while it lives: by the immutable attribute where
// the process may set it (as root, who may delete anything else), otherwise by a read-only folder.
class TUndeletableFile {
  public:
    explicit TUndeletableFile(const fs::path& file) : file_(file) {
        immutable_ = set_immutable(true);
        read_only_folder_ = !immutable_ && ::geteuid() != 0;
        if (read_only_folder_)
            fs::permissions(file_.parent_path(), fs::perms::owner_write, fs::perm_options::remove);
    }
    ~TUndeletableFile() {
        if (immutable_)
            set_immutable(false);
        if (read_only_folder_)
            fs::permissions(file_.parent_path(), fs::perms::owner_write, fs::perm_options::add);
    }
    bool holds() const { return immutable_ || read_only_folder_; }

  private:
    bool set_immutable(bool on) const {
        const int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    fs::path file_;
    bool immutable_ = false;
    bool read_only_folder_ = false;
};

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
    const TUndeletableFile undeletable(dir_.path() / "config" / "servers.cfg");
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

TEST_F(ControllerFactory, PortalPageDoesNotReplaceTheList) {
    server_.serve("servers.cfg", "<html><body>Zaloguj się</body></html>\r\n");
    const std::string local = server_.base_url() + "\r\n";
    set_local_list(local);

    servers_after_get_controller();

    EXPECT_EQ(local_list(), local);
    EXPECT_EQ(listener_->lines.back(),
              "uwaga: Pobrana lista serwerów jest nieprawidłowa; pozostaje dotychczasowa.");
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

TEST_F(ControllerFactory, WithTrustedKeysOnlyAListSignedOnItsOwnServerIsTaken) {
    test::TTestHttpServer second;
    const std::string local = server_.base_url() + "\r\n" + second.base_url() + "\r\n";
    set_local_list(local);
    const std::string hijacked = "http://evil.example/\r\n";
    const std::string signed_list = second.base_url() + "\r\n";
    const std::string signature = test::test_key_a().sign(signed_list);
    const std::string expected_warning =
        "uwaga: Pobrana lista serwerów jest nieprawidłowa; pozostaje dotychczasowa.";
    const auto refresh = [&] {
        listener_->lines.clear();
        TControllerProdFactory({test::kTestPublicKeyA}).get_controller(listener_);
    };

    // A changed list, a list without its signature, a signed text that is not a list: all kept
    // out, with the warning for a list that is not a list.
    server_.serve("servers.cfg", hijacked);
    server_.serve("servers.cfg.sig", signature);
    second.serve("servers.cfg", signed_list);
    const std::string not_a_list = "<html>portal</html>\r\n";
    second.serve("servers.cfg.sig", test::test_key_a().sign(not_a_list));
    refresh();
    EXPECT_EQ(local_list(), local);
    EXPECT_EQ(std::count(listener_->lines.begin(), listener_->lines.end(), expected_warning), 1);
    second.serve("servers.cfg", not_a_list);
    refresh();
    EXPECT_EQ(local_list(), local);
    EXPECT_EQ(std::count(listener_->lines.begin(), listener_->lines.end(), expected_warning), 1);

    // The second server's signed list replaces the local one; the first's signature for it does
    // not help the first server's changed list.
    second.serve("servers.cfg", signed_list);
    second.serve("servers.cfg.sig", signature + "\n");
    refresh();
    EXPECT_EQ(local_list(), signed_list);
    EXPECT_EQ(std::count(listener_->lines.begin(), listener_->lines.end(), expected_warning), 0);
}

TEST_F(ControllerFactory, WithTrustedKeysTheConfigurationNeedsItsSignatureToo) {
    const std::string document =
        "<qiv_start xmlns=\"http://www.qiv.pl/qiv_start_2\"><hash>ABC</hash></qiv_start>";
    server_.serve("qiv_start_2.xml", document);
    set_local_list(server_.base_url() + "\r\n");
    ::setenv("XDG_CONFIG_HOME", dir_.file("config-home").c_str(), 1);
    const auto unsigned_run =
        TControllerProdFactory({test::kTestPublicKeyA}).get_controller(listener_);
    EXPECT_THROW(unsigned_run->get_config()->get_hash(), TError);

    server_.serve("qiv_start_2.xml.sig", test::test_key_a().sign(document));
    const auto signed_run =
        TControllerProdFactory({test::kTestPublicKeyA}).get_controller(listener_);
    EXPECT_EQ(signed_run->get_config()->get_hash(), "ABC");
}

}  // namespace
}  // namespace qiv_start::core
