#include "core/download/download_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/download/verified_file_stream.h"
#include "support/content_digests.h"
#include "support/environment.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace qiv_start::core {
namespace {

using test::TTestHttpServer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kDownloadFailed = "Niemożliwe było sciągnięcie pliku";

void wait_until_finished(TDownloadThread& worker) {
    while (!worker.wait_for_finish(std::chrono::milliseconds(100))) {
    }
}

// What a finished worker leaves behind.
struct TOutcome {
    bool metadata_ready;
    std::int64_t file_size;
    std::int64_t downloaded;
    std::string error_message;
};

TOutcome download(TStream& stream, const std::vector<std::string>& servers,
                  const std::string& file_name, const TTransportOptions& options = {}) {
    TDownloadThread worker(stream, servers, file_name, options);
    wait_until_finished(worker);
    EXPECT_TRUE(worker.is_completed());
    return {worker.is_metadata_ready(), worker.get_file_size(), worker.get_downloaded_size(),
            worker.get_error_message()};
}

// A base URL where nothing listens.
std::string closed_server() {
    return TTestHttpServer().base_url();
}

TEST(ProgressPercent, RoundsHalvesToEvenAndKeepsTheLowestByte) {
    EXPECT_EQ(progress_percent(125, 1000), 12);
    EXPECT_EQ(progress_percent(135, 1000), 14);
    EXPECT_EQ(progress_percent(2, 3), 67);
    EXPECT_EQ(progress_percent(1000, 1000), 100);
    // More than announced is not clamped: 300 % wraps to its lowest byte.
    EXPECT_EQ(progress_percent(3000, 1000), 44);
}

TEST(ProgressPercent, IsZeroWhileTheSizeIsUnknown) {
    EXPECT_EQ(progress_percent(500, 0), 0);
    EXPECT_EQ(progress_percent(500, -1), 0);
}

TEST(DownloadThread, EmptyServerListEndsAtOnceAndLeavesTheStreamAlone) {
    TMemoryStream stream;
    stream.write("kept", 4);
    const TOutcome outcome = download(stream, {}, "a.txt");
    EXPECT_FALSE(outcome.metadata_ready);
    EXPECT_EQ(outcome.file_size, 0);
    EXPECT_EQ(outcome.error_message, kDownloadFailed);
    EXPECT_EQ(stream.data(), "kept");
    EXPECT_EQ(stream.get_position(), 4);
}

TEST(DownloadThread, DeliversTheBodyPositionedAtItsStart) {
    TTestHttpServer server;
    const std::string body(3000, 'x');
    server.serve("a.txt", body);
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {server.base_url()}, "a.txt");
    EXPECT_EQ(stream.data(), body);
    EXPECT_EQ(stream.get_position(), 0);
    EXPECT_EQ(outcome.file_size, 3000);
    EXPECT_EQ(outcome.downloaded, 3000);
    EXPECT_EQ(outcome.error_message, "");
    EXPECT_THAT(server.requests(), ElementsAre("HEAD /a.txt", "GET /a.txt"));
}

TEST(DownloadThread, RequestUrlIsTheBaseUrlFollowedVerbatimByTheName) {
    TTestHttpServer server;
    server.serve("dirsub/a%20b.txt", "ok");
    const std::string base = server.base_url() + "dir";  // no trailing slash
    TMemoryStream stream;
    download(stream, {base}, "sub/a%20b.txt");
    EXPECT_EQ(stream.data(), "ok");
    EXPECT_THAT(server.requests(), ElementsAre("HEAD /dirsub/a%20b.txt", "GET /dirsub/a%20b.txt"));
}

TEST(DownloadThread, NamesWithBlanksOrLettersBeyondAsciiAreRequestedEncoded) {
    TTestHttpServer server;
    server.serve("raport%20roczny.pdf", "pdf");
    server.serve("%C5%BC%C3%B3%C5%82w.txt", "txt");
    TMemoryStream pdf, txt;
    download(pdf, {server.base_url()}, "raport roczny.pdf");
    download(txt, {server.base_url()}, "żółw.txt");
    EXPECT_EQ(pdf.data(), "pdf");
    EXPECT_EQ(txt.data(), "txt");
}

TEST(DownloadThread, FailedHeadSendsNoGetAndTheNextServerIsTried) {
    TTestHttpServer missing, broken, good;
    missing.fail("a.txt", 404);
    broken.fail("a.txt", 500);
    good.serve("a.txt", "body");
    TMemoryStream stream;
    download(stream, {closed_server(), missing.base_url(), broken.base_url(), good.base_url()},
             "a.txt");
    EXPECT_EQ(stream.data(), "body");
    EXPECT_THAT(missing.requests(), ElementsAre("HEAD /a.txt"));
    EXPECT_THAT(broken.requests(), ElementsAre("HEAD /a.txt"));
}

TEST(DownloadThread, RedirectIsNotFollowed) {
    TTestHttpServer moved, target, good;
    target.serve("elsewhere.txt", "wrong");
    moved.redirect("a.txt", 302, target.base_url() + "elsewhere.txt");
    good.serve("a.txt", "right");
    TMemoryStream stream;
    download(stream, {moved.base_url(), good.base_url()}, "a.txt");
    EXPECT_EQ(stream.data(), "right");
    EXPECT_THAT(moved.requests(), ElementsAre("HEAD /a.txt"));
    EXPECT_THAT(target.requests(), IsEmpty());
}

TEST(DownloadThread, DuplicateServersAreEachTried) {
    TTestHttpServer missing;
    missing.fail("a.txt", 404);
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {missing.base_url(), missing.base_url()}, "a.txt");
    EXPECT_THAT(missing.requests(), ElementsAre("HEAD /a.txt", "HEAD /a.txt"));
    EXPECT_FALSE(outcome.metadata_ready);
    EXPECT_EQ(outcome.error_message, kDownloadFailed);
}

TEST(DownloadThread, AnswerWithoutContentLengthHasUnknownSize) {
    TTestHttpServer server;
    server.serve_chunked("a.txt", std::string(5000, 'c'));
    TMemoryStream stream;
    TDownloadThread worker(stream, {server.base_url()}, "a.txt");
    wait_until_finished(worker);
    EXPECT_EQ(worker.get_file_size(), -1);
    EXPECT_EQ(worker.get_progress_prc(), 0);
    EXPECT_EQ(stream.data(), std::string(5000, 'c'));
}

TEST(DownloadThread, BrokenAttemptLeavesOnlyTheNextServersBody) {
    TTestHttpServer broken, good;
    broken.cut_short("a.txt", std::string(10000, 'b'), 4000);
    good.serve("a.txt", "second body");
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {broken.base_url(), good.base_url()}, "a.txt");
    EXPECT_EQ(stream.data(), "second body");
    EXPECT_EQ(outcome.file_size, 11);
    EXPECT_THAT(broken.requests(), ElementsAre("HEAD /a.txt", "GET /a.txt"));
}

// An endless answer for a bounded stream, or a body past its announced length, is a failed
// attempt: the next server is asked.
TEST(DownloadThread, BodiesPastTheirBoundAreCutOffAndTheNextServerAsked) {
    TTestHttpServer endless, longer, good;
    endless.serve_chunked("servers.cfg", std::string(5000, 'e'));
    longer.serve_longer("servers.cfg", std::string(3000, 'l'), 100);
    good.serve("servers.cfg", "http://a/\r\n");
    TMemoryStream stream(1000);
    const TOutcome outcome =
        download(stream, {endless.base_url(), longer.base_url(), good.base_url()}, "servers.cfg");
    EXPECT_EQ(stream.data(), "http://a/\r\n");
    EXPECT_EQ(outcome.error_message, "");
    EXPECT_THAT(longer.requests(), ElementsAre("HEAD /servers.cfg", "GET /servers.cfg"));
}

// Without an announced length a body may not pass the ceiling (a small one here); with one it must
// have that very length. Either way the next server is asked, and nothing of such a body is
// kept, not even as a copy whose digest differs.
TEST(DownloadThread, BodiesPastTheCeilingOrNotOfTheAnnouncedLengthAreNotKept) {
    TTestHttpServer endless, longer, shorter;
    endless.serve_chunked("a.bin", std::string(5000, 'e'));
    longer.serve_longer("a.bin", std::string(3000, 'l'), 100);
    shorter.serve_shorter("a.bin", std::string(100, 's'), 3000);
    test::TTempDir directory;
    test::write_bytes(directory.file("a.bin"), "old");
    TTransportOptions options;
    options.max_unannounced_size = 1000;
    {
        TVerifiedFileStream stream(directory.path().string(), directory.file("a.bin"),
                                   {test::md5_of("new"), ""});
        download(stream, {endless.base_url(), longer.base_url(), shorter.base_url()}, "a.bin",
                 options);
        EXPECT_FALSE(stream.has_copy());
        for (const auto* server : {&endless, &longer, &shorter})
            EXPECT_THAT(server->requests(), ElementsAre("HEAD /a.bin", "GET /a.bin"));
    }
    EXPECT_EQ(test::read_bytes(directory.file("a.bin")), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1);
}

TEST(DownloadThread, FailedDownloadLeavesTheStreamEmptyAndTheAnnouncedSize) {
    TTestHttpServer broken;
    broken.cut_short("a.txt", std::string(10000, 'b'), 4000);
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {broken.base_url()}, "a.txt");
    EXPECT_EQ(stream.get_size(), 0);
    EXPECT_TRUE(outcome.metadata_ready);
    EXPECT_EQ(outcome.file_size, 10000);
    EXPECT_EQ(outcome.error_message, kDownloadFailed);
}

// A server that sends nothing, or too little over a whole window, is left for the next one.
TEST(DownloadThread, StalledServersAreDroppedForTheNextOne) {
    TTestHttpServer silent, stalled, trickling, good;
    silent.stall_answer("a.txt");
    stalled.stall_body("a.txt", std::string(1000, 's'), 100);
    trickling.trickle("a.txt", std::string(1000, 't'), std::chrono::milliseconds(20));
    good.serve("a.txt", "body");
    TTransportOptions options;
    options.stall_window = std::chrono::seconds(1);
    TMemoryStream stream;
    const TOutcome outcome = download(
        stream, {silent.base_url(), stalled.base_url(), trickling.base_url(), good.base_url()},
        "a.txt", options);
    EXPECT_EQ(stream.data(), "body");
    EXPECT_EQ(outcome.error_message, "");
    EXPECT_THAT(stalled.requests(), ElementsAre("HEAD /a.txt", "GET /a.txt"));
    EXPECT_THAT(trickling.requests(), ElementsAre("HEAD /a.txt", "GET /a.txt"));
}

// The rate is judged over a whole window only: a small file that trickles in well within one
// arrives, however slow.
TEST(DownloadThread, SmallFileTricklingInWithinTheWindowIsNotCut) {
    TTestHttpServer trickling;
    trickling.trickle("a.txt", "0123456789", std::chrono::milliseconds(20));
    TTransportOptions options;
    options.stall_window = std::chrono::seconds(3);
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {trickling.base_url()}, "a.txt", options);
    EXPECT_EQ(stream.data(), "0123456789");
    EXPECT_EQ(outcome.error_message, "");
}

TEST(DownloadThread, HttpsNeedsACertificateItCanTrust) {
    if (test::running_under_wine())
        GTEST_SKIP() << "wine's Schannel does not verify the server against the given authority";
    TTestHttpServer server(TTestHttpServer::kHttps);
    server.serve("a.txt", "secret");
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {server.base_url()}, "a.txt");
    EXPECT_EQ(outcome.error_message, kDownloadFailed);
    EXPECT_EQ(stream.get_size(), 0);
    EXPECT_THAT(server.requests(), IsEmpty());
}

TEST(DownloadThread, HttpsWithTheTrustedAuthorityUsesTlsWhateverTheSchemeCase) {
    if (test::running_under_wine())
        GTEST_SKIP() << "wine's Schannel does not take the given authority file";
    TTestHttpServer secure(TTestHttpServer::kHttps), plain;
    secure.fail("a.txt", 404);
    secure.serve("b.txt", "secret");
    plain.serve("a.txt", "plain");
    const TTransportOptions options{secure.ca_file()};
    std::string upper = secure.base_url();
    upper.replace(0, 5, "HTTPS");

    TMemoryStream first;
    download(first, {upper}, "b.txt", options);
    EXPECT_EQ(first.data(), "secret");
    // After a TLS attempt, a plain server is still reached without TLS.
    TMemoryStream second;
    download(second, {secure.base_url(), plain.base_url()}, "a.txt", options);
    EXPECT_EQ(second.data(), "plain");
}

}  // namespace
}  // namespace qiv_start::core
