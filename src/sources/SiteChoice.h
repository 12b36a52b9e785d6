#pragma once

#include <string>
#include <vector>

namespace quiltara {

inline constexpr const char* kNoSiteMessage = "No site was selected, please enter a site";

// The sites the site chooser offers, in list order: the map service's
// international site, then its national sites for the United Kingdom, China,
// Japan and Taiwan. Each is "http://" and a host name, with no path.
const std::vector<std::string>& PresetSites();

// The international site, used instead of an address that is not recognised.
const std::string& DefaultSite();

// The host name of a site address ("maps.google.com" for
// "http://maps.google.com"): what follows the scheme, up to the first '/'.
std::string SiteHost(const std::string& address);

// What the chosen address becomes before the browser is sent there.
struct CheckedSite {
    std::string address;
    // The message shown when the address was replaced by the default site;
    // empty when the address was recognised.
    std::string fallbackMessage;
};

// One trailing '/' is dropped; an address without "GOOGLE." anywhere in it
// (compared without case) is replaced by the default site.
CheckedSite CheckSiteAddress(std::string address);

} // namespace quiltara
