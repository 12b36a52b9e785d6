#include "sources/SourcePageRequests.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// More of a body than this tells nothing more about what the server sends.
constexpr std::size_t kBodyLooked = 4096;

// The host of an http or https address, lower case, without its port.
std::string HostOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    std::string_view authority = url.substr(scheme + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    authority = authority.substr(
        authority.rfind('@') == std::string_view::npos ? 0 : authority.rfind('@') + 1);
    return LowerCase(authority.substr(0, authority.find(':')));
}

bool GoesToSource(const TileSource& source, std::string_view url) {
    const std::string host = HostOf(url);
    if (host.empty()) {
        return false;
    }
    std::vector<std::string> subdomains = source.subdomains;
    if (subdomains.empty()) {
        subdomains.emplace_back();
    }
    for (const SourceLayer& layer : source.layers) {
        for (const std::string& subdomain : subdomains) {
            if (HostOf(layer.tileTemplate.Expand(0, 0, 0, subdomain)) == host) {
                return true;
            }
        }
    }
    return false;
}

class FirstBytes : public HttpBodySink {
public:
    void WriteBlock(std::span<const std::byte> block) override {
        const std::size_t room = kBodyLooked - std::min(kBodyLooked, bytes.size());
        bytes.append(reinterpret_cast<const char*>(block.data()), std::min(room, block.size()));
    }
    std::string bytes;
};

bool StartsWith(const std::string& bytes, std::string_view prefix) {
    return bytes.compare(0, prefix.size(), prefix) == 0;
}

bool IsPicture(const std::string& bytes) {
    return StartsWith(bytes, "\x89PNG\r\n\x1a\n") || StartsWith(bytes, "\xff\xd8\xff") ||
           StartsWith(bytes, "GIF8") ||
           (bytes.size() >= 12 && StartsWith(bytes, "RIFF") && bytes.compare(8, 4, "WEBP") == 0);
}

bool IsWebPage(const std::string& bytes) {
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first != std::string::npos && bytes[first] == '<';
}

const char* StatusName(long status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 410:
            return "Gone";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        case 504:
            return "Gateway Timeout";
        default:
            return nullptr;
    }
}

std::string Answers(long status) {
    const char* name = StatusName(status);
    return FormatText("the server answers %ld", status) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
}

// What to look at, for the status the server answered.
std::string Advice(const TileSource& source, long status, int zoom, bool picture, bool webPage) {
    const std::string file = source.file.empty() ? "the source file" : source.file.string();
    if (status == 401 || status == 403) {
        return ": it may want a key of yours in the template, or header lines such as a "
               "Referer. Check the template and \"headers\" in " +
               file + " against the service's terms.";
    }
    if (status == 400 || status == 404 || status == 410) {
        return FormatText(
                   " at zoom %i: the service may have no tiles here or at this zoom. "
                   "Check the zoom range (\"minZoom\" %i, \"maxZoom\" %i) and the "
                   "template in ",
                   zoom, source.minZoom, source.maxZoom) +
               file + ".";
    }
    if (status == 429 || status == 503) {
        return ": it asks for fewer requests. Wait a little, and check \"connections\" and "
               "\"rate\" in " +
               file + " against the service's terms.";
    }
    if (status >= 500) {
        return ": the service has trouble; try again later.";
    }
    if (status >= 200 && status <= 299 && !picture) {
        return std::string(", but with ") + (webPage ? "a web page" : "something") +
               " rather than a picture. Check the template (a layer name or a key in it) in " +
               file + ".";
    }
    if (status >= 200 && status <= 299) {
        return ", and a picture, to Quiltara's own request. Check the header lines "
               "(\"headers\") in " +
               file + ": the page sends the same.";
    }
    return ". Check the template in " + file + ".";
}

} // namespace

std::vector<std::pair<std::string, std::string>> PageRequestHeaders(const TileSource& source,
                                                                    std::string_view url) {
    std::vector<std::pair<std::string, std::string>> headers;
    if (!GoesToSource(source, url)) {
        return headers;
    }
    for (const std::string& line : source.RequestHeaders()) {
        const std::size_t colon = line.find(':');
        const std::size_t value = line.find_first_not_of(" \t", colon + 1);
        headers.emplace_back(line.substr(0, colon),
                             value == std::string::npos ? std::string() : line.substr(value));
    }
    return headers;
}

TileCheck CheckTileAddress(const TileSource& source, const std::string& url, HttpClient& http) {
    TileCheck check;
    FirstBytes body;
    try {
        check.status = http.Get(url, source.RequestHeaders(), body).status;
    } catch (const HttpConnectionError& error) {
        check.failure = error.Reason();
        return check;
    }
    check.picture = IsPicture(body.bytes);
    check.webPage = IsWebPage(body.bytes);
    return check;
}

std::optional<std::string> TileProblemText(const TileSource& source, const std::string& url,
                                           const TileCheck& check) {
    for (const SourceLayer& layer : source.layers) {
        const std::optional<TileMatch> tile = layer.tileTemplate.Match(url, source.subdomains);
        if (!tile) {
            continue;
        }
        const std::string what = "Tiles of '" + layer.name + "' do not load: ";
        if (check.status == 0) {
            return what + HostOf(url) + " does not answer (" + check.failure +
                   "). Check the address in the template and the connection.";
        }
        return what + Answers(check.status) +
               Advice(source, check.status, tile->zoom, check.picture, check.webPage);
    }
    return std::nullopt;
}

} // namespace quiltara
