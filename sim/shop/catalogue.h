// The shop's pages and database files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "sim/shop/z31shop.h"

namespace z31sim {

struct CataloguePageParts {
    std::string html;
    std::vector<CatalogueLink> links;  // every anchor, in page order
};

std::string HtmlEscape(std::string_view s);
std::string DatabaseHrefFor(const std::string& public_host, const ShopDatabase& db,
                            bool serial = false);
// The logged-in page lists `databases` (with `serial`, `serial_databases` as ".mob" files); a
// guest's page has the login form and no anchors.
CataloguePageParts BuildCatalogue(const ShopConfig& cfg, bool logged_in, bool serial = false);

std::string LoginOkPage(const std::string& email);
std::string LoginFailedPage();
std::string LogoutPage();
std::string ForgottenPasswordPage();
std::string StatusPage(int status);
std::string RedirectPage(const std::string& location);

}  // namespace z31sim
