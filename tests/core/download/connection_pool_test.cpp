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

// Each file trickles in at 50 B/s for 4 s, judged over a window of 3 s, and the last one, but
// where nothing moves, at 500 B/s for 8 s: over one HTTP/2 connection that carries enough, a
// stream may move less than the rate by itself; a transfer's window starts once it is driven,
// not while it waits for one of the 16 connections to its server; a connection that moves
// nothing still stalls every transfer over it.
TEST(ConnectionPool, StallRuleJudgesWhatTheConnectionMoves) {
    struct TCase {
        const char* what;
        bool http2;
        int transfers;
        std::int64_t min_rate;
        bool silent;
    };
    const TCase cases[] = {
        {"streams at half the rate over a connection that moves enough", true, 9, 100, false},
        {"one transfer more than connections", false, 17, 1, false},
        {"a connection that moves nothing", true, 4, 20, true},
    };
    const std::string trickled(200, 't');
    const std::string carried(4000, 'c');
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
#ifdef _WIN32
        if (c.http2)
            continue;  // nginx runs on the build system only
#endif
        TTestHttpServer server;
        for (int i = 0; i < c.transfers; ++i) {
            const std::string name = std::to_string(i) + ".bin";
            if (c.silent)
                server.stall_body(name, trickled, 0);
            else if (i + 1 == c.transfers)
                server.trickle(name, carried, std::chrono::milliseconds(2));
            else
                server.trickle(name, trickled, std::chrono::milliseconds(20));
        }
        TTransportOptions options;
        options.min_rate = c.min_rate;
        options.stall_window = std::chrono::seconds(3);
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
                [&outcomes, &ended, i](const std::exception_ptr& failure) {
                    try {
                        if (failure)
                            std::rethrow_exception(failure);
                    } catch (const TError& error) {
                        outcomes[i] = error.what();
                    }
                    ended[i].set_value();
                });
        }
        for (const auto& end : ends)
            end.wait();
        for (int i = 0; i < c.transfers; ++i) {
            const std::string expected = c.silent
                                             ? "mniej niż 20 B/s średnio przez 3 s, próba przerwana"
                                         : i + 1 == c.transfers ? carried
                                                                : trickled;
            EXPECT_EQ(outcomes[i], expected) << i;
        }
    }
}

}  // namespace
}  // namespace qiv_start::core
