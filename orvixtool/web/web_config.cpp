#include "orvixtool/web/web_config.h"

#include <strings.h>

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orvixtool/config/settings.h"

namespace devod {
namespace {

constexpr const char* kDefaultHost = "shop.kelvaro.example";
constexpr int kDefaultPort = 80;

bool ValidPort(long long port) { return port >= 1 && port <= 65535; }

// Parses a whole decimal port number; false for anything else.
bool ParsePort(const char* text, int* port) {
    const char* end = text + std::strlen(text);
    long long value = 0;
    auto [ptr, ec] = std::from_chars(text, end, value);
    if (ec != std::errc() || ptr != end || text == end || !ValidPort(value)) return false;
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

WebEndpoint CurrentWebEndpoint() {
    WebEndpoint endpoint{kDefaultHost, kDefaultPort};

    Settings settings;
    if (std::optional<std::string> host = settings.WebHost()) endpoint.host = *host;
    if (std::optional<int> port = settings.WebPort()) endpoint.port = *port;

    const char* env_host = std::getenv("DEVOD_WEB_HOST");
    if (env_host != nullptr && env_host[0] != '\0') endpoint.host = env_host;
    const char* env_port = std::getenv("DEVOD_WEB_PORT");
    if (env_port != nullptr && env_port[0] != '\0' && !ParsePort(env_port, &endpoint.port)) {
        static std::atomic<bool> warned{false};
        if (!warned.exchange(true)) {
            std::fprintf(stderr,
                         "DEVOD_WEB_PORT=\"%s\" is not a port number (1-65535); "
                         "using port %d\n",
                         env_port, endpoint.port);
        }
    }
    return endpoint;
}

std::string ShopDomainName() {
    std::string host = CurrentWebEndpoint().host;
    if (host.size() >= 4 && strncasecmp(host.c_str(), "www.", 4) == 0) host.erase(0, 4);
    return host;
}

}  // namespace devod
