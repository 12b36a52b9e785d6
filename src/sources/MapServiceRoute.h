#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quiltara {

// The host names of the shipped offline demo source ("a.offline-demo.localhost",
// ...): requests for them go where the map service's go.
inline constexpr const char* kOfflineDemoDomain = "offline-demo.localhost";
inline constexpr const char* kOfflineDemoSubdomains = "abc";

// Sends every request for the map service's host names to one other address
// (the bundled offline map service), while the program keeps the real
// addresses everywhere else: in the site list, the site check, the source URL
// templates and the probe. Requests for any other host go where they name.
class MapServiceRoute {
public:
    // Reads "HOST:PORT" (an IPv6 host in brackets: "[::1]:8080"); nothing,
    // with the reason in error, when it is not one.
    static std::optional<MapServiceRoute> Parse(std::string_view hostPort, std::string& error);

    // The host names of the map service: those of the preset sites and of the
    // default source URL templates for server numbers 0 to 3, lower case;
    // then those of the offline demo source.
    static const std::vector<std::string>& ServiceHosts();
    // Whether host (without a port; any case) is one of them.
    static bool IsServiceHost(std::string_view host);

    const std::string& Host() const { return host_; }
    int Port() const { return port_; }

    // libcurl connect-to entries ("mt0.google.com::HOST:PORT"): the request
    // keeps its URL and Host header and only the connection goes elsewhere,
    // so the offline service still sees which tile server was asked.
    std::vector<std::string> ConnectToEntries() const;

    // The address the embedded browser loads instead of url, or nothing when
    // url is not for the map service. For a service on this machine's
    // 127.0.0.1 the host name is kept in front of ".localhost" (which the
    // browser sends to 127.0.0.1), so the service still sees it; any other
    // address is used as it stands.
    std::optional<std::string> Redirect(std::string_view url) const;
    // The same rule as a table: each service host name and the origin
    // ("http://HOST:PORT") its requests go to, for a front end that redirects
    // by host alone.
    std::map<std::string, std::string> RedirectOrigins() const;

private:
    std::string OriginFor(const std::string& serviceHost) const;

    MapServiceRoute(std::string host, int port) : host_(std::move(host)), port_(port) {}

    std::string host_; // as given, brackets of an IPv6 address included
    int port_ = 0;
};

} // namespace quiltara
