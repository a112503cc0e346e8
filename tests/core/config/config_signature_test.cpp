// A configuration built with trusted keys: the document, from the repository or from the cache,
// is taken only with a signature by one of them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/config/config_prod.h"
#include "core/config/config_test_fixture.h"
#include "core/support/error.h"
#include "support/test_keys.h"

namespace qiv_start::core {
namespace {

using test::qiv_document;
using test::read_bytes;
using test::write_bytes;

const std::string kDownloadFailed = "uwaga: Błąd pobierania ustawień z sieci.";
const std::string kNoConfig =
    "Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci internet.";

std::string not_signed(const std::string& server) {
    return "uwaga: Plik \"qiv_start_2.xml\" z serwera " + server + " nie ma ważnego podpisu.";
}

class SignedConfig : public ::testing::Test {
  protected:
    std::shared_ptr<TConfigProd> config(TTrustedKeys keys = {test::kTestPublicKeyA}) {
        return std::make_shared<TConfigProd>(listener, downloader,
                                             std::vector<std::string>{"http://a/", "http://b/"},
                                             1250, std::move(keys));
    }
    // The document and, unless it is empty, the signature on one server.
    void publish(const std::string& server, const std::string& document,
                 const std::string& signature) {
        downloader->mirrors[server]["qiv_start_2.xml"] = document;
        if (!signature.empty())
            downloader->mirrors[server]["qiv_start_2.xml.sig"] = signature;
    }
    std::filesystem::path signature_file() const { return sandbox.cache_file().string() + ".sig"; }
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
    const std::string document = qiv_document("\n<hash>podpisany</hash>\n");
    const std::string signature = test::test_key_a().sign(document);
};

TEST_F(SignedConfig, ASignedDocumentIsTakenAndCachedAsExactBytesBesideItsSignature) {
    publish("http://a/", document, signature + "\n");
    EXPECT_EQ(config()->get_hash(), "podpisany");
    EXPECT_EQ(downloader->requests, (std::vector<std::string>{"http://a/qiv_start_2.xml",
                                                              "http://a/qiv_start_2.xml.sig"}));
    EXPECT_TRUE(listener->lines.empty());
    EXPECT_EQ(read_bytes(sandbox.local_copy()), document);
    EXPECT_EQ(sandbox.cache(), document);
    EXPECT_EQ(read_bytes(signature_file()), signature + "\n");

    // Offline, the cache is checked again and serves.
    auto offline = std::make_shared<test::TScriptedDownloader>();
    downloader = offline;
    EXPECT_EQ(config()->get_hash(), "podpisany");
    EXPECT_EQ(listener->lines, std::vector<std::string>{kDownloadFailed});
}

TEST_F(SignedConfig, AMirrorWithoutAValidSignatureIsPassedOverForTheNext) {
    const std::string changed = qiv_document("\n<hash>podmieniony</hash>\n");
    for (const std::string& bad_signature :
         {test::test_key_a().sign(changed).substr(1), std::string(), signature}) {
        downloader->mirrors.clear();
        listener->lines.clear();
        publish("http://a/", changed, bad_signature);
        publish("http://b/", document, signature);
        EXPECT_EQ(config()->get_hash(), "podpisany");
        EXPECT_EQ(listener->lines, std::vector<std::string>{not_signed("http://a/")});
        EXPECT_EQ(read_bytes(sandbox.local_copy()), document);
        EXPECT_EQ(sandbox.cache(), document);
    }
}

TEST_F(SignedConfig, ASignatureCountsOnlyFromTheServerThatDeliveredTheDocument) {
    publish("http://a/", document, "");
    downloader->mirrors["http://b/"]["qiv_start_2.xml.sig"] = signature;
    const auto taken = config();
    EXPECT_EQ(error_of(*taken), kNoConfig);
    EXPECT_EQ(listener->lines.front(), not_signed("http://a/"));
    EXPECT_EQ(listener->lines.at(1), kDownloadFailed);
    EXPECT_FALSE(std::filesystem::exists(sandbox.local_copy()));
    EXPECT_FALSE(sandbox.has_cache());
}

TEST_F(SignedConfig, WithoutASignedDocumentTheSignedCacheServesAndStaysAsItWas) {
    publish("http://a/", document, signature);
    config()->get_hash();
    std::filesystem::remove(sandbox.local_copy());
    listener->lines.clear();

    const std::string changed = qiv_document("<hash>podmieniony</hash>");
    downloader->mirrors.clear();
    publish("http://a/", changed, test::test_key_b().sign(changed));
    publish("http://b/", changed, signature);
    EXPECT_EQ(config()->get_hash(), "podpisany");
    EXPECT_EQ(listener->lines,
              (std::vector<std::string>{not_signed("http://a/"), not_signed("http://b/"),
                                        kDownloadFailed}));
    EXPECT_FALSE(std::filesystem::exists(sandbox.local_copy()));
    EXPECT_EQ(sandbox.cache(), document);
    EXPECT_EQ(read_bytes(signature_file()), signature);
}

TEST_F(SignedConfig, ADocumentPlantedInTheCacheIsRefused) {
    const std::string planted = qiv_document("<hash>podrzucony</hash>");
    const std::vector<std::pair<std::string, std::string>> caches = {
        {planted, ""},                                // no signature beside it
        {planted, signature},                         // another document's signature
        {planted, test::test_key_b().sign(planted)},  // signed by a key not trusted
        {document + " ", signature}};                 // a signed document, changed
    for (const auto& [bytes, cached_signature] : caches) {
        std::filesystem::remove(signature_file());
        sandbox.set_cache(bytes);
        if (!cached_signature.empty())
            write_bytes(signature_file(), cached_signature);
        listener->lines.clear();
        const auto offline = config();
        EXPECT_EQ(error_of(*offline), kNoConfig);
        EXPECT_EQ(listener->lines.at(1),
                  "uwaga: Brak danych ustawień. Konieczne jest ręczne uruchomienie programów.");
        EXPECT_EQ(sandbox.cache(), bytes);
    }
}

TEST_F(SignedConfig, ARotatedKeyAndAnEncodedDocumentKeepTheirBytesThroughTheCache) {
    // Windows-1250 without a byte-order mark, signed with the new key of a rotation.
    const std::string ansi = qiv_document("<hash>\xBF\xF3\xB3\xE6</hash>");
    publish("http://b/", ansi, test::test_key_b().sign(ansi));
    const TTrustedKeys rotation = {test::kTestPublicKeyA, test::kTestPublicKeyB};
    EXPECT_EQ(config(rotation)->get_hash(), "żółć");
    EXPECT_EQ(sandbox.cache(), ansi);

    downloader->mirrors.clear();
    EXPECT_EQ(config(rotation)->get_hash(), "żółć");
    // The old key alone no longer takes it.
    EXPECT_EQ(error_of(*config()), kNoConfig);
}

}  // namespace
}  // namespace qiv_start::core
