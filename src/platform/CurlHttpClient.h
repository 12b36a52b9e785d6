#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/HttpClient.h"
#include "platform/ProxyChoice.h"

namespace quiltara {

// HttpClient on libcurl's blocking easy interface. One easy handle lives as
// long as the client, so consecutive requests to the same host reuse one
// connection. Up to ten redirects to http or https URLs are followed; a hop
// to another host (or from https to http) goes without the header lines,
// and the answer after the tenth, or a redirect elsewhere, is the answer.
// Requests go through the proxy SetProxy chose (by default the one the
// environment names, as libcurl reads it); a host sent elsewhere by
// SetConnectTo is always reached directly. A proxy that cannot be reached,
// refuses or wants credentials throws HttpProxyError.
class CurlHttpClient : public HttpClient {
public:
    struct Timeouts {
        long connectSeconds = 30;
        // A transfer slower than lowSpeedBytesPerSecond for lowSpeedSeconds
        // (including a server that never starts answering) is abandoned. A
        // map tile is tens of kilobytes: a server trickling a few bytes a
        // second is not sending one.
        long lowSpeedSeconds = 30;
        long lowSpeedBytesPerSecond = 1024;
        // No single request takes longer than this, however it trickles.
        long totalSeconds = 600;
    };

    CurlHttpClient();
    explicit CurlHttpClient(const Timeouts& timeouts);
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    HttpResult Get(const std::string& url, const std::vector<std::string>& headerLines,
                   HttpBodySink& sink) override;

    // libcurl connect-to entries ("HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT")
    // for every later request: the URL and its Host header stay, only the
    // connection goes to the other address.
    void SetConnectTo(std::vector<std::string> entries) { connectTo_ = std::move(entries); }

    // The proxy of every later request. Credentials in its address are
    // handed to libcurl and never shown: messages mask them.
    void SetProxy(ProxyChoice choice) { proxy_ = std::move(choice); }

private:
    class Easy;

    // One request and its answer, with no redirect followed; redirect is set
    // to where the answer sends the client when mayFollow (its body then
    // went nowhere).
    HttpResult Perform(const std::string& url, const std::vector<std::string>& headerLines,
                       HttpBodySink& sink, bool mayFollow, std::optional<std::string>& redirect);

    std::unique_ptr<Easy> easy_;
    Timeouts timeouts_;
    std::vector<std::string> connectTo_;
    ProxyChoice proxy_;
};

} // namespace quiltara
