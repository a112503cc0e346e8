#include "core/download/http_client.h"

#include <curl/curl.h>

#include <exception>

#include "core/support/error.h"
#include "core/support/format.h"

namespace qiv_start::core {
namespace {

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
void configure(CURL* curl, const TTransportOptions& options) {
    set_option(curl, CURLOPT_NOSIGNAL, 1L);
    set_option(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    set_option(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set_option(curl, CURLOPT_DEFAULT_PROTOCOL, "http");
    // Servers are reached directly; proxy variables in the environment are not a setting of ours.
    set_option(curl, CURLOPT_PROXY, "");
    set_option(curl, CURLOPT_FOLLOWLOCATION, 0L);
    set_option(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set_option(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    set_option(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    set_option(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.ca_file.empty())
        set_option(curl, CURLOPT_CAINFO, options.ca_file.c_str());
    else  // the system's store: on Windows its certificate store, elsewhere OpenSSL's
        set_option(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
    set_option(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connect_timeout.count()));
    set_option(curl, CURLOPT_LOW_SPEED_LIMIT, options.low_speed_limit);
    set_option(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.low_speed_time.count()));
    set_option(curl, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
}

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

struct THttpClient::TTransfer {
    TTransfer(CURL* handle, const TReceiver* receiver) : curl(handle), receive(receiver) {}

    CURL* curl;
    const TReceiver* receive;
    bool status_checked = false;
    std::exception_ptr receive_error;
};

void THttpClient::TCurlDeleter::operator()(void* handle) const {
    curl_easy_cleanup(handle);
}

THttpClient::THttpClient(const TTransportOptions& options, THttpShare* share) {
    prepare_http_clients();
    curl_.reset(curl_easy_init());
    if (!curl_)
        throw TError("The HTTP client cannot be created");
    configure(curl_.get(), options);
    if (share != nullptr)
        set_option(curl_.get(), CURLOPT_SHARE, share->handle());
    set_option(curl_.get(), CURLOPT_WRITEFUNCTION, &THttpClient::on_body);
    set_option(curl_.get(), CURLOPT_XFERINFOFUNCTION, &THttpClient::on_progress);
    set_option(curl_.get(), CURLOPT_XFERINFODATA, this);
    set_option(curl_.get(), CURLOPT_NOPROGRESS, 0L);
}

THttpClient::~THttpClient() = default;

std::int64_t THttpClient::head(const std::string& url) {
    set_option(curl_.get(), CURLOPT_NOBODY, 1L);
    TTransfer transfer(curl_.get(), nullptr);
    perform(url, transfer);
    curl_off_t length = -1;
    curl_easy_getinfo(curl_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

void THttpClient::get(const std::string& url, const TReceiver& receive) {
    set_option(curl_.get(), CURLOPT_HTTPGET, 1L);
    TTransfer transfer(curl_.get(), &receive);
    perform(url, transfer);
}

// The body of an answer that is not 2xx (an error page, a redirect notice) never reaches the
// receiver.
std::size_t THttpClient::on_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<TTransfer*>(user);
    if (!transfer.status_checked) {
        if (!is_success(response_status(transfer.curl)))
            return CURL_WRITEFUNC_ERROR;
        transfer.status_checked = true;
    }
    try {
        (*transfer.receive)(data, size * count);
    } catch (...) {
        transfer.receive_error = std::current_exception();
        return CURL_WRITEFUNC_ERROR;
    }
    return size * count;
}

int THttpClient::on_progress(void* client, std::int64_t, std::int64_t, std::int64_t, std::int64_t) {
    return static_cast<THttpClient*>(client)->stop_.stop_requested() ? 1 : 0;
}

void THttpClient::perform(const std::string& url, TTransfer& transfer) {
    set_option(transfer.curl, CURLOPT_URL, url.c_str());
    set_option(transfer.curl, CURLOPT_WRITEDATA, &transfer);
    const CURLcode result = curl_easy_perform(transfer.curl);
    if (transfer.receive_error)
        std::rethrow_exception(transfer.receive_error);
    const long status = response_status(transfer.curl);
    if (status != 0 && !is_success(status)) {
        throw TError(format("%0:s: HTTP status %1:d", {url, static_cast<std::int64_t>(status)}));
    }
    if (result != CURLE_OK)
        throw TError(format("%0:s: %1:s", {url, curl_easy_strerror(result)}));
}

}  // namespace qiv_start::core
