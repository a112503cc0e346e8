// Runs the launcher built with the tests' trusted key against nginx serving two copies of the
// signed sample repository: "good", where the administrator publishes, and "mirror", which lags
// behind or is tampered with. The repository's server list names the mirror first.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "core/config/release.h"
#include "core/support/md5.h"
#include "launcher_test.h"
#include "support/temp_dir.h"
#include "support/test_keys.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

const char* const kDownloadFailed = "uwaga: Błąd pobierania ustawień z sieci.";

void replace_once(std::string& text, const std::string& what, const std::string& with) {
    const auto at = text.find(what);
    if (at == std::string::npos)
        throw std::runtime_error("not in the document: " + what);
    text.replace(at, what.size(), with);
}

std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A release of the folder's files as they are, made without the tool's checks.
void release(const fs::path& repository, std::uint64_t serial,
             std::optional<std::int64_t> expires = std::nullopt,
             const core::TSigningKey& key = test_key_a()) {
    const core::TRelease record{serial, expires,
                                core::describe(read_bytes(repository / "servers.cfg")),
                                core::describe(read_bytes(repository / "qiv_start_2.xml"))};
    write_bytes(repository / "qiv_start_2.release", core::sign_release(record, {&key}));
}

class SignedRepository : public LauncherTest {
  protected:
    SignedRepository() : LauncherTest(QIV_LAUNCHER) {}

    void SetUp() override {
        fs::create_directories(www_);
        const std::string base = serve(www_);
        good_url_ = base + "good/";
        mirror_url_ = base + "mirror/";
        output_of(script("examples/make-repository") + " " + quoted(good_) + " " + good_url_ + " " +
                  quoted(QIV_LAUNCHER) + " " + quoted(QIV_REPO));
        write_bytes(good_ / "servers.cfg", mirror_url_ + "\r\n" + good_url_ + "\r\n");
        write_bytes(dir_.path() / "klucz.pem", test_key_a().to_pem());
        publish(" --first");
        fs::copy(good_, mirror_);
        write_bytes(work_ / "config" / "servers.cfg", good_url_ + "\r\n");
    }

    // As the administrator publishes: SHA-256 digests, then the release.
    void publish(const std::string& options = "") {
        output_of(quoted(QIV_REPO) + " hash " + quoted(good_) + " --sha256");
        output_of(quoted(QIV_REPO) + " sign " + quoted(good_) + " --key " +
                  quoted(dir_.path() / "klucz.pem") + options);
    }

    int run_launcher(const std::string& arguments) {
        forget_start();
        return LauncherTest::run_launcher(arguments);
    }

    bool logged(const std::string& prefix, const std::string& line) const {
        return log(prefix).find(line + "\r\n") != std::string::npos;
    }

    fs::path cache_file(const std::string& name = "version_file.signed") const {
        return config_home_ / "QIV" / "QIV_START" / name;
    }
    // The cache of a document with its release: the release's length, a line feed, the release,
    // the document.
    static std::string cache_of(const std::string& document, const std::string& release) {
        return std::to_string(release.size()) + "\n" + release + document;
    }
    std::string cache_of_good() const {
        return cache_of(read_bytes(good_ / "qiv_start_2.xml"),
                        read_bytes(good_ / "qiv_start_2.release"));
    }
    std::string cennik() const { return read_bytes(work_ / "terminale" / "kasa" / "cennik.txt"); }

    fs::path www_ = dir_.path() / "www";
    fs::path good_ = www_ / "good";
    fs::path mirror_ = www_ / "mirror";
    std::string good_url_;
    std::string mirror_url_;
};

TEST_F(SignedRepository, IsSyncedAndStartedAndItsDocumentCachedWithTheRelease) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
    EXPECT_EQ(cennik(), read_bytes(good_ / "cennik.txt"));
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"), read_bytes(good_ / "qiv_start_2.xml"));
    EXPECT_EQ(read_bytes(cache_file()), cache_of_good());
    EXPECT_EQ(read_bytes(cache_file("release_serial")), "1\n");
    EXPECT_EQ(read_bytes(work_ / "config" / "release_serial"), "1\n");
    const std::string check = log("check_version");
    EXPECT_NE(check.find("download_finished|qiv_start_2.release"), std::string::npos) << check;
    EXPECT_EQ(check.find("uwaga"), std::string::npos) << check;
    EXPECT_EQ(log("qiv_start").find("uwaga"), std::string::npos) << log("qiv_start");

    // Offline, the cached release serves.
    stop_serving();
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_TRUE(logged("check_version", kDownloadFailed));
    EXPECT_FALSE(started_record().empty());
}

// The mirror keeps release 1 while the administrator goes on: a mirror that lags, then every
// server stale, expired or mixed. The workstation takes a current release where one is served and
// otherwise goes on from its cache; its files never go back.
TEST_F(SignedRepository, NoServerTakesTheWorkstationBackToAnOlderOrExpiredRelease) {
    write_bytes(good_ / "cennik.txt", "Cennik na styczeń\r\n");
    publish();
    ASSERT_EQ(run_launcher("KASA"), 0);  // release 2, from the good server alone
    ASSERT_EQ(cennik(), "Cennik na styczeń\r\n");
    ASSERT_EQ(read_bytes(work_ / "config" / "servers.cfg"), read_bytes(good_ / "servers.cfg"));

    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_TRUE(logged("check_version", "uwaga: Wydanie nr 1 z serwera " + mirror_url_ +
                                            " jest starsze niż przyjęte już wydanie nr 2."));
    EXPECT_FALSE(logged("check_version", kDownloadFailed));

    const fs::path saved = dir_.path() / "release-2";
    fs::copy(good_, saved);
    const std::int64_t an_hour_ago = now() - 3600;
    const std::vector<std::pair<std::string, std::function<void()>>> stale_servers = {
        {"both at release 1",
         [&] {
             for (const char* name : {"qiv_start_2.release", "qiv_start_2.xml", "cennik.txt"})
                 fs::copy_file(mirror_ / name, good_ / name, fs::copy_options::overwrite_existing);
         }},
        {"release 3 expired", [&] { release(good_, 3, an_hour_ago); }},
        {"the list of another release", [&] {
             release(good_, 4);
             write_bytes(good_ / "servers.cfg", good_url_ + "\r\n");
         }}};
    const std::vector<std::string> warnings = {
        "uwaga: Wydanie nr 1 z serwera " + good_url_ +
            " jest starsze niż przyjęte już wydanie nr 2.",
        "uwaga: Wydanie nr 3 z serwera " + good_url_ + " wygasło " + core::utc_text(an_hour_ago) +
            ".",
        "uwaga: Plik \"servers.cfg\" z serwera " + good_url_ + " nie zgadza się z wydaniem nr 4."};
    for (std::size_t i = 0; i < stale_servers.size(); ++i) {
        SCOPED_TRACE(stale_servers[i].first);
        fs::remove_all(good_);
        fs::copy(saved, good_);
        stale_servers[i].second();
        ASSERT_EQ(run_launcher("KASA"), 0);
        EXPECT_TRUE(logged("check_version", warnings[i])) << log("check_version");
        EXPECT_TRUE(logged("check_version", kDownloadFailed));
        EXPECT_EQ(cennik(), "Cennik na styczeń\r\n");
        EXPECT_EQ(read_bytes(cache_file("release_serial")), "2\n");
    }

    // A reset profile starts with an empty cache, but the working folder remembers its serial.
    write_bytes(work_ / "config" / "release_serial", "5\n");
    fs::remove_all(config_home_);
    fs::create_directories(config_home_);
    fs::remove_all(good_);
    fs::copy(saved, good_);
    release(good_, 4);
    EXPECT_EQ(run_launcher("KASA"), 1);
    EXPECT_TRUE(logged("check_version", "uwaga: Wydanie nr 4 z serwera " + good_url_ +
                                            " jest starsze niż przyjęte już wydanie nr 5."))
        << log("check_version");
    EXPECT_FALSE(fs::exists(cache_file()));
    EXPECT_EQ(read_bytes(work_ / "config" / "release_serial"), "5\n");
    // Release 5 is taken and raises the new profile's serial too.
    release(good_, 5);
    EXPECT_EQ(run_launcher("KASA"), 0);
    EXPECT_EQ(read_bytes(cache_file("release_serial")), "5\n");
}

// The mirror offers a hijacked server list and a document that sends the terminal's files and
// executable elsewhere: changed after its release, without one, or under another key's.
TEST_F(SignedRepository, ATamperedMirrorIsNeverUsedAndTheWorkstationGoesOnFromItsCache) {
    write_bytes(work_ / "config" / "servers.cfg", mirror_url_ + "\r\n");
    ASSERT_EQ(run_launcher("KASA"), 0);
    write_bytes(work_ / "config" / "servers.cfg", mirror_url_ + "\r\n");
    const std::string document = read_bytes(good_ / "qiv_start_2.xml");
    const std::string cache = cache_of_good();
    const std::string old_cennik = cennik();

    std::string changed = document;
    replace_once(changed, "<name>cennik.txt</name>", "<name>zmieniony.txt</name>");
    replace_once(changed, "<name>kasa.sh</name>", "<name>przejety.sh</name>");
    write_bytes(mirror_ / "zmieniony.txt", "podmieniony cennik\r\n");
    write_bytes(mirror_ / "przejety.sh", "#!/bin/sh\necho przejety >started.txt\n");
    write_bytes(mirror_ / "qiv_start_2.xml", changed);
    write_bytes(mirror_ / "servers.cfg", mirror_url_ + "\r\n" + "http://evil.example/\r\n");

    const std::string no_signature =
        "uwaga: Plik \"qiv_start_2.release\" z serwera " + mirror_url_ + " nie ma ważnego podpisu.";
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> variants = {
        {"changed after its release", [] {},
         "uwaga: Plik \"servers.cfg\" z serwera " + mirror_url_ +
             " nie zgadza się z wydaniem nr 1."},
        {"signed by another key", [&] { release(mirror_, 1, std::nullopt, test_key_b()); },
         no_signature},
        {"release missing", [&] { fs::remove(mirror_ / "qiv_start_2.release"); }, ""}};
    for (const auto& [what, tamper, warning] : variants) {
        SCOPED_TRACE(what);
        tamper();
        ASSERT_EQ(run_launcher("KASA"), 0);
        if (!warning.empty()) {
            EXPECT_TRUE(logged("check_version", warning)) << log("check_version");
        }
        EXPECT_TRUE(logged("check_version", kDownloadFailed));
        EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), mirror_url_ + "\r\n");
        EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"), document);
        EXPECT_EQ(read_bytes(cache_file()), cache);
        // The cached document's files, current on disk: nothing fetched, the real terminal runs.
        EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
        EXPECT_EQ(cennik(), old_cennik);
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "zmieniony.txt"));
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "przejety.sh"));
    }
}

// As if a server held forgeries that keep the MD5 digests: the SHA-256 decides, and an entry
// without one binds nothing.
TEST_F(SignedRepository, AFileWithoutAMatchingSha256IsNeitherSavedNorStarted) {
    std::string document = read_bytes(good_ / "qiv_start_2.xml");
    const auto sha256_of = [&](const char* name) {
        return core::get_file_digests((good_ / name).string(), true).sha256;
    };
    replace_once(document, sha256_of("kasa.sh"), std::string(64, 'A'));
    replace_once(document, "<sha256>" + sha256_of("cennik.txt") + "</sha256>", "");
    write_bytes(good_ / "qiv_start_2.xml", document);
    release(good_, 2);

    EXPECT_EQ(run_launcher("KASA"), 1);
    const std::string run_log = log("qiv_start");
    EXPECT_TRUE(logged("qiv_start",
                       "błąd: Plik \"cennik.txt\" nie ma w ustawieniach sumy SHA-256; nie zostanie "
                       "pobrany ani uruchomiony."))
        << run_log;
    EXPECT_TRUE(logged("qiv_start",
                       "błąd: Plik \"kasa.sh\" nie został zapisany: jego suma kontrolna nie zgadza "
                       "się z ustawieniami."));
    EXPECT_TRUE(logged("qiv_start",
                       "błąd: Terminal \"KASA\" nie został uruchomiony: plik \"kasa.sh\" nie "
                       "zgadza się z ustawieniami."));
    for (const char* name : {"cennik.txt", "kasa.sh"})
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / name));
    EXPECT_TRUE(fs::exists(work_ / "wspolne" / "slownik.txt"));
    EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "started.txt"));
}

// Releases kept by the tool: three published, then a roll back to the first. The workstation that
// took the third goes back to the first's files under a new serial, and a server replaying the
// third cannot take it forward again.
TEST_F(SignedRepository, ARollBackTakesTheWorkstationBackAndAReplayedReleaseIsRefused) {
    fs::remove(good_ / "qiv_start_2.release");
    const auto publish_cennik = [&](const std::string& cennik) {
        fs::remove(good_ / "cennik.txt");  // replaced, as a copy does: never written over
        write_bytes(good_ / "cennik.txt", cennik);
        output_of(quoted(QIV_REPO) + " publish " + quoted(good_) + " --key " +
                  quoted(dir_.path() / "klucz.pem"));
    };
    for (const char* cennik : {"Cennik 1\r\n", "Cennik 2\r\n", "Cennik 3\r\n"})
        publish_cennik(cennik);
    ASSERT_EQ(run_launcher("KASA"), 0);
    ASSERT_EQ(cennik(), "Cennik 3\r\n");
    ASSERT_EQ(read_bytes(cache_file("release_serial")), "3\n");

    output_of(quoted(QIV_REPO) + " rollback " + quoted(good_) + " --to 1 --key " +
              quoted(dir_.path() / "klucz.pem"));
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_EQ(cennik(), "Cennik 1\r\n");
    EXPECT_EQ(read_bytes(cache_file("release_serial")), "4\n");
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"),
              read_bytes(good_ / "releases/1/qiv_start_2.xml"));

    for (const char* name : {"qiv_start_2.xml", "servers.cfg", "qiv_start_2.release"})
        fs::copy_file(good_ / "releases" / "3" / name, good_ / name,
                      fs::copy_options::overwrite_existing);
    fs::remove(good_ / "cennik.txt");
    write_bytes(good_ / "cennik.txt", "Cennik 3\r\n");
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_TRUE(logged("check_version", "uwaga: Wydanie nr 3 z serwera " + good_url_ +
                                            " jest starsze niż przyjęte już wydanie nr 4."))
        << log("check_version");
    EXPECT_EQ(cennik(), "Cennik 1\r\n");
    EXPECT_EQ(read_bytes(cache_file("release_serial")), "4\n");
}

// Beside the real release, or where earlier versions kept the document, without one.
TEST_F(SignedRepository, ADocumentPlantedInTheCacheIsRefused) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    stop_serving();
    std::string planted = read_bytes(good_ / "qiv_start_2.xml");
    replace_once(planted, "<name>kasa.sh</name>", "<name>przejety.sh</name>");
    write_bytes(work_ / "terminale" / "kasa" / "przejety.sh",
                "#!/bin/sh\necho przejety >started.txt\n");
    fs::permissions(work_ / "terminale" / "kasa" / "przejety.sh", fs::perms::owner_all);

    const std::vector<std::pair<fs::path, std::string>> plants = {
        {cache_file(), cache_of(planted, read_bytes(good_ / "qiv_start_2.release"))},
        {cache_file("version_file"), planted}};
    for (const auto& [file, bytes] : plants) {
        SCOPED_TRACE(file.filename().string());
        fs::remove(cache_file());
        write_bytes(file, bytes);
        EXPECT_EQ(run_launcher("KASA"), 1);
        EXPECT_TRUE(logged("check_version",
                           "uwaga: Brak danych ustawień. Konieczne jest ręczne uruchomienie "
                           "programów."));
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "started.txt"));
        EXPECT_EQ(read_bytes(file), bytes);
    }
}

}  // namespace
}  // namespace qiv_start::test
