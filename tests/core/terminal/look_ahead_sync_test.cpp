// The synchronisation with files fetched ahead, against real servers that misbehave: what the
// listeners see, and what is left on disk, must not depend on the look-ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/download/downloader_prod.h"
#include "core/support/error.h"
#include "core/terminal/controller_prod.h"
#include "platform/files.h"
#include "support/content_digests.h"
#include "support/nginx_front.h"
#include "support/recording_listener.h"
#include "support/scripted_config.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/test_http_server.h"
#include "support/zip_builder.h"

namespace qiv_start::core {
namespace {

namespace fs = std::filesystem;
using test::md5_of;
using test::TTestHttpServer;

std::string zip_bytes(const fs::path& scratch, const std::vector<test::TZipMember>& members) {
    test::write_zip(scratch, members);
    std::string bytes = test::read_bytes(scratch);
    fs::remove(scratch);
    return bytes;
}

// Every regular file under the folder, with its content.
std::map<std::string, std::string> files_under(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).generic_string()] =
                test::read_bytes(entry.path());
    }
    return files;
}

// Records what it hears; lets the servers' stalled answers go on at a chosen message.
class TReleasingListener : public test::TRecordingListener {
  public:
    void notify(const TCoreMessage& messageContent) override {
        test::TRecordingListener::notify(messageContent);
        if (messageContent.get_value() == release_at) {
            for (auto* server : servers)
                server->release_stalls();
        }
    }
    std::string release_at;
    std::vector<TTestHttpServer*> servers;
};

// Straight to the in-process servers (HTTP/1.1), or through nginx in front of them over HTTP/2,
// where many files are fetched at once over one connection.
enum class TProtocol { kHttp11, kHttp2 };

class LookAheadSync : public ::testing::TestWithParam<TProtocol> {
  protected:
    void SetUp() override {
#ifdef _WIN32
        if (GetParam() == TProtocol::kHttp2)
            GTEST_SKIP() << "nginx runs on the build system only";
#endif
    }

    // A file that the first server or the second delivers as the test sets up.
    std::shared_ptr<test::TScriptedFile> file(const std::string& name, const std::string& target,
                                              const std::string& content, bool archive = false) {
        auto scripted =
            std::make_shared<test::TScriptedFile>(name, target, md5_of(content), archive);
        // Signed configurations publish SHA-256 for every file but the one that shows the rule.
        if (digests_bind && name != kWithoutSha256)
            scripted->set_sha256(test::sha256_of(content));
        return scripted;
    }

    // Runs the terminal in a working folder of its own against two new servers that `script`
    // sets up; returns what the listeners heard, without the progress samples, which depend on
    // timing even between two serial runs.
    std::vector<std::string> run(const fs::path& work, std::size_t transfers) {
        TTestHttpServer first;
        TTestHttpServer second;
        first.serve("kasa.sh", kExe);
        script(first, second);
        std::vector<std::string> servers{first.base_url(), second.base_url()};
        std::vector<std::unique_ptr<test::TNginxFront>> fronts;
        TTransportOptions options;
        // A stalled answer goes on at a message, however long a loaded machine takes to reach it:
        // a server left for not answering would be asked last, and the two runs would differ.
        options.answer_timeout = std::chrono::minutes(2);
        if (GetParam() == TProtocol::kHttp2) {
            fs::create_directories(dir.path() / "tls");
            const auto certificates = test::create_test_certificates(dir.path() / "tls");
            options.ca_file = certificates.ca_file;
            for (std::string& server : servers) {
                fronts.push_back(std::make_unique<test::TNginxFront>(
                    server, certificates,
                    dir.path() /
                        ("nginx-" + work.filename().string() + std::to_string(fronts.size()))));
                server = fronts.back()->base_url();
            }
        }
        fs::create_directories(work);
        test::TCurrentDir current(work);
        auto listener = std::make_shared<TReleasingListener>();
        listener->release_at = release_at;
        listener->servers = {&first, &second};
        auto pool = std::make_shared<TConnectionPool>(options);
        if (GetParam() == TProtocol::kHttp2)
            expect_multiplexed(*pool, servers);
        auto downloader = std::make_shared<TDownloaderProd>(listener, servers, pool);
        TDownloaderMaker make = [&](std::shared_ptr<TCoreListener> record,
                                    std::stop_token stop) -> std::unique_ptr<TDownloader> {
            return std::make_unique<TDownloaderProd>(std::move(record), servers, pool,
                                                     std::move(stop));
        };
        TWorkstation workstation{[] { return std::vector<std::string>{}; },
                                 [](const std::string&, const std::string&) {}};
        TControllerProd controller(downloader, config, workstation, digests_bind, make, transfers);
        controller.add_listener(listener);
        try {
            controller.run_terminal("KASA");
        } catch (const TError& failure) {
            listener->lines.push_back(std::string("koniec: ") + failure.what());
        }
        if (!fronts.empty()) {
            EXPECT_EQ(fronts[0]->connections(), 1u);
            EXPECT_LE(fronts[1]->connections(), 1u);
        }
        return listener->lines_without_progress();
    }

    // As the server list and the configuration would have on a real start: the pool has met the
    // first server over HTTP/2, so the look-ahead takes the files many at a time.
    static void expect_multiplexed(TConnectionPool& pool, const std::vector<std::string>& servers) {
        TMemoryStream stream;
        TDownloaderProd(std::make_shared<test::TRecordingListener>(), servers,
                        std::shared_ptr<TConnectionPool>(std::shared_ptr<TConnectionPool>(), &pool))
            .download_file_from_server("kasa.sh", stream);
        EXPECT_TRUE(pool.multiplexes(servers[0]));
    }

    void expect_same_as_one_by_one();

    void add_terminal(TFileConfigs own_files) {
        config->terminals.push_back(std::make_shared<test::TScriptedTerminal>(
            "KASA", true, file("kasa.sh", "terminale\\kasa", kExe), std::move(own_files)));
    }

    static constexpr const char* kExe = "#!/bin/sh\n";
    static constexpr const char* kWithoutSha256 = "bez_sumy.txt";
    test::TTempDir dir;
    std::function<void(TTestHttpServer& first, TTestHttpServer& second)> script;
    std::string release_at;
    bool digests_bind = false;
    std::shared_ptr<test::TScriptedConfig> config = std::make_shared<test::TScriptedConfig>();
};

// One server fails some files, stalls one until its turn (then gives up on it), serves a wrong
// copy of another; the second server stands in where it can.
void LookAheadSync::expect_same_as_one_by_one() {
    const std::string member = "z archiwum";
    const std::string archive = zip_bytes(dir.path() / "a.zip", {{"ze_zipa.txt", member}});
    // The last comes in many pieces, written on the engine's thread as they arrive.
    const auto content = [](int i) {
        return std::string(i == 9 ? 700000 : 3000 + i, static_cast<char>('a' + i));
    };
    script = [&](TTestHttpServer& first, TTestHttpServer& second) {
        first.serve("pakiet.zip", archive);
        first.serve("zwykly.txt", "zwykły");
        first.fail("zapasowy.txt", 404);
        second.serve("zapasowy.txt", "z drugiego serwera");
        first.fail("brak.txt", 500);
        second.fail("brak.txt", 404);
        first.stall_answer("wolny.txt");
        second.serve("wolny.txt", "po przestoju");
        first.serve("zla_suma.txt", "nie ta treść");
        second.serve("zla_suma.txt", "właściwa treść");
        first.serve("nieaktualny.txt", "nowy");
        first.serve("zajety.txt", "nowy");
        first.serve(kWithoutSha256, "bez sumy");
        for (int i = 0; i < 10; ++i)
            first.serve("plik" + std::to_string(i) + ".bin", content(i));
    };
    release_at = "download_start|wolny.txt";
    config->default_files = {file("zwykly.txt", "wspolne", "zwykły")};
    TFileConfigs own = {
        file("pakiet.zip", "dane", archive, true),
        // Extracted by the archive just before: checked and found current at its turn.
        file("ze_zipa.txt", "dane", member),
        file("zapasowy.txt", "dane", "z drugiego serwera"),
        file("brak.txt", "dane", "nigdzie"),
        file("wolny.txt", "dane", "po przestoju"),
        file("zla_suma.txt", "dane", "właściwa treść"),
        file("nieaktualny.txt", "dane", "nowy"),
        // Stale and held open, as by a running terminal: not replaceable on Windows.
        file("zajety.txt", "dane", "nowy"),
        // The same file again: current by the time of its turn.
        file("zwykly.txt", "wspolne", "zwykły"),
        file(kWithoutSha256, "dane", "bez sumy"),
    };
    for (int i = 0; i < 10; ++i)
        own.push_back(file("plik" + std::to_string(i) + ".bin", "dane\\wiele", content(i)));
    add_terminal(own);
    std::vector<std::unique_ptr<platform::TFileReader>> holders;
    for (const char* work : {"jeden", "wiele"}) {
        test::write_bytes(dir.path() / work / "dane" / "nieaktualny.txt", "stary");
        test::write_bytes(dir.path() / work / "wspolne" / "zwykly.txt", "zwykły");
        const fs::path held = dir.path() / work / "dane" / "zajety.txt";
        test::write_bytes(held, "stary");
        holders.push_back(std::make_unique<platform::TFileReader>(held.string()));
    }

    const auto one_by_one = run(dir.path() / "jeden", 1);
    const auto ahead = run(dir.path() / "wiele", kMaxTransfers);
    holders.clear();

    EXPECT_EQ(ahead, one_by_one);
    EXPECT_EQ(files_under(dir.path() / "wiele"), files_under(dir.path() / "jeden"));
    EXPECT_NE(
        std::find(ahead.begin(), ahead.end(), "informacja: Wersji pliku jest poprawna|ze_zipa.txt"),
        ahead.end());
}

TEST_P(LookAheadSync, RunLogAndFilesAreTheSameAsWhenFilesAreTakenOneByOne) {
    expect_same_as_one_by_one();
}

// A wrong copy is never saved and only a verified executable starts, ahead or not.
TEST_P(LookAheadSync, SignedConfigurationKeepsItsDigestRulesAhead) {
    digests_bind = true;
    expect_same_as_one_by_one();
    EXPECT_FALSE(fs::exists(dir.path() / "wiele" / "dane" / kWithoutSha256));
}

// An archive that cannot be read ends the run while later files are fetched or stalled; none of
// them leaves anything behind, and the stalled ones do not hold up the end.
TEST_P(LookAheadSync, RunThatEndsEarlyLeavesNoTemporaryFile) {
    const auto content = [](int i) { return std::string(100000, static_cast<char>('a' + i)); };
    script = [&](TTestHttpServer& first, TTestHttpServer&) {
        first.serve("zly.zip", "<html>portal</html>");
        for (int i = 0; i < 12; ++i) {
            const std::string name = "plik" + std::to_string(i) + ".bin";
            if (i % 3 == 0)
                first.stall_body(name, content(i), 5000);
            else
                first.serve(name, content(i));
        }
    };
    TFileConfigs own = {file("zly.zip", "dane", "<html>portal</html>", true)};
    for (int i = 0; i < 12; ++i)
        own.push_back(file("plik" + std::to_string(i) + ".bin", "reszta", content(i)));
    add_terminal(own);

    const auto lines = run(dir.path() / "praca", kMaxTransfers);

    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("koniec: ", 0), 0u) << lines.back();
    auto left = files_under(dir.path() / "praca");
    left.erase("qiv_start_2.lock");
    EXPECT_EQ(left.size(), 1u) << left.rbegin()->first;
    EXPECT_TRUE(left.contains("dane/zly.zip"));
}

// Over HTTP/2: a run log that the engine's thread or 96 files at once would change, a temporary
// file left by a stream cut off, more than one connection per server in a run.
INSTANTIATE_TEST_SUITE_P(Protocols, LookAheadSync,
                         ::testing::Values(TProtocol::kHttp11, TProtocol::kHttp2),
                         [](const auto& info) {
                             return info.param == TProtocol::kHttp2 ? "Http2" : "Http11";
                         });

}  // namespace
}  // namespace qiv_start::core
