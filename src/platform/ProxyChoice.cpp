#include "platform/ProxyChoice.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/SettingsStore.h"

namespace quiltara {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

constexpr std::array<std::string_view, 6> kProxySchemes = {"http",    "https",  "socks4",
                                                           "socks4a", "socks5", "socks5h"};

// Where the part after the scheme begins, and where the host and port end.
struct AddressParts {
    std::size_t authority = 0;
    std::size_t end = 0;
};

AddressParts Split(const std::string& url) {
    const auto scheme = url.find("://");
    AddressParts parts;
    parts.authority = scheme == std::string::npos ? 0 : scheme + 3;
    parts.end = std::min(url.find_first_of("/?#", parts.authority), url.size());
    return parts;
}

bool IsPort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int port = std::atoi(std::string(text).c_str());
    return port >= 1 && port <= 65535;
}

// What keeps text from being a proxy's address; nothing when it is one.
std::optional<std::string> AddressProblem(const std::string& text) {
    if (std::any_of(text.begin(), text.end(),
                    [](unsigned char c) { return c <= ' ' || c == 0x7f; })) {
        return "it has blanks or control characters in it";
    }
    if (const auto scheme = text.find("://"); scheme != std::string::npos) {
        const std::string name = Lower(text.substr(0, scheme));
        if (std::find(kProxySchemes.begin(), kProxySchemes.end(), name) == kProxySchemes.end()) {
            return "a proxy's address starts with http://, https://, socks4://, socks4a://, "
                   "socks5:// or socks5h://, or with its host";
        }
    }
    const AddressParts parts = Split(text);
    std::string_view hostPort(text.data() + parts.authority, parts.end - parts.authority);
    if (const auto at = hostPort.rfind('@'); at != std::string_view::npos) {
        hostPort.remove_prefix(at + 1);
    }
    std::string_view host = hostPort;
    std::string_view port;
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos ||
            (close + 1 < hostPort.size() && hostPort[close + 1] != ':')) {
            return "an IPv6 address goes in brackets: [::1]:3128";
        }
        host = hostPort.substr(1, close - 1);
        port = close + 1 < hostPort.size() ? hostPort.substr(close + 2) : std::string_view();
        if (close + 1 < hostPort.size() && port.empty()) {
            return "the port is missing after ':'";
        }
    } else if (const auto colon = hostPort.find(':'); colon != std::string_view::npos) {
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
        if (port.empty()) {
            return "the port is missing after ':'";
        }
    }
    if (host.empty()) {
        return "it names no host";
    }
    if (!port.empty() && !IsPort(port)) {
        return "its port is no number from 1 to 65535";
    }
    return std::nullopt;
}

// A set variable: an empty one counts as unset, as libcurl has it.
std::optional<std::string> Variable(const EnvironmentLookup& environment, const char* name) {
    std::optional<std::string> value = environment(name);
    if (value && value->empty()) {
        value.reset();
    }
    return value;
}

// Whether the IPv4 or IPv6 address host lies in the network token names
// ("192.168.0.0/16", "::1"); a token without bits names one address.
bool AddressIn(const std::string& host, int family, std::string token) {
    std::size_t size = family == AF_INET ? 4 : 16;
    int bits = static_cast<int>(size) * 8;
    if (const auto slash = token.find('/'); slash != std::string::npos) {
        const int given = std::atoi(token.c_str() + slash + 1);
        if (given > 0) {
            bits = given;
        }
        token.resize(slash);
    }
    std::array<unsigned char, 16> address{};
    std::array<unsigned char, 16> network{};
    if (bits > static_cast<int>(size) * 8 || inet_pton(family, host.c_str(), address.data()) != 1 ||
        inet_pton(family, token.c_str(), network.data()) != 1) {
        return false;
    }
    const auto wholeBytes = static_cast<std::size_t>(bits / 8);
    if (std::memcmp(address.data(), network.data(), wholeBytes) != 0) {
        return false;
    }
    const int rest = bits % 8;
    if (rest == 0) {
        return true;
    }
    const auto mask = static_cast<unsigned char>(0xff << (8 - rest));
    return (address[wholeBytes] & mask) == (network[wholeBytes] & mask);
}

bool NameIn(std::string_view name, std::string_view token) {
    if (token.ends_with('.')) {
        token.remove_suffix(1);
    }
    if (token.starts_with('.')) {
        token.remove_prefix(1);
    }
    if (token.empty() || token.size() > name.size()) {
        return false;
    }
    const std::string_view tail = name.substr(name.size() - token.size());
    return Lower(tail) == Lower(token) &&
           (tail.size() == name.size() || name[name.size() - token.size() - 1] == '.');
}

} // namespace

std::optional<ProxyChoice> ReadProxyText(const std::string& text, const std::string& origin,
                                         ProxyChoice::Kind emptyMeans, std::string& why) {
    const std::string address = Trimmed(text);
    if (address.empty()) {
        return ProxyChoice{emptyMeans, {}, {}};
    }
    if (Lower(address) == kDirectProxyWord) {
        return ProxyChoice::None();
    }
    if (const std::optional<std::string> problem = AddressProblem(address)) {
        why = "'" + MaskedProxy(address) + "' is no proxy's address: " + *problem;
        return std::nullopt;
    }
    return ProxyChoice::Through(address, origin);
}

ProxyChoice ProxySetting(SettingsStore& settings, const std::string& origin) {
    const std::string text = settings.GetString(kProxySetting, "");
    std::string why;
    if (std::optional<ProxyChoice> choice =
            ReadProxyText(text, origin, ProxyChoice::Kind::Environment, why)) {
        return *choice;
    }
    return ProxyChoice::Through(Trimmed(text), origin);
}

std::string MaskedProxy(const std::string& url) {
    const AddressParts parts = Split(url);
    const auto at = url.rfind('@', parts.end == 0 ? 0 : parts.end - 1);
    if (at == std::string::npos || at < parts.authority || parts.end == parts.authority) {
        return url;
    }
    return url.substr(0, parts.authority) + "***" + url.substr(at);
}

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::nullopt : std::optional<std::string>(value);
}

std::optional<ProxyRoute> ProxyFor(const std::string& scheme, const std::string& host,
                                   const ProxyChoice& choice,
                                   const EnvironmentLookup& environment) {
    if (choice.kind == ProxyChoice::Kind::Direct) {
        return std::nullopt;
    }
    std::optional<std::string> bypass = Variable(environment, "no_proxy");
    if (!bypass) {
        bypass = Variable(environment, "NO_PROXY");
    }
    if (bypass && NoProxyNames(host, *bypass)) {
        return std::nullopt;
    }
    if (choice.kind == ProxyChoice::Kind::Given) {
        return ProxyRoute{choice.url, "from " + choice.origin};
    }
    // Never HTTP_PROXY: in a CGI program that variable is the request's
    // Proxy header line, which a visitor writes.
    std::string name = Lower(scheme) + "_proxy";
    std::optional<std::string> proxy = Variable(environment, name.c_str());
    if (!proxy && name != "http_proxy") {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        proxy = Variable(environment, name.c_str());
    }
    for (const char* fallback : {"all_proxy", "ALL_PROXY"}) {
        if (!proxy) {
            name = fallback;
            proxy = Variable(environment, fallback);
        }
    }
    if (!proxy) {
        return std::nullopt;
    }
    return ProxyRoute{*proxy, "from " + name};
}

bool NoProxyNames(const std::string& host, const std::string& list) {
    if (host.empty() || list.empty()) {
        return false;
    }
    if (list == "*") {
        return true;
    }
    std::string name = host;
    int family = 0;
    std::array<unsigned char, 16> ignored{};
    if (name.starts_with('[')) {
        const auto close = name.find(']');
        if (close == std::string::npos) {
            return false;
        }
        name = name.substr(1, close - 1);
        family = AF_INET6;
    } else if (inet_pton(AF_INET, name.c_str(), ignored.data()) == 1) {
        family = AF_INET;
    } else if (name.ends_with('.')) {
        name.pop_back();
    }
    std::size_t at = 0;
    while (at < list.size()) {
        while (at < list.size() && (IsBlank(list[at]) || list[at] == ',')) {
            ++at;
        }
        const std::size_t start = at;
        while (at < list.size() && !IsBlank(list[at]) && list[at] != ',') {
            ++at;
        }
        const std::string token = list.substr(start, at - start);
        if (token.empty()) {
            continue;
        }
        if (family == 0 ? NameIn(name, token) : AddressIn(name, family, token)) {
            return true;
        }
    }
    return false;
}

} // namespace quiltara
