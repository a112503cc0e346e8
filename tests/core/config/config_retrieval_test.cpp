#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/config/config_prod.h"
#include "core/config/config_test_fixture.h"
#include "core/support/error.h"

namespace qiv_start::core {
namespace {

using test::qiv_document;
using test::read_bytes;
using test::TConfigUnderTest;

const std::string kDownloadFailed = "uwaga: Błąd pobierania ustawień z sieci.";
const std::string kNoCache =
    "uwaga: Brak danych ustawień. Konieczne jest ręczne uruchomienie programów.";
const std::string kNoConfig =
    "Nie udało się pobrać ustawień. Proszę sprawdzić połączenie do sieci internet.";
const std::string kDamaged =
    "Dane ustawień są uszkodzone. Proszę powiadomić administratora systemu.";

// The text of the error that the call raised, or "" when it raised nothing.
template <class Call>
std::string error_text(Call call) {
    try {
        call();
    } catch (const TError& failure) {
        return failure.what();
    }
    return "";
}

class ConfigRetrieval : public ::testing::Test {
  protected:
    test::TConfigSandbox sandbox;
};

TEST_F(ConfigRetrieval, ADownloadIsKeptAsDeliveredAndCachedWithCrLfLines) {
    const std::string bytes = "<?xml version=\"1.0\"?>\n" + qiv_document("\n<hash>H1</hash>\n");
    TConfigUnderTest setup(bytes);
    EXPECT_EQ(setup.config->get_hash(), "H1");
    EXPECT_TRUE(setup.config->is_fetched());
    EXPECT_EQ(setup.downloader->requests, std::vector<std::string>{"qiv_start_2.xml"});
    EXPECT_TRUE(setup.listener->lines.empty());
    EXPECT_EQ(read_bytes(sandbox.local_copy()), bytes);
    EXPECT_EQ(sandbox.cache(),
              "<?xml version=\"1.0\"?>\r\n" + qiv_document("\r\n<hash>H1</hash>\r\n") + "\r\n");
}

TEST_F(ConfigRetrieval, ABomSelectsTheEncodingWithoutOneTheCodePageDecides) {
    TConfigUnderTest utf8("\xEF\xBB\xBF" + qiv_document("<hash>zażółć</hash>"), 1250);
    EXPECT_EQ(utf8.config->get_hash(), "zażółć");
    TConfigUnderTest ansi(qiv_document("<hash>\xBF\xF3\xB3\xE6</hash>"), 1250);
    EXPECT_EQ(ansi.config->get_hash(), "żółć");
    EXPECT_EQ(sandbox.cache(), qiv_document("<hash>żółć</hash>") + "\r\n");
}

TEST_F(ConfigRetrieval, GetServersLoadsNothingAndTwoGettersDownloadOnce) {
    TConfigUnderTest setup(qiv_document("<hash>H</hash>"));
    EXPECT_EQ(setup.config->get_servers(), (std::vector<std::string>{"http://a/", "http://b/"}));
    EXPECT_TRUE(setup.downloader->requests.empty());
    EXPECT_FALSE(sandbox.has_cache());
    EXPECT_FALSE(std::filesystem::exists(sandbox.local_copy()));

    setup.config->get_hash();
    setup.config->get_terminals();
    EXPECT_EQ(setup.downloader->requests.size(), 1u);
}

TEST_F(ConfigRetrieval, NoDocumentAndNoCacheFailEveryTimeWithTheSameMessages) {
    TConfigUnderTest setup(std::nullopt);
    const std::vector<std::string> expected = {kDownloadFailed, kNoCache, "błąd: " + kNoConfig};
    EXPECT_EQ(error_text([&] { setup.config->get_terminals(); }), kNoConfig);
    EXPECT_EQ(setup.listener->lines, expected);
    EXPECT_FALSE(sandbox.has_cache());

    setup.listener->lines.clear();
    EXPECT_EQ(error_text([&] { setup.config->get_hash(); }), kNoConfig);
    EXPECT_EQ(setup.listener->lines, expected);
    EXPECT_EQ(setup.downloader->requests.size(), 2u);

    // The next attempt that finds a document succeeds.
    setup.downloader->bytes = qiv_document("<hash>late</hash>");
    EXPECT_EQ(setup.config->get_hash(), "late");
}

TEST_F(ConfigRetrieval, WithoutADownloadTheCacheServesAndIsWrittenBack) {
    sandbox.set_cache(qiv_document("<hash>cached</hash>"));
    std::filesystem::permissions(sandbox.cache_file(), std::filesystem::perms(0644));
    TConfigUnderTest setup(std::nullopt);
    EXPECT_EQ(setup.config->get_hash(), "cached");
    EXPECT_FALSE(setup.config->is_fetched());
    EXPECT_EQ(setup.listener->lines, std::vector<std::string>{kDownloadFailed});
    EXPECT_EQ(sandbox.cache(), qiv_document("<hash>cached</hash>"));
    // Replaced by a new file of the user's own: the text was written again.
    EXPECT_EQ(std::filesystem::status(sandbox.cache_file()).permissions(),
              std::filesystem::perms(0600));
}

TEST_F(ConfigRetrieval, AnEmptyCachedTextIsAnEmptyConfiguration) {
    sandbox.set_cache("");
    std::filesystem::permissions(sandbox.cache_file(), std::filesystem::perms(0644));
    TConfigUnderTest setup(std::nullopt);
    EXPECT_TRUE(setup.config->get_terminals().empty());
    EXPECT_EQ(sandbox.cache(), "");
    EXPECT_EQ(std::filesystem::status(sandbox.cache_file()).permissions(),
              std::filesystem::perms(0600));
}

TEST_F(ConfigRetrieval, ALocalCopyThatCannotBeWrittenCountsAsAFailedDownload) {
    std::filesystem::create_directory(sandbox.local_copy());
    sandbox.set_cache(qiv_document("<hash>cached</hash>"));
    TConfigUnderTest setup(qiv_document("<hash>fresh</hash>"));
    EXPECT_EQ(setup.config->get_hash(), "cached");
    EXPECT_EQ(setup.listener->lines, std::vector<std::string>{kDownloadFailed});
}

TEST_F(ConfigRetrieval, ADamagedDownloadIsReportedAndNeitherUsesNorTouchesTheCache) {
    const std::string good = qiv_document("<hash>good</hash>");
    sandbox.set_cache(good);
    for (const std::string& bad : {std::string("<qiv_start><hash>x</hash>"),
                                   std::string("<qiv_start><hash>no namespace</hash></qiv_start>"),
                                   std::string("<!DOCTYPE qiv_start>") + good}) {
        TConfigUnderTest setup(bad);
        EXPECT_EQ(error_text([&] { setup.config->get_hash(); }), kDamaged) << bad;
        EXPECT_EQ(setup.listener->lines, std::vector<std::string>{"błąd: " + kDamaged});
        EXPECT_EQ(sandbox.cache(), good);
        EXPECT_EQ(read_bytes(sandbox.local_copy()), bad);
    }
}

TEST_F(ConfigRetrieval, ADamagedCacheIsReportedAfterTheDownloadWarning) {
    sandbox.set_cache("not xml");
    TConfigUnderTest setup(std::nullopt);
    EXPECT_EQ(error_text([&] { setup.config->get_btn_width(); }), kDamaged);
    EXPECT_EQ(setup.listener->lines,
              (std::vector<std::string>{kDownloadFailed, "błąd: " + kDamaged}));
    EXPECT_EQ(sandbox.cache(), "not xml");
}

}  // namespace
}  // namespace qiv_start::core
