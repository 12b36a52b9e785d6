#include "sources/MapServiceRoute.h"

#include <algorithm>
#include <cctype>

#include "sources/SiteChoice.h"
#include "tiles/MapLayer.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

// The server numbers the retries try.
constexpr int kServerNumbers = 4;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool IsHostNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-';
}

bool IsValidHost(std::string_view host) {
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        return std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
            return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
        });
    }
    return !host.empty() && std::all_of(host.begin(), host.end(), IsHostNameChar);
}

// The parts of an absolute http or https URL around its host.
struct UrlParts {
    std::string host;     // lower case, without port
    std::string pathPart; // from the first '/', '?' or '#' after the authority on
};

std::optional<UrlParts> SplitUrl(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string schemeName = Lower(url.substr(0, scheme));
    if (schemeName != "http" && schemeName != "https") {
        return std::nullopt;
    }
    const std::string_view rest = url.substr(scheme + 3);
    const auto authorityEnd = rest.find_first_of("/?#");
    const std::string_view authority = rest.substr(0, authorityEnd);
    if (authority.find('@') != std::string_view::npos || authority.find('[') == 0) {
        // No service address carries credentials or an IPv6 literal.
        return std::nullopt;
    }
    std::string_view host = authority.substr(0, authority.find(':'));
    if (!host.empty() && host.back() == '.') {
        host.remove_suffix(1); // "maps.google.com." names the same host
    }
    UrlParts parts;
    parts.host = Lower(host);
    parts.pathPart =
        authorityEnd == std::string_view::npos ? "/" : std::string(rest.substr(authorityEnd));
    if (parts.pathPart.front() != '/') {
        parts.pathPart.insert(0, "/");
    }
    return parts;
}

} // namespace

std::optional<MapServiceRoute> MapServiceRoute::Parse(std::string_view hostPort,
                                                      std::string& error) {
    const auto colon = hostPort.rfind(':');
    if (colon == std::string_view::npos) {
        error = "'" + std::string(hostPort) + "' is not HOST:PORT";
        return std::nullopt;
    }
    const std::string_view host = hostPort.substr(0, colon);
    const std::string_view portText = hostPort.substr(colon + 1);
    if (!IsValidHost(host)) {
        error = "'" + std::string(host) + "' is not a host name or address";
        return std::nullopt;
    }
    int port = 0;
    const bool digitsOnly = !portText.empty() && portText.size() <= 5 &&
                            std::all_of(portText.begin(), portText.end(), [](char c) {
                                return std::isdigit(static_cast<unsigned char>(c)) != 0;
                            });
    if (digitsOnly) {
        port = std::stoi(std::string(portText));
    }
    if (port < 1 || port > 65535) {
        error = "'" + std::string(portText) + "' is not a port number from 1 to 65535";
        return std::nullopt;
    }
    return MapServiceRoute(std::string(host), port);
}

const std::vector<std::string>& MapServiceRoute::ServiceHosts() {
    static const std::vector<std::string> kHosts = [] {
        std::vector<std::string> hosts;
        const auto add = [&hosts](const std::string& host) {
            const std::string lower = Lower(host);
            if (std::find(hosts.begin(), hosts.end(), lower) == hosts.end()) {
                hosts.push_back(lower);
            }
        };
        for (const std::string& site : PresetSites()) {
            add(SiteHost(site));
        }
        for (MapLayer layer : kAllLayers) {
            for (int number = 0; number < kServerNumbers; ++number) {
                add(SiteHost(ExpandSourceUrl(DefaultSourceTemplate(layer), std::to_string(number),
                                             0, 0, 0, "", 1)));
            }
        }
        add(kOfflineDemoDomain);
        for (const char* label = kOfflineDemoSubdomains; *label != '\0'; ++label) {
            add(std::string(1, *label) + "." + kOfflineDemoDomain);
        }
        return hosts;
    }();
    return kHosts;
}

bool MapServiceRoute::IsServiceHost(std::string_view host) {
    const std::vector<std::string>& hosts = ServiceHosts();
    return std::find(hosts.begin(), hosts.end(), Lower(host)) != hosts.end();
}

std::vector<std::string> MapServiceRoute::ConnectToEntries() const {
    std::vector<std::string> entries;
    for (const std::string& host : ServiceHosts()) {
        // An empty port between the two colons matches every port.
        entries.push_back(host + "::" + host_ + ":" + std::to_string(port_));
    }
    return entries;
}

std::optional<std::string> MapServiceRoute::Redirect(std::string_view url) const {
    const std::optional<UrlParts> parts = SplitUrl(url);
    if (!parts || !IsServiceHost(parts->host)) {
        return std::nullopt;
    }
    return OriginFor(parts->host) + parts->pathPart;
}

std::map<std::string, std::string> MapServiceRoute::RedirectOrigins() const {
    std::map<std::string, std::string> origins;
    for (const std::string& host : ServiceHosts()) {
        origins.emplace(host, OriginFor(host));
    }
    return origins;
}

std::string MapServiceRoute::OriginFor(const std::string& serviceHost) const {
    const std::string target = host_ == "127.0.0.1" || Lower(host_) == "localhost"
                                   ? serviceHost + ".localhost"
                                   : host_;
    return "http://" + target + ":" + std::to_string(port_);
}

} // namespace quiltara
