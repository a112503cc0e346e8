#include "core/download/connection_pool.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/download/downloader_prod.h"
#include "support/environment.h"
#include "support/recording_listener.h"
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

}  // namespace
}  // namespace qiv_start::core
