#include "core/download/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <limits>
#include <optional>

#include "core/download/request_url.h"
#include "core/download/stall_watch.h"
#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

// Why an attempt failed, for the run log; the library's own words follow in brackets.
const char* const kStatusRefused = "serwer odpowiedział kodem HTTP %0:d";
const char* const kStalled = "mniej niż %0:d B/s średnio przez %1:d s, próba przerwana";
const char* const kTimedOut = "przekroczony czas oczekiwania na serwer (%0:s)";
const char* const kNoAnswer = "serwer nie odpowiedział przez %0:d s od wysłania żądania";
const char* const kNotVerified = "certyfikat serwera nie został zweryfikowany (%0:s)";
const char* const kCannotConnect = "nie można połączyć się z serwerem (%0:s)";
const char* const kInterrupted = "połączenie zostało przerwane (%0:s)";
const char* const kOtherFailure = "błąd połączenia (%0:s)";
const char* const kProxyRefused = "serwer proxy %0:s odmówił połączenia (kod HTTP %1:d)";
const char* const kWrongRange = "odpowiedź nie zaczyna się od żądanego miejsca pliku";

// A validator longer than this, or with anything but printable ASCII, is not taken: it goes back
// to servers in a header and is kept in a file.
constexpr std::size_t kMaxValidatorSize = 256;

// Bigger pieces than libcurl's default of 16 KiB: fewer receive and write calls for large files.
constexpr long kReceiveBufferSize = 256 * 1024;

bool is_success(long status) {
    return status >= 200 && status <= 299;
}

long response_status(CURL* curl) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

template <class T>
void set_option(CURL* curl, CURLoption option, T value) {
    const CURLcode result = curl_easy_setopt(curl, option, value);
    if (result != CURLE_OK) {
        throw TError(format("HTTP client option refused: %0:s", {curl_easy_strerror(result)}));
    }
}

// Redirects are not followed and only a 2xx answer counts, so a moved file is a missing file.
// The proxy is chosen for each request (take_route).
void configure(CURL* curl, const TTransportOptions& options) {
    set_option(curl, CURLOPT_NOSIGNAL, 1L);
    set_option(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set_option(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set_option(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
    set_option(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // HTTP/2 where the server offers it through TLS, so that a run's transfers share one
    // connection to it; HTTP/1.1 otherwise. A transfer waits for a connection to its server that
    // is being opened, and shares it if it multiplexes, rather than opening one of its own.
    set_option(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    set_option(curl, CURLOPT_PIPEWAIT, 1L);
    set_option(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set_option(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    set_option(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.ca_file.empty())
        set_option(curl, CURLOPT_CAINFO, options.ca_file.c_str());
    else  // the system's store: on Windows its certificate store, elsewhere OpenSSL's
        set_option(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
    set_option(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout.count()));
    set_option(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
}

std::string header(CURL* curl, const char* name) {
    curl_header* found = nullptr;
    if (curl_easy_header(curl, name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK)
        return {};
    return found->value;
}

bool is_usable_validator(const std::string& value) {
    if (value.empty() || value.size() > kMaxValidatorSize)
        return false;
    for (const char c : value) {
        if (c < ' ' || c > '~')
            return false;
    }
    return true;
}

// A weak ETag may name several copies, so a range of one cannot be asked for by it.
std::string validator_of(CURL* curl) {
    const std::string etag = header(curl, "ETag");
    if (!etag.starts_with("W/") && is_usable_validator(etag))
        return etag;
    const std::string modified = header(curl, "Last-Modified");
    return is_usable_validator(modified) ? modified : std::string();
}

std::int64_t announced_length(CURL* curl) {
    curl_off_t length = -1;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

// "bytes FIRST-LAST/LENGTH": the offset and the whole copy's length (-1 when given as "*");
// nothing when the header does not read.
std::optional<std::pair<std::int64_t, std::int64_t>> content_range(CURL* curl) {
    const std::string value = header(curl, "Content-Range");
    const auto number = [&value](std::size_t& at) -> std::int64_t {
        std::int64_t result = 0;
        const std::size_t start = at;
        for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) {
            if (result > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
                return -1;
            result = result * 10 + (value[at] - '0');
        }
        return at == start ? -1 : result;
    };
    if (!value.starts_with("bytes "))
        return std::nullopt;
    std::size_t at = 6;
    const std::int64_t first = number(at);
    if (first < 0 || at >= value.size() || value[at++] != '-')
        return std::nullopt;
    const std::int64_t last = number(at);
    if (last < first || at >= value.size() || value[at++] != '/')
        return std::nullopt;
    if (value.substr(at) == "*")
        return std::pair{first, std::int64_t{-1}};
    const std::int64_t length = number(at);
    if (length <= last || at != value.size())
        return std::nullopt;
    return std::pair{first, length};
}

// The words never carry the proxy's password.
std::string failure_reason(CURLcode result, const char* detail, const std::string& proxy) {
    const std::string words =
        without_user_info(*detail != '\0' ? detail : curl_easy_strerror(result), proxy);
    switch (result) {
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
            return format(kNotVerified, {words});
        case CURLE_OPERATION_TIMEDOUT:
            return format(kTimedOut, {words});
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_SSL_CONNECT_ERROR:
            return format(kCannotConnect, {words});
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_GOT_NOTHING:
            return format(kInterrupted, {words});
        default:
            return format(kOtherFailure, {words});
    }
}

std::int64_t whole_seconds(std::chrono::milliseconds period) {
    return static_cast<std::int64_t>((period.count() + 999) / 1000);
}

// The answer time runs from the moment the request goes out, not while the transfer waits for a
// connection to its server (the connection's own time-out covers that), and over a shared
// connection from the last byte that any of its streams received: a stream queued behind others
// on a slow link waits for its turn, not for a silent server.
class TAnswerWatch {
  public:
    using TClock = std::chrono::steady_clock;

    explicit TAnswerWatch(std::chrono::milliseconds limit) : limit_(limit) {}

    // False once the request went out, and the connection last received, the limit ago or longer
    // and no byte of an answer came.
    bool in_time(CURL* curl, TClock::time_point connection_received) {
        if (answered_)
            return true;
        curl_off_t requested = 0;
        curl_off_t answered = 0;
        curl_easy_getinfo(curl, CURLINFO_PRETRANSFER_TIME_T, &requested);
        curl_easy_getinfo(curl, CURLINFO_STARTTRANSFER_TIME_T, &answered);
        answered_ = answered > 0 || response_status(curl) != 0;
        if (answered_ || requested <= 0)
            return true;
        const TClock::time_point now = TClock::now();
        if (!sent_)
            sent_ = now;
        return now - std::max(*sent_, connection_received) < limit_;
    }

  private:
    std::chrono::milliseconds limit_;
    std::optional<TClock::time_point> sent_;
    bool answered_ = false;
};

}  // namespace

void prepare_http_clients() {
    static const bool prepared = [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw TError("The HTTP library cannot be set up");
        }
        return true;
    }();
    static_cast<void>(prepared);
}

THttpShare::THttpShare() {
    prepare_http_clients();
    share_ = curl_share_init();
    if (share_ == nullptr)
        throw TError("The HTTP share cannot be created");
    static_assert(CURL_LOCK_DATA_LAST <= std::tuple_size_v<decltype(locks_)>);
    const auto lock_function = +[](CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<THttpShare*>(self)->locks_.at(data).lock();
    };
    const auto unlock_function = +[](CURL*, curl_lock_data data, void* self) {
        static_cast<THttpShare*>(self)->locks_.at(data).unlock();
    };
    const bool set =
        curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, lock_function) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, unlock_function) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK &&
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK;
    if (!set) {
        curl_share_cleanup(share_);
        throw TError("The HTTP share cannot be set up");
    }
}

THttpShare::~THttpShare() {
    curl_share_cleanup(share_);
}

struct THttpClient::TTransfer final : TTransferEngine::TWaiter {
    TTransfer(THttpClient& owner, TReceiver receiver, TDone finished)
        : client(owner),
          curl(owner.curl_.get()),
          receive(std::move(receiver)),
          done(std::move(finished)),
          options(owner.options_),
          stall(options.min_rate, options.stall_window),
          answer(options.answer_timeout) {}

    void ended(int code) override { client.complete(code); }

    THttpClient& client;
    CURL* curl;
    TReceiver receive;  // none for a head
    TStarter start;
    TDone done;
    std::int64_t from = 0;
    const TTransportOptions& options;
    TStallWatch stall;
    TAnswerWatch answer;
    bool status_checked = false;
    bool requested = false;  // has a connection, and its request has gone out
    bool stalled = false;
    bool unanswered = false;
    std::exception_ptr receive_error;
    char detail[CURL_ERROR_SIZE] = {};
    // The server's origin, whether the engine has met it over HTTP/2, and once the transfer is
    // known to share its connection, what that connection moves and how much of that this
    // transfer has counted.
    std::string origin;
    bool server_multiplexes = false;
    TLinkMeter* link = nullptr;
    std::int64_t counted = 0;
    std::int64_t received = 0;
};

void THttpClient::TCurlDeleter::operator()(void* handle) const {
    curl_easy_cleanup(handle);
}

void THttpClient::TListDeleter::operator()(curl_slist* list) const {
    curl_slist_free_all(list);
}

THttpClient::THttpClient(const TTransportOptions& options, TTransferEngine& engine,
                         THttpShare* share, TProxyRoutes* routes)
    : options_(options),
      engine_(engine),
      own_routes_(routes == nullptr ? std::make_unique<TProxyRoutes>() : nullptr),
      routes_(routes == nullptr ? own_routes_.get() : routes) {
    prepare_http_clients();
    curl_.reset(curl_easy_init());
    if (!curl_)
        throw TError("The HTTP client cannot be created");
    configure(curl_.get(), options);
    if (share != nullptr)
        set_option(curl_.get(), CURLOPT_SHARE, share->handle());
    set_option(curl_.get(), CURLOPT_WRITEFUNCTION, &THttpClient::on_body);
    set_option(curl_.get(), CURLOPT_XFERINFOFUNCTION, &THttpClient::on_progress);
    set_option(curl_.get(), CURLOPT_NOPROGRESS, 0L);
}

THttpClient::~THttpClient() = default;

void THttpClient::start_head(const std::string& url, TDone done) {
    set_option(curl_.get(), CURLOPT_NOBODY, 1L);
    launch(url, std::make_unique<TTransfer>(*this, nullptr, std::move(done)));
}

void THttpClient::start_get(const std::string& url, TReceiver receive, TStarter start,
                            std::int64_t from, const std::string& if_range, TDone done) {
    set_option(curl_.get(), CURLOPT_HTTPGET, 1L);
    auto transfer = std::make_unique<TTransfer>(*this, std::move(receive), std::move(done));
    transfer->start = std::move(start);
    transfer->from = from;
    // The handle goes on to other transfers: the range and its header are for this one only.
    try {
        if (from > 0) {
            const std::string line = "If-Range: " + if_range;
            range_header_.reset(curl_slist_append(nullptr, line.c_str()));
            if (!range_header_)
                throw TError("Out of memory");
            set_option(curl_.get(), CURLOPT_RANGE, (std::to_string(from) + "-").c_str());
            set_option(curl_.get(), CURLOPT_HTTPHEADER, range_header_.get());
        }
        launch(url, std::move(transfer));
    } catch (...) {
        clear_range();
        throw;
    }
}

void THttpClient::clear_range() {
    curl_easy_setopt(curl_.get(), CURLOPT_RANGE, nullptr);
    curl_easy_setopt(curl_.get(), CURLOPT_HTTPHEADER, nullptr);
    range_header_.reset();
}

// A range answer must start where it was asked to; any other 2xx answer is the whole copy.
TBodyStart THttpClient::body_start(TTransfer& transfer) {
    transfer.status_checked = true;
    TBodyStart start;
    start.copy.validator = validator_of(transfer.curl);
    if (response_status(transfer.curl) == 206) {
        const auto range = content_range(transfer.curl);
        if (transfer.from == 0 || !range || range->first != transfer.from)
            throw TError(kWrongRange);
        start.offset = range->first;
        start.copy.length = range->second;
    } else {
        start.copy.length = announced_length(transfer.curl);
    }
    return start;
}

void THttpClient::begin_body(TTransfer& transfer) {
    const TBodyStart start = body_start(transfer);
    if (transfer.start)
        transfer.start(start);
}

// The body of an answer that is not 2xx (an error page, a redirect notice) never reaches the
// receiver.
std::size_t THttpClient::on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<TTransfer*>(user);
    if (!transfer.status_checked && !is_success(response_status(transfer.curl)))
        return CURL_WRITEFUNC_ERROR;
    try {
        if (!transfer.status_checked)
            begin_body(transfer);
        transfer.receive(data, size * count);
    } catch (...) {
        transfer.receive_error = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
}

// Called at least once a second, also while nothing arrives, and also while the transfer waits
// for a connection. The stall rule's clock starts, with nothing moved, once the transfer has its
// connection and its request goes out: a server that never answers is judged like one that
// stopped, a transfer that waited for its turn is not, and connecting has its own time limit.
// Over a multiplexed connection the streams share what the link carries, however many they are:
// one that moves too little by itself stalls only when the connection does too.
int THttpClient::on_progress(void* user, std::int64_t, std::int64_t received, std::int64_t,
                             std::int64_t sent) {
    auto& transfer = *static_cast<TTransfer*>(user);
    if (transfer.client.stop_.stop_requested())
        return 1;
    const std::int64_t moved = received + sent;
    const bool link_moving = shares_moving_link(transfer, moved, received);
    const auto link_received = transfer.link != nullptr ? transfer.link->last_received
                                                        : TAnswerWatch::TClock::time_point{};
    if (!transfer.answer.in_time(transfer.curl, link_received)) {
        transfer.unanswered = true;
        return 1;
    }
    if (!transfer.requested) {
        curl_off_t before_request = 0;
        curl_easy_getinfo(transfer.curl, CURLINFO_PRETRANSFER_TIME_T, &before_request);
        transfer.requested = before_request > 0;
    }
    if (transfer.requested && !transfer.stall.moving(moved) && !link_moving) {
        transfer.stalled = true;
        return 1;
    }
    return 0;
}

// On the engine's thread: the transfer joins its server's link once the server is known to
// multiplex (from an earlier transfer, or from an answer over HTTP/2 to this one or to another
// one under way), counting only what it moves and receives from then on; false while it has not
// joined.
bool THttpClient::shares_moving_link(TTransfer& transfer, std::int64_t moved,
                                     std::int64_t received) {
    if (transfer.link == nullptr && !transfer.origin.empty()) {
        TTransferEngine& engine = transfer.client.engine_;
        transfer.link = engine.link(transfer.origin);
        long version = 0;
        if (transfer.link == nullptr)
            curl_easy_getinfo(transfer.curl, CURLINFO_HTTP_VERSION, &version);
        if (transfer.server_multiplexes || version == CURL_HTTP_VERSION_2_0) {
            transfer.link = &engine.open_link(transfer.origin, transfer.options.min_rate,
                                              transfer.options.stall_window);
        }
        transfer.counted = moved;
        transfer.received = received;
    }
    if (transfer.link == nullptr)
        return false;
    transfer.link->moved += moved - std::exchange(transfer.counted, moved);
    if (received > std::exchange(transfer.received, received))
        transfer.link->last_received = std::chrono::steady_clock::now();
    return transfer.link->watch.moving(transfer.link->moved);
}

// Every request sets the proxy, so none goes the way of an earlier one, and none reads the
// environment but through the routes. HTTPS goes through a proxy with CONNECT, the origin's
// certificate verified as on a direct connection. A proxy address with a user and password gets
// Basic; a setting without them gets the logged-on user's credentials (Negotiate, NTLM).
void THttpClient::take_route(const std::string& url) {
    CURL* curl = curl_.get();
    TProxyRoutes::TChoice choice = routes_->route_for(url);
    if (choice.note)
        notes_.push_back(std::move(*choice.note));
    proxy_ = choice.route.proxy;
    set_option(curl, CURLOPT_PROXY, proxy_.c_str());
    // The routes applied no_proxy already; the HTTP library must not apply it again.
    set_option(curl, CURLOPT_NOPROXY, "");
    if (choice.route.system_credentials) {
        set_option(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_NEGOTIATE | CURLAUTH_NTLM));
        set_option(curl, CURLOPT_PROXYUSERPWD, ":");
    } else {
        set_option(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        set_option(curl, CURLOPT_PROXYUSERPWD, static_cast<const char*>(nullptr));
    }
}

void THttpClient::launch(const std::string& url, std::unique_ptr<TTransfer> transfer) {
    take_route(url);
    set_option(transfer->curl, CURLOPT_URL, url.c_str());
    set_option(transfer->curl, CURLOPT_WRITEDATA, transfer.get());
    set_option(transfer->curl, CURLOPT_XFERINFODATA, transfer.get());
    set_option(transfer->curl, CURLOPT_ERRORBUFFER, transfer->detail);
    if (const auto server = server_of(url)) {
        transfer->origin = server->origin;
        transfer->server_multiplexes = engine_.multiplexes(url);
    }
    current_ = std::move(transfer);
    try {
        engine_.start(curl_.get(), *current_);
    } catch (...) {
        curl_easy_setopt(curl_.get(), CURLOPT_ERRORBUFFER, nullptr);
        current_.reset();
        throw;
    }
}

// On the engine's thread. Nothing touches the client or the transfer once done is told: done may
// hand the client on.
void THttpClient::complete(int result) {
    std::unique_ptr<TTransfer> transfer = std::move(current_);
    // The buffer lives no longer than the transfer.
    curl_easy_setopt(curl_.get(), CURLOPT_ERRORBUFFER, nullptr);
    std::exception_ptr failure;
    try {
        conclude(*transfer, result);
    } catch (...) {
        failure = std::current_exception();
    }
    clear_range();
    const TDone done = std::move(transfer->done);
    transfer.reset();
    done(failure);
}

// Raises what the transfer's end means for the caller; after a head, takes what it found.
void THttpClient::conclude(TTransfer& transfer, int code) {
    const auto result = static_cast<CURLcode>(code);
    if (transfer.receive_error)
        std::rethrow_exception(transfer.receive_error);
    long proxy_status = 0;
    curl_easy_getinfo(transfer.curl, CURLINFO_HTTP_CONNECTCODE, &proxy_status);
    const long status = response_status(transfer.curl);
    if (!proxy_.empty() && (status == 407 || proxy_status >= 300)) {
        throw TError(format(kProxyRefused,
                            {proxy_without_password(proxy_),
                             static_cast<std::int64_t>(status == 407 ? status : proxy_status)}));
    }
    if (status != 0 && !is_success(status))
        throw THttpStatusError(format(kStatusRefused, {static_cast<std::int64_t>(status)}));
    if (transfer.unanswered)
        throw TNoAnswerError(format(kNoAnswer, {whole_seconds(options_.answer_timeout)}));
    if (transfer.stalled) {
        throw TStalledError(
            format(kStalled, {options_.min_rate, whole_seconds(options_.stall_window)}));
    }
    if (result == CURLE_COULDNT_CONNECT || result == CURLE_OPERATION_TIMEDOUT)
        throw TNoAnswerError(failure_reason(result, transfer.detail, proxy_));
    if (result != CURLE_OK)
        throw TError(failure_reason(result, transfer.detail, proxy_));
    if (!transfer.receive) {
        copy_ = {announced_length(transfer.curl), validator_of(transfer.curl)};
        return;
    }
    // An empty body begins too.
    if (!transfer.status_checked)
        begin_body(transfer);
}

}  // namespace qiv_start::core
