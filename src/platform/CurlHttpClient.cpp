#include "platform/CurlHttpClient.h"

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <string>

namespace quiltara {
namespace {

// libcurl's process-wide set-up, done once before the first handle.
void InitialiseCurlOnce() {
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

HeaderList MakeHeaderList(const std::vector<std::string>& lines) {
    HeaderList list;
    for (const std::string& line : lines) {
        curl_slist* grown = curl_slist_append(list.get(), line.c_str());
        if (grown == nullptr) {
            throw std::bad_alloc();
        }
        list.release();
        list.reset(grown);
    }
    return list;
}

// What one transfer's callbacks share. A callback must never let an
// exception unwind through libcurl, so a sink's exception is kept here and
// thrown again once curl_easy_perform has returned.
struct Transfer {
    HttpBodySink* sink = nullptr;
    unsigned long long bodyBytes = 0;
    std::exception_ptr sinkError;
    bool withdrawn = false;
};

// libcurl calls this often during a transfer, and about once a second while
// nothing arrives: a stop ends even a stalled transfer within a second.
int OnProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* transfer = static_cast<Transfer*>(userData);
    if (transfer->sink->StopRequested()) {
        transfer->withdrawn = true;
        return 1; // CURLE_ABORTED_BY_CALLBACK
    }
    return 0;
}

size_t ReceiveBody(char* data, size_t size, size_t count, void* userData) {
    auto* transfer = static_cast<Transfer*>(userData);
    const size_t total = size * count;
    try {
        size_t done = 0;
        while (done < total) {
            const size_t block = std::min(total - done, HttpClient::kMaxBlockSize);
            transfer->sink->WriteBlock(
                std::span<const std::byte>(reinterpret_cast<const std::byte*>(data + done), block));
            done += block;
            transfer->bodyBytes += block;
        }
    } catch (...) {
        transfer->sinkError = std::current_exception();
        return 0; // makes libcurl end the transfer with CURLE_WRITE_ERROR
    }
    return total;
}

bool ResponseBegan(CURL* curl) {
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status != 0;
}

} // namespace

// Owns the one easy handle of a client.
class CurlHttpClient::Easy {
public:
    Easy() : handle_(curl_easy_init()) {
        if (handle_ == nullptr) {
            throw std::runtime_error("curl_easy_init failed");
        }
    }
    ~Easy() { curl_easy_cleanup(handle_); }
    Easy(const Easy&) = delete;
    Easy& operator=(const Easy&) = delete;
    CURL* Get() const { return handle_; }

private:
    CURL* handle_;
};

CurlHttpClient::CurlHttpClient() : CurlHttpClient(Timeouts{}) {}

CurlHttpClient::CurlHttpClient(const Timeouts& timeouts) : timeouts_(timeouts) {
    InitialiseCurlOnce();
    easy_ = std::make_unique<Easy>();
}

CurlHttpClient::~CurlHttpClient() = default;

HttpResult CurlHttpClient::Get(const std::string& url, const std::vector<std::string>& headerLines,
                               HttpBodySink& sink) {
    CURL* curl = easy_->Get();
    // Options of an earlier request are dropped; the connection cache stays.
    curl_easy_reset(curl);
    const HeaderList headers = MakeHeaderList(headerLines);
    const HeaderList connectTo = MakeHeaderList(connectTo_);
    Transfer transfer;
    transfer.sink = &sink;
    char errorText[CURL_ERROR_SIZE] = "";

    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    // Direct connections only, whatever the environment's proxy variables say.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, static_cast<long>(kMaxBlockSize));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeouts_.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeouts_.lowSpeedSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, timeouts_.lowSpeedBytesPerSecond);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, timeouts_.totalSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, ReceiveBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    if (connectTo) {
        curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectTo.get());
    }

    const CURLcode code = curl_easy_perform(curl);
    if (transfer.sinkError) {
        std::rethrow_exception(transfer.sinkError);
    }
    if (transfer.withdrawn) {
        throw RequestWithdrawn(url);
    }
    HttpResult result;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    result.bodyBytes = transfer.bodyBytes;
    result.complete = code == CURLE_OK;
    // libcurl reads both forms of Retry-After (seconds, or a date it turns
    // into seconds from now); 0 means none, or none worth waiting for.
    curl_off_t retryAfter = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0) {
        result.retryAfter = std::chrono::seconds(retryAfter);
    }
    // A body that ends early is an answer like any other: what came is
    // kept, and the caller judges it. Everything else means there was no
    // usable answer, or the server stopped sending.
    const bool endedEarly =
        (code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR) && ResponseBegan(curl);
    if (code != CURLE_OK && !endedEarly) {
        const std::string reason = errorText[0] != '\0' ? errorText : curl_easy_strerror(code);
        throw HttpConnectionError(url, reason);
    }
    return result;
}

} // namespace quiltara
