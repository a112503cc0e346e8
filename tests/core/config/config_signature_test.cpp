// A configuration built with trusted keys: the release rule that picks the server, and the
// document from it or from the cache, taken only under a release that vouches for it.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/config/config_prod.h"
#include "core/config/config_test_fixture.h"
#include "core/config/release_fetch.h"
#include "core/support/error.h"
#include "support/test_keys.h"

namespace qiv_start::core {
namespace {

using test::qiv_document;

const std::string kA = "http://a/";
const std::string kB = "http://b/";
const std::string kNoConfig =
    "Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci internet.";
constexpr std::int64_t kNow = 1800000000;

// A publish: both files and the record that binds them.
struct TPublish {
    std::string servers = "http://a/\r\nhttp://b/\r\n";
    std::string document = qiv_document("<hash>ABC</hash>");
    std::uint64_t serial = 5;
    std::optional<std::int64_t> expires = kNow + 86400;
    const TSigningKey* key = nullptr;  // key A when none

    std::string record() const {
        const TSigningKey a = test::test_key_a();
        return sign_release({serial, expires, describe(servers), describe(document)},
                            {key ? key : &a});
    }
};

class ReleaseRule : public ::testing::Test {
  protected:
    void publish(const std::string& server, const TPublish& publish) {
        downloader.mirrors[server] = {{"servers.cfg", publish.servers},
                                      {"qiv_start_2.xml", publish.document},
                                      {"qiv_start_2.release", publish.record()}};
    }
    std::optional<TReleaseCopy> fetch(std::uint64_t highest = 5) {
        warnings.clear();
        return fetch_release(downloader, {kA, kB}, {{test::kTestPublicKeyA}, highest, kNow},
                             [this](const std::string& reason) { warnings.push_back(reason); });
    }

    test::TScriptedDownloader downloader;
    std::vector<std::string> warnings;
};

// The first server holds something a workstation must not take; the second the current publish.
TEST_F(ReleaseRule, AServerThatCannotVouchForTheCurrentPublishIsPassedOverForTheNext) {
    const TSigningKey b = test::test_key_b();
    const TPublish current;
    TPublish older = current, expired = current, foreign = current, longer = current;
    older.serial = 4;
    older.document = qiv_document("<hash>OLD</hash>");
    expired.expires = kNow;
    foreign.key = &b;
    const std::string mixed_list = "http://evil/\r\n";
    longer.document += " ";
    const std::vector<std::tuple<std::string, std::function<void()>, std::string>> cases = {
        {"replayed", [&] { publish(kA, older); },
         "Wydanie nr 4 z serwera http://a/ jest starsze niż przyjęte już wydanie nr 5."},
        {"expired", [&] { publish(kA, expired); },
         "Wydanie nr 5 z serwera http://a/ wygasło 2027-01-15 08:00 UTC."},
        {"foreign key", [&] { publish(kA, foreign); },
         "Plik \"qiv_start_2.release\" z serwera http://a/ nie ma ważnego podpisu."},
        {"list of another publish",
         [&] {
             publish(kA, current);
             downloader.mirrors[kA]["servers.cfg"] = mixed_list;
         },
         "Plik \"servers.cfg\" z serwera http://a/ nie zgadza się z wydaniem nr 5."},
        {"document of another publish",
         [&] {
             publish(kA, current);
             downloader.mirrors[kA]["qiv_start_2.xml"] = older.document;
         },
         "Plik \"qiv_start_2.xml\" z serwera http://a/ nie zgadza się z wydaniem nr 5."},
        {"longer than recorded",
         [&] {
             publish(kA, current);
             downloader.mirrors[kA]["qiv_start_2.xml"] = longer.document;
         },
         "Plik \"qiv_start_2.xml\" z serwera http://a/ nie zgadza się z wydaniem nr 5."},
        {"no release",
         [&] {
             downloader.mirrors[kA] = {{"qiv_start_2.xml", older.document}};
         },
         ""}};
    for (const auto& [what, arrange, warning] : cases) {
        SCOPED_TRACE(what);
        downloader.mirrors.clear();
        arrange();
        publish(kB, current);
        const auto copy = fetch();
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->server, kB);
        EXPECT_EQ(copy->document, current.document);
        EXPECT_EQ(copy->server_list, current.servers);
        EXPECT_EQ(copy->record, current.record());
        EXPECT_EQ(warnings,
                  warning.empty() ? std::vector<std::string>{} : std::vector<std::string>{warning});
    }
    // An equal serial is taken (mirrors carry the same release); when every server lags, none is.
    publish(kA, current);
    EXPECT_EQ(fetch(5)->server, kA);
    // A server that did not answer before is asked after the others.
    downloader.unanswering = {kA};
    EXPECT_EQ(fetch(5)->server, kB);
    downloader.unanswering.clear();
    EXPECT_EQ(fetch(6), std::nullopt);
    EXPECT_EQ(warnings.size(), 2u);
}

class SignedConfig : public ::testing::Test {
  protected:
    std::shared_ptr<TConfigProd> config(std::optional<platform::TSignedDocument> delivered,
                                        TTrustedKeys keys = {test::kTestPublicKeyA}) {
        return std::make_shared<TConfigProd>(listener, downloader, std::vector<std::string>{kA},
                                             1250, std::move(keys), std::move(delivered));
    }
    static platform::TSignedDocument delivered(const TPublish& publish) {
        return {publish.document, publish.record()};
    }
    std::string error_of(TConfigProd& config) {
        try {
            config.get_hash();
        } catch (const TError& failure) {
            return failure.what();
        }
        return "";
    }

    test::TConfigSandbox sandbox;
    std::shared_ptr<test::TRecordingListener> listener =
        std::make_shared<test::TRecordingListener>();
    std::shared_ptr<test::TScriptedDownloader> downloader =
        std::make_shared<test::TScriptedDownloader>();
    const TPublish publish;
};

// The delivered document was taken, and cached, by whoever took its release.
TEST_F(SignedConfig, TheDeliveredDocumentServesAsItIsAndTheCacheOfflineEvenExpired) {
    const auto fetched = config(delivered(publish));
    EXPECT_EQ(fetched->get_hash(), "ABC");
    EXPECT_TRUE(fetched->is_fetched());
    EXPECT_TRUE(downloader->requests.empty());
    EXPECT_TRUE(listener->lines.empty());
    EXPECT_EQ(platform::read_signed_version_file(), std::nullopt);

    // Offline, the cache is checked again and serves; an expired release says since when.
    TPublish lapsed = publish;
    lapsed.expires = 1700000000;
    platform::write_signed_version_file(delivered(lapsed));
    const auto cached = config(std::nullopt);
    EXPECT_EQ(cached->get_hash(), "ABC");
    EXPECT_FALSE(cached->is_fetched());
    EXPECT_EQ(listener->lines,
              std::vector<std::string>{"uwaga: Błąd pobierania ustawień z sieci."});
    EXPECT_EQ(listener->details, std::vector<std::string>{"Zapisane ustawienia (wydanie nr 5) "
                                                          "wygasły 2023-11-14 22:13 UTC."});
}

TEST_F(SignedConfig, ACacheThatNoCurrentReleaseVouchesForIsRefused) {
    const TSigningKey b = test::test_key_b();
    TPublish foreign = publish;
    foreign.key = &b;
    const std::string planted = qiv_document("<hash>podrzucony</hash>");
    const std::vector<std::pair<std::string, platform::TSignedDocument>> caches = {
        {"another document's release", {planted, publish.record()}},
        {"an untrusted key", delivered(foreign)},
        {"not a release", {publish.document, "qiv_start_2 release 1\n"}},
        {"older than accepted", delivered(publish)}};
    platform::write_release_serial(4);
    for (const auto& [what, cache] : caches) {
        SCOPED_TRACE(what);
        if (what == "older than accepted")
            platform::write_release_serial(6);
        platform::write_signed_version_file(cache);
        listener->lines.clear();
        EXPECT_EQ(error_of(*config(std::nullopt)), kNoConfig);
        EXPECT_EQ(listener->lines.at(1),
                  "uwaga: Brak danych ustawień. Konieczne jest ręczne uruchomienie programów.");
        EXPECT_EQ(platform::read_signed_version_file()->bytes, cache.bytes);
    }
}

}  // namespace
}  // namespace qiv_start::core
