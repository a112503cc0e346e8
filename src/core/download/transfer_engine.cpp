#include "core/download/transfer_engine.h"

#include <curl/curl.h>

#include <algorithm>
#include <utility>

#include "core/download/http_client.h"
#include "core/download/request_url.h"
#include "core/support/error.h"

namespace qiv_start::core {
namespace {

// Idle connections kept for later transfers: as many as a run has under way at once over
// HTTP/1.1, with room to spare.
constexpr long kKeptConnections = 64;
// Connections to one server at once, at most: more than a run uses over HTTP/1.1, and a bound on
// those that the transfers of an HTTP/2 connection that the server ends (after so many requests)
// open each for itself before they learn that the new one multiplexes.
constexpr long kMaxHostConnections = 16;
// The longest the engine sleeps when the library names no earlier moment; requests wake it.
constexpr int kPollMs = 1000;

// The URL's origin; empty when there is no URL or it does not read.
std::string origin_of(const char* url) {
    const auto server = url != nullptr ? server_of(url) : std::nullopt;
    return server ? server->origin : std::string();
}

}  // namespace

TTransferEngine::TTransferEngine() {
    prepare_http_clients();
    multi_ = curl_multi_init();
    if (multi_ == nullptr)
        throw TError("The HTTP engine cannot be created");
    const bool set =
        curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX)) ==
            CURLM_OK &&
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, kKeptConnections) == CURLM_OK &&
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, kMaxHostConnections) == CURLM_OK;
    if (!set) {
        curl_multi_cleanup(multi_);
        throw TError("The HTTP engine cannot be set up");
    }
    thread_ = std::thread([this] { run(); });
}

TTransferEngine::~TTransferEngine() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.join();
    curl_multi_cleanup(multi_);
}

void TTransferEngine::start(void* handle, TWaiter& waiter) {
    {
        std::lock_guard lock(mutex_);
        starts_.push_back({next_id_++, TActive{handle, &waiter}});
    }
    curl_multi_wakeup(multi_);
}

bool TTransferEngine::multiplexes(const std::string& url) const {
    const std::string server = origin_of(url.c_str());
    std::lock_guard lock(mutex_);
    return !server.empty() && multiplexing_.contains(server);
}

TLinkMeter* TTransferEngine::link(const std::string& origin) {
    const auto found = links_.find(origin);
    return found != links_.end() ? &found->second : nullptr;
}

TLinkMeter& TTransferEngine::open_link(const std::string& origin, std::int64_t min_rate,
                                       std::chrono::milliseconds window) {
    return links_.try_emplace(origin, min_rate, window).first->second;
}

void TTransferEngine::run() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        take_requests();
        int running = 0;
        curl_multi_perform(multi_, &running);
        finish_done();
        curl_multi_poll(multi_, nullptr, 0, kPollMs, nullptr);
    }
}

// A transfer that cannot be added ends at once.
void TTransferEngine::take_requests() {
    std::vector<std::pair<TId, TActive>> starts;
    {
        std::lock_guard lock(mutex_);
        starts.swap(starts_);
    }
    for (auto& [id, active] : starts) {
        active_.emplace(id, active);
        if (curl_multi_add_handle(multi_, active.handle) != CURLM_OK)
            end(id, CURLE_OUT_OF_MEMORY);
    }
}

void TTransferEngine::finish_done() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CURL* handle = message->easy_handle;
        const CURLcode result = message->data.result;
        const auto found = std::find_if(active_.begin(), active_.end(), [handle](const auto& a) {
            return a.second.handle == handle;
        });
        long version = 0;
        char* url = nullptr;
        curl_easy_getinfo(handle, CURLINFO_HTTP_VERSION, &version);
        curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &url);
        if (std::string server = origin_of(url);
            version == CURL_HTTP_VERSION_2_0 && !server.empty()) {
            std::lock_guard lock(mutex_);
            multiplexing_.insert(std::move(server));
        }
        curl_multi_remove_handle(multi_, handle);
        if (found != active_.end())
            end(found->first, result);
    }
}

void TTransferEngine::end(TId transfer, int result) {
    const auto found = active_.find(transfer);
    TWaiter* waiter = found->second.waiter;
    active_.erase(found);
    waiter->ended(result);
}

}  // namespace qiv_start::core
