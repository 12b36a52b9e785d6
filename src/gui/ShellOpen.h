#pragma once

#include <string>

namespace quiltara {

// The maker's mail address, used by the About dialog's mail link.
inline constexpr const char* kMakerMailAddress = "quiltara@example.org";

// The donation page: a payment service's donation script with the payee's
// account and the product, currency and amount in its query.
inline constexpr const char* kDonationUrl =
    "https://payments.example.org/us/cgi-bin/webscr?cmd=_xclick&business=donate@example.org"
    "&item_name=Quiltara&currency_code=USD&amount=5";

// Asks the desktop to open a web or mail address with its default handler.
// The program goes on at once; a failure (no browser, no mail program) is silent.
void ShellOpen(const std::string& address);

// Shows a local folder in the desktop's file manager, the same way.
void ShellOpenFolder(const std::string& folder);

// Opens a local file (a map image) in the desktop's program for it, the same way.
void ShellOpenFile(const std::string& path);

// Opens the donation page.
void OpenDonationPage();

} // namespace quiltara
