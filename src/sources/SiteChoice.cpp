#include "sources/SiteChoice.h"

#include <algorithm>
#include <cctype>

namespace quiltara {

const std::vector<std::string>& PresetSites() {
    static const std::vector<std::string> kSites = {
        "http://maps.google.com",   "http://maps.google.co.uk",  "http://maps.google.cn",
        "http://maps.google.co.jp", "http://maps.google.com.tw",
    };
    return kSites;
}

const std::string& DefaultSite() {
    return PresetSites().front();
}

std::string SiteHost(const std::string& address) {
    const auto scheme = address.find("://");
    const std::string::size_type start = scheme == std::string::npos ? 0 : scheme + 3;
    const auto end = address.find('/', start);
    return address.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

CheckedSite CheckSiteAddress(std::string address) {
    if (!address.empty() && address.back() == '/') {
        address.pop_back();
    }
    std::string upper = address;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper.find("GOOGLE.") != std::string::npos) {
        return {std::move(address), {}};
    }
    return {DefaultSite(),
            "Sorry, couldnt recognise the format of the URL entered.  Images will be downloaded "
            "from " +
                SiteHost(DefaultSite()) + " instead"};
}

} // namespace quiltara
