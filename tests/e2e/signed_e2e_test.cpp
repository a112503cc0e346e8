// Runs the launcher built with the tests' trusted key against nginx serving two copies of the
// signed sample repository: "good", as the administrator published it, and "mirror", which each
// test tampers with.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/support/md5.h"
#include "launcher_test.h"
#include "support/temp_dir.h"
#include "support/test_keys.h"

namespace qiv_start::test {
namespace {

namespace fs = std::filesystem;

const char* const kNoValidServerList =
    "uwaga: Pobrana lista serwerów jest nieprawidłowa; pozostaje dotychczasowa.";
const char* const kDownloadFailed = "uwaga: Błąd pobierania ustawień z sieci.";

void replace_once(std::string& text, const std::string& what, const std::string& with) {
    const auto at = text.find(what);
    if (at == std::string::npos)
        throw std::runtime_error("not in the document: " + what);
    text.replace(at, what.size(), with);
}

void sign(const fs::path& repository, const core::TSigningKey& key = test_key_a()) {
    for (const char* name : {"qiv_start_2.xml", "servers.cfg"}) {
        write_bytes(repository / (std::string(name) + ".sig"),
                    key.sign(read_bytes(repository / name)) + "\n");
    }
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
        // As the administrator publishes it: SHA-256 digests, then the signatures.
        write_bytes(dir_.path() / "klucz.pem", test_key_a().to_pem());
        output_of(quoted(QIV_REPO) + " hash " + quoted(good_) + " --sha256");
        output_of(quoted(QIV_REPO) + " sign " + quoted(good_) + " --key " +
                  quoted(dir_.path() / "klucz.pem"));
        fs::copy(good_, mirror_);
        write_bytes(work_ / "config" / "servers.cfg", good_url_ + "\r\n");
    }

    int run_launcher(const std::string& arguments) {
        forget_start();
        return LauncherTest::run_launcher(arguments);
    }

    bool logged(const std::string& prefix, const std::string& line) const {
        return log(prefix).find(line + "\r\n") != std::string::npos;
    }

    fs::path cache_file(const std::string& name = "version_file") const {
        return config_home_ / "QIV" / "QIV_START" / name;
    }

    fs::path www_ = dir_.path() / "www";
    fs::path good_ = www_ / "good";
    fs::path mirror_ = www_ / "mirror";
    std::string good_url_;
    std::string mirror_url_;
};

TEST_F(SignedRepository, IsSyncedAndStartedAndItsDocumentCachedWithTheSignature) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
    EXPECT_EQ(read_bytes(work_ / "terminale" / "kasa" / "cennik.txt"),
              read_bytes(good_ / "cennik.txt"));
    EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"), read_bytes(good_ / "qiv_start_2.xml"));
    EXPECT_EQ(read_bytes(cache_file()), read_bytes(good_ / "qiv_start_2.xml"));
    EXPECT_EQ(read_bytes(cache_file("version_file.sig")),
              read_bytes(good_ / "qiv_start_2.xml.sig"));
    const std::string check = log("check_version");
    EXPECT_NE(check.find("download_finished|qiv_start_2.xml.sig"), std::string::npos) << check;
    EXPECT_EQ(check.find("uwaga"), std::string::npos) << check;
    EXPECT_EQ(log("qiv_start").find("uwaga"), std::string::npos) << log("qiv_start");

    // Offline, the signed cache serves.
    stop_serving();
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_TRUE(logged("check_version", kDownloadFailed));
    EXPECT_FALSE(started_record().empty());
}

// The mirror offers a hijacked server list and a document that sends the terminal's files and
// executable elsewhere: changed after signing, without signatures, or signed by another key.
TEST_F(SignedRepository, ATamperedMirrorIsNeverUsedAndTheWorkstationGoesOnFromItsCache) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    const std::string document = read_bytes(good_ / "qiv_start_2.xml");
    const std::string cennik = read_bytes(work_ / "terminale" / "kasa" / "cennik.txt");

    std::string changed = document;
    replace_once(changed, "<name>cennik.txt</name>", "<name>zmieniony.txt</name>");
    replace_once(changed, "<name>kasa.sh</name>", "<name>przejety.sh</name>");
    write_bytes(mirror_ / "zmieniony.txt", "podmieniony cennik\r\n");
    write_bytes(mirror_ / "przejety.sh", "#!/bin/sh\necho przejety >started.txt\n");
    write_bytes(mirror_ / "qiv_start_2.xml", changed);
    write_bytes(mirror_ / "servers.cfg", mirror_url_ + "\r\n" + "http://evil.example/\r\n");
    write_bytes(work_ / "config" / "servers.cfg", mirror_url_ + "\r\n");

    const std::vector<std::pair<std::string, std::function<void()>>> variants = {
        {"changed after signing", [] {}},
        {"signatures missing",
         [&] {
             fs::remove(mirror_ / "qiv_start_2.xml.sig");
             fs::remove(mirror_ / "servers.cfg.sig");
         }},
        {"signed by another key", [&] { sign(mirror_, test_key_b()); }}};
    for (const auto& [what, tamper] : variants) {
        SCOPED_TRACE(what);
        tamper();
        ASSERT_EQ(run_launcher("KASA"), 0);
        EXPECT_TRUE(logged("check_version", kNoValidServerList)) << log("check_version");
        EXPECT_TRUE(logged("check_version", "uwaga: Plik \"qiv_start_2.xml\" z serwera " +
                                                mirror_url_ + " nie ma ważnego podpisu."));
        EXPECT_TRUE(logged("check_version", kDownloadFailed));
        EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), mirror_url_ + "\r\n");
        EXPECT_EQ(read_bytes(work_ / "qiv_start_2.xml"), document);
        EXPECT_EQ(read_bytes(cache_file()), document);
        // The cached document's files, current on disk: nothing fetched, the real terminal runs.
        EXPECT_NE(started_record().find("Terminal KASA działa."), std::string::npos);
        EXPECT_EQ(read_bytes(work_ / "terminale" / "kasa" / "cennik.txt"), cennik);
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "zmieniony.txt"));
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "przejety.sh"));
    }

    // A signed server list on the mirror brings the workstation back to the good server.
    const std::string list = read_bytes(good_ / "servers.cfg");
    write_bytes(mirror_ / "servers.cfg", list);
    write_bytes(mirror_ / "servers.cfg.sig", test_key_a().sign(list));
    ASSERT_EQ(run_launcher("KASA"), 0);
    EXPECT_EQ(read_bytes(work_ / "config" / "servers.cfg"), good_url_ + "\r\n");
    EXPECT_FALSE(logged("check_version", kDownloadFailed));
}

// As if a server held forgeries that keep the MD5 digests: the SHA-256 decides.
TEST_F(SignedRepository, AFileWhoseSha256DiffersIsNeitherSavedNorStarted) {
    std::string document = read_bytes(good_ / "qiv_start_2.xml");
    for (const char* name : {"cennik.txt", "kasa.sh"}) {
        const std::string sha256 = core::get_file_digests((good_ / name).string(), true).sha256;
        replace_once(document, sha256, std::string(64, 'A'));
    }
    write_bytes(good_ / "qiv_start_2.xml", document);
    sign(good_);

    EXPECT_EQ(run_launcher("KASA"), 1);
    const std::string run_log = log("qiv_start");
    for (const char* name : {"cennik.txt", "kasa.sh"}) {
        EXPECT_NE(run_log.find("błąd: Plik \"" + std::string(name) +
                               "\" nie został zapisany: jego suma kontrolna nie zgadza się z "
                               "ustawieniami.\r\n"),
                  std::string::npos)
            << run_log;
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / name));
    }
    EXPECT_NE(run_log.find("błąd: Terminal \"KASA\" nie został uruchomiony: plik \"kasa.sh\" nie "
                           "zgadza się z ustawieniami.\r\n"),
              std::string::npos);
    EXPECT_TRUE(fs::exists(work_ / "wspolne" / "slownik.txt"));
    EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "started.txt"));
}

TEST_F(SignedRepository, ADocumentPlantedInTheCacheIsRefused) {
    ASSERT_EQ(run_launcher("KASA"), 0);
    stop_serving();
    const std::string document = read_bytes(cache_file());
    std::string planted = document;
    replace_once(planted, "<name>kasa.sh</name>", "<name>przejety.sh</name>");
    write_bytes(work_ / "terminale" / "kasa" / "przejety.sh",
                "#!/bin/sh\necho przejety >started.txt\n");
    fs::permissions(work_ / "terminale" / "kasa" / "przejety.sh", fs::perms::owner_all);

    for (const bool with_signature : {true, false}) {
        SCOPED_TRACE(with_signature ? "beside the real signature" : "without a signature");
        if (!with_signature)
            fs::remove(cache_file("version_file.sig"));
        write_bytes(cache_file(), planted);
        EXPECT_EQ(run_launcher("KASA"), 1);
        EXPECT_TRUE(logged("check_version",
                           "uwaga: Brak danych ustawień. Konieczne jest ręczne uruchomienie "
                           "programów."));
        EXPECT_FALSE(fs::exists(work_ / "terminale" / "kasa" / "started.txt"));
        EXPECT_EQ(read_bytes(cache_file()), planted);
    }
}

}  // namespace
}  // namespace qiv_start::test
