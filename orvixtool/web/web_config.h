// Where the maker's web shop is: a default host, overridable per user (registry value "Host" and
// "Port" under "SOFTWARE\DEVOD\WEB") and by the environment (DEVOD_WEB_HOST, DEVOD_WEB_PORT),
// which the tests and the demo point at the local shop stand-in. Every request uses this port.
#pragma once

#include <string>

namespace devod {

struct WebEndpoint {
    std::string host;
    int port = 80;
};

WebEndpoint CurrentWebEndpoint();
// The shop's domain name as the dialogs show it: the host without a leading "www.".
std::string ShopDomainName();

}  // namespace devod
