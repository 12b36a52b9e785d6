#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quiltara {

class SettingsStore;

// The settings store's text naming the proxy of the window's downloads.
inline constexpr const char* kProxySetting = "Proxy";
// The word that stands for "no proxy at all" in that text and in --proxy.
inline constexpr const char* kDirectProxyWord = "direct";

// How a client's requests reach the servers.
struct ProxyChoice {
    enum class Kind {
        Environment, // through the proxy libcurl's variables name (http_proxy, ...)
        Direct,      // straight to the servers, whatever the environment says
        Given,       // through url, unless no_proxy names the server's host
    };
    Kind kind = Kind::Environment;
    std::string url;    // Given: as the user wrote it, credentials included
    std::string origin; // Given: where the user gave it, for messages ("--proxy")

    static ProxyChoice Through(std::string url, std::string origin) {
        return {Kind::Given, std::move(url), std::move(origin)};
    }
    static ProxyChoice None() { return {Kind::Direct, {}, {}}; }
};

// Reads a proxy as the user gives it: "direct" (any case) is no proxy,
// anything else a proxy's address, "HOST:PORT" or a URL with one of the
// schemes libcurl takes (http, https, socks4, socks4a, socks5, socks5h),
// optionally "USER:PASSWORD@" before the host. Blanks around it are
// dropped; an empty text is emptyMeans. Nothing, with the reason in why,
// when it is no such thing.
std::optional<ProxyChoice> ReadProxyText(const std::string& text, const std::string& origin,
                                         ProxyChoice::Kind emptyMeans, std::string& why);

// The Proxy setting: empty or absent means the environment. A stored text
// that is no proxy's address is still tried, so that the run's message
// names it rather than the setting being ignored without a word.
ProxyChoice ProxySetting(SettingsStore& settings, const std::string& origin);

// A proxy's address fit to show: the user name and password, when it has
// them, replaced by "***" ("http://***@proxy:3128").
std::string MaskedProxy(const std::string& url);

// Reads an environment variable; nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
// The process's own environment.
std::optional<std::string> ProcessEnvironment(const char* name);

// The proxy a request for url goes through, and where it was named.
struct ProxyRoute {
    std::string url;    // as written, credentials included; hand it to libcurl only
    std::string origin; // "from http_proxy", "from --proxy"
};

// Which proxy, if any, libcurl uses for a request to host (lower case, an
// IPv6 address in brackets) by scheme (lower case) under choice, by
// libcurl's own reading of the environment: http_proxy (lower case only)
// for http, https_proxy or HTTPS_PROXY for https, then all_proxy or
// ALL_PROXY; none at all for a host that no_proxy or NO_PROXY names. An
// empty variable counts as unset. A given proxy is bypassed by no_proxy too.
std::optional<ProxyRoute> ProxyFor(const std::string& scheme, const std::string& host,
                                   const ProxyChoice& choice,
                                   const EnvironmentLookup& environment = ProcessEnvironment);

// Whether a no_proxy list names host (lower case, an IPv6 address in
// brackets): "*" names every host; otherwise names separated by commas or
// blanks, each matching itself and every host under it (".example.com" and
// "example.com" alike), and IP addresses, optionally with a /BITS prefix.
bool NoProxyNames(const std::string& host, const std::string& list);

} // namespace quiltara
