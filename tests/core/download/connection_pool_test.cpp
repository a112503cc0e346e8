#include "core/download/connection_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/download/downloader_prod.h"
#include "core/download/request_url.h"
#include "core/support/error.h"
#include "support/environment.h"
#include "support/nginx_front.h"
#include "support/recording_listener.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

namespace qiv_start::core {
namespace {

using test::TRecordingListener;
using test::TTestHttpServer;

// TLS, whose sessions the pool keeps too; under wine plain HTTP, because wine's Schannel does not
// take the given authority file. Connections are reused the same way over both.
TTestHttpServer::TScheme scheme() {
    return test::running_under_wine() ? TTestHttpServer::kHttp : TTestHttpServer::kHttps;
}

std::string body(int i) {
    return std::string(20000 + i, static_cast<char>('a' + i % 26));
}

// The server list, the configuration and the files of a run: whichever downloader of the run
// fetches them, they go over the one connection that the first download opened.
TEST(ConnectionPool, DownloadsOneAfterAnotherReuseOneConnection) {
    TTestHttpServer server(scheme());
    for (int i = 0; i < 3; ++i)
        server.serve(std::to_string(i) + ".bin", body(i));
    TTransportOptions options;
    options.ca_file = server.ca_file();
    auto pool = std::make_shared<TConnectionPool>(options);
    auto listener = std::make_shared<TRecordingListener>();
    for (int i = 0; i < 3; ++i) {
        TDownloaderProd downloader(listener, {server.base_url()}, pool);
        TMemoryStream stream;
        downloader.download_file_from_server(std::to_string(i) + ".bin", stream);
        EXPECT_EQ(stream.data(), body(i));
    }
    EXPECT_EQ(server.connections(), 1u);
}

// Downloads on several threads at once borrow clients of their own and get whole, unmixed files;
// a second round opens no new connection.
TEST(ConnectionPool, ConcurrentDownloadsEachGetTheirOwnFile) {
    constexpr int kThreads = 6;
    // Idle connections stay open however slowly the rounds run (under sanitizers, on a busy
    // machine), so that a new connection can only mean one that was not reused.
    TTestHttpServer server(scheme(), 30);
    for (int i = 0; i < kThreads; ++i)
        server.serve(std::to_string(i) + ".bin", body(i));
    TTransportOptions options;
    options.ca_file = server.ca_file();
    auto pool = std::make_shared<TConnectionPool>(options);
    for (int round = 0; round < 2; ++round) {
        std::vector<TMemoryStream> streams(kThreads);
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                TDownloaderProd downloader(std::make_shared<TRecordingListener>(),
                                           {server.base_url()}, pool);
                downloader.download_file_from_server(std::to_string(i) + ".bin", streams[i]);
            });
        }
        for (auto& thread : threads)
            thread.join();
        for (int i = 0; i < kThreads; ++i)
            EXPECT_EQ(streams[i].data(), body(i)) << i;
    }
    EXPECT_LE(server.connections(), static_cast<std::size_t>(kThreads));
}

// What the server does with each file of a row but the last, and with the last.
enum class TServing {
    kTrickled,    // 200 bytes at 50 B/s for 4 s
    kCarried,     // 4000 bytes at 500 B/s for 8 s
    kSilentBody,  // the file announced, then nothing
    kLateAnswer,  // nothing, not even a status line, until the last file has come: then 503
    kNoAnswer,    // nothing at all
    kQuick,       // the whole file at once
};

// Judged over a window of 3 s, with 5 s for an answer: over one HTTP/2 connection that carries
// enough, a stream may move less than the rate by itself; a transfer's window starts once it is
// driven, not while it waits for one of the 16 connections to its server; a connection that
// moves nothing still stalls every transfer over it. A stream that waits for its answer while
// another one brings bytes over the connection has a server that answers; once the connection
// has received nothing for the answer time, a stream without an answer has none.
TEST(ConnectionPool, StallRuleJudgesWhatTheConnectionMoves) {
    struct TCase {
        const char* what;
        bool http2;
        int transfers;
        std::int64_t min_rate;
        TServing others;
        TServing last;
    };
    using enum TServing;
    const TCase cases[] = {
        {"streams at half the rate over a connection that moves enough", true, 9, 100, kTrickled,
         kCarried},
        {"one transfer more than connections", false, 17, 1, kTrickled, kCarried},
        {"a connection that moves nothing", true, 4, 20, kSilentBody, kSilentBody},
        {"streams answered after 8 s of another one moving", true, 4, 20, kLateAnswer, kCarried},
        {"streams unanswered on a connection quiet since", true, 4, 0, kNoAnswer, kQuick},
    };
    const std::string trickled(200, 't');
    const std::string carried(4000, 'c');
    const auto serve = [&](TTestHttpServer& server, const std::string& name, TServing serving) {
        switch (serving) {
            case kTrickled:
                return server.trickle(name, trickled, std::chrono::milliseconds(20));
            case kCarried:
                return server.trickle(name, carried, std::chrono::milliseconds(2));
            case kSilentBody:
                return server.stall_body(name, trickled, 0);
            case kLateAnswer:
            case kNoAnswer:
                return server.stall_answer(name);
            case kQuick:
                return server.serve(name, trickled);
        }
    };
    const auto expected = [&](TServing serving) -> std::string {
        switch (serving) {
            case kTrickled:
            case kQuick:
                return trickled;
            case kCarried:
                return carried;
            case kSilentBody:
                return "mniej niż 20 B/s średnio przez 3 s, próba przerwana";
            case kLateAnswer:
                return "serwer odpowiedział kodem HTTP 503";
            case kNoAnswer:
                return "serwer nie odpowiedział przez 5 s od wysłania żądania";
        }
        return {};
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
#ifdef _WIN32
        if (c.http2)
            continue;  // nginx runs on the build system only
#endif
        TTestHttpServer server;
        for (int i = 0; i < c.transfers; ++i)
            serve(server, std::to_string(i) + ".bin", i + 1 == c.transfers ? c.last : c.others);
        TTransportOptions options;
        options.min_rate = c.min_rate;
        options.stall_window = std::chrono::seconds(3);
        options.answer_timeout = std::chrono::seconds(5);
        std::string base = server.base_url();
        test::TTempDir dir;
        std::unique_ptr<test::TNginxFront> front;
        if (c.http2) {
            const auto certificates = test::create_test_certificates(dir.path());
            options.ca_file = certificates.ca_file;
            front = std::make_unique<test::TNginxFront>(base, certificates, dir.path() / "nginx");
            base = front->base_url();
        }
        TConnectionPool pool(options);
        // All at once from this thread: each transfer tells its end on the engine's thread.
        std::vector<std::string> outcomes(c.transfers);
        std::vector<TConnectionPool::TLoan> clients;
        std::vector<std::promise<void>> ended(c.transfers);
        std::vector<std::future<void>> ends;
        for (auto& end : ended)
            ends.push_back(end.get_future());
        for (int i = 0; i < c.transfers; ++i) {
            clients.push_back(pool.borrow());
            clients.back()->start_get(
                request_url(base, std::to_string(i) + ".bin"),
                [&outcomes, i](const char* data, std::size_t size) {
                    outcomes[i].append(data, size);
                },
                {}, 0, {},
                [&, i](const std::exception_ptr& failure) {
                    try {
                        if (failure)
                            std::rethrow_exception(failure);
                    } catch (const TError& error) {
                        outcomes[i] = error.what();
                    }
                    if (i + 1 == c.transfers && c.others == kLateAnswer)
                        server.release_stalls();
                    ended[i].set_value();
                });
        }
        for (const auto& end : ends)
            end.wait();
        for (int i = 0; i < c.transfers; ++i)
            EXPECT_EQ(outcomes[i], expected(i + 1 == c.transfers ? c.last : c.others)) << i;
    }
}

}  // namespace
}  // namespace qiv_start::core
