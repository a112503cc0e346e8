#include "core/download/download_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
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

// Bytes that no shift or repetition of another piece of them matches.
std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

std::size_t count_of(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
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

// A server that sends nothing, or too little over a whole window, is left for the next one, also
// when each attempt brings more of a copy that it could be asked for the rest of.
TEST(DownloadThread, StalledServersAreDroppedForTheNextOne) {
    TTestHttpServer silent, stalled, trickling, resumable, good;
    silent.stall_answer("a.txt");
    stalled.stall_body("a.txt", std::string(1000, 's'), 100);
    trickling.trickle("a.txt", std::string(1000, 't'), std::chrono::milliseconds(20));
    resumable.trickle("a.txt", std::string(1000, 'r'), std::chrono::milliseconds(20), "\"r1\"");
    good.serve("a.txt", "body");
    TTransportOptions options;
    options.stall_window = std::chrono::seconds(1);
    TMemoryStream stream;
    const TOutcome outcome = download(stream,
                                      {silent.base_url(), stalled.base_url(), trickling.base_url(),
                                       resumable.base_url(), good.base_url()},
                                      "a.txt", options);
    EXPECT_EQ(stream.data(), "body");
    EXPECT_EQ(outcome.error_message, "");
    for (const auto* server : {&stalled, &trickling, &resumable})
        EXPECT_THAT(server->requests(), ElementsAre("HEAD /a.txt", "GET /a.txt"));
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

// Every attempt that brings more of a copy that its validator names is followed by one for the
// rest, on the same server.
TEST(DownloadThread, ServerThatDropsEvery64KiBDeliversTheWholeFileByResuming) {
    TTestHttpServer dropping;
    const std::string body = random_bytes(10 * 1024 * 1024, 1);
    dropping.serve_resumable("a.bin", body, "\"v1\"", 64 * 1024);
    TMemoryStream stream;
    const TOutcome outcome = download(stream, {dropping.base_url()}, "a.bin");
    EXPECT_TRUE(stream.data() == body);
    EXPECT_EQ(outcome.error_message, "");
    const std::vector<std::string> requests = dropping.requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[3], "GET /a.bin bytes=65536-");
    EXPECT_EQ(count_of(requests, "GET /a.bin"), 1u);
    EXPECT_EQ(count_of(requests, "GET /a.bin bytes=10420224-"), 1u);
    EXPECT_EQ(requests.size(), 2u * 160);
}

// A download that no server finishes keeps what it brought, with its validator, for the next
// start; that start resumes it only where the copy is the same and the server sends the rest,
// and the digests decide. A bad answer to the range leaves the same server asked for the whole.
TEST(DownloadThread, InterruptedDownloadIsResumedOnTheNextStartOnlyFromTheSameCopy) {
    const std::string v1 = random_bytes(300 * 1024, 1), v2 = random_bytes(300 * 1024, 2);
    struct TCase {
        const char* what;
        std::function<void(TTestHttpServer&)> second_start;
        std::function<void(const std::string& kept)> between;  // may spoil the kept file
        std::string saved;
        std::vector<std::string> gets;
    };
    const std::vector<TCase> cases = {
        {"same copy",
         [&](TTestHttpServer& s) { s.serve_resumable("a.bin", v1, "\"v1\""); },
         {},
         v1,
         {"GET /a.bin bytes=65536-"}},
        {"changed copy",
         [&](TTestHttpServer& s) { s.serve_resumable("a.bin", v2, "\"v2\""); },
         {},
         v2,
         {"GET /a.bin"}},
        {"range ignored",
         [&](TTestHttpServer& s) { s.serve_resumable("a.bin", v1, "\"v1\"", 0, false); },
         {},
         v1,
         {"GET /a.bin bytes=65536-"}},
        {"range of another copy",
         [&](TTestHttpServer& s) { s.serve_resumable("a.bin", v1, "\"v1\"", 0, true, "\"v2\""); },
         {},
         v1,
         {"GET /a.bin bytes=65536-", "GET /a.bin"}},
        {"kept bytes spoilt",
         [&](TTestHttpServer& s) { s.serve_resumable("a.bin", v1, "\"v1\""); },
         [](const std::string& kept) { test::write_bytes(kept, std::string(65536, 'x')); },
         v1,
         {"GET /a.bin bytes=65536-", "GET /a.bin"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        test::TTempDir directory;
        TTestHttpServer server;
        // The first start gets 64 KiB; the server then sends the whole copy again, and drops.
        server.serve_resumable("a.bin", v1, "\"v1\"", 64 * 1024, false);
        {
            TVerifiedFileStream stream(directory.path().string(), directory.file("a.bin"),
                                       {test::md5_of(v1), ""});
            const TOutcome outcome = download(stream, {server.base_url()}, "a.bin");
            EXPECT_EQ(outcome.error_message, kDownloadFailed);
            EXPECT_FALSE(stream.has_copy());
        }
        std::vector<std::string> left;
        for (const auto& entry : std::filesystem::directory_iterator(directory.path()))
            left.push_back(entry.path().filename().string());
        std::sort(left.begin(), left.end());
        ASSERT_EQ(left.size(), 2u);
        EXPECT_EQ(left[1], left[0] + ".resume");
        EXPECT_EQ(std::filesystem::file_size(directory.path() / left[0]), 64u * 1024);
        if (c.between)
            c.between(directory.file(left[0]));

        c.second_start(server);
        const std::size_t before = server.requests().size();
        {
            TVerifiedFileStream stream(directory.path().string(), directory.file("a.bin"),
                                       {test::md5_of(c.saved), ""});
            download(stream, {server.base_url()}, "a.bin");
            EXPECT_TRUE(stream.is_verified());
            stream.commit();
        }
        std::vector<std::string> gets;
        const std::vector<std::string> requests = server.requests();
        for (std::size_t i = before; i < requests.size(); ++i) {
            if (requests[i].starts_with("GET"))
                gets.push_back(requests[i]);
        }
        EXPECT_EQ(gets, c.gets);
        EXPECT_TRUE(test::read_bytes(directory.file("a.bin")) == c.saved);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory.path()), {}), 1);
    }
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
