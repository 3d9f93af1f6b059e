// z31shop: the web shop stand-in as a program, serving until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "sim/shop/z31shop.h"
#include "sim/stop_signals.h"

namespace {

const char kUsage[] =
    "usage: z31shop [--port N] [--host NAME] [--account EMAIL:PASSWORD]... [--log FILE]\n"
    "  --port N      port on 127.0.0.1 (default 0: pick a free one)\n"
    "  --host NAME   host name used in database links (default 127.0.0.1)\n"
    "  --account E:P a customer account; may be repeated (default owner@example.com:secret)\n"
    "  --log FILE    append each update log record to FILE\n";

[[noreturn]] void BadUsage(const std::string& why) {
    std::fprintf(stderr, "z31shop: %s\n%s", why.c_str(), kUsage);
    std::exit(2);
}

bool ParsePort(std::string_view text, int& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    port = std::stoi(std::string(text));
    return port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
    z31sim::ShopConfig cfg;
    bool default_accounts = true;
    for (int i = 1; i < argc; ++i) {
        std::string_view opt = argv[i];
        if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (opt != "--port" && opt != "--host" && opt != "--account" && opt != "--log") {
            BadUsage("unknown option '" + std::string(opt) + "'");
        }
        if (i + 1 >= argc) BadUsage(std::string(opt) + " needs a value");
        std::string value = argv[++i];
        if (opt == "--port") {
            if (!ParsePort(value, cfg.port)) BadUsage("bad port '" + value + "'");
        } else if (opt == "--host") {
            cfg.public_host = value;
        } else if (opt == "--account") {
            std::size_t colon = value.find(':');
            if (colon == std::string::npos || colon == 0) BadUsage("bad account '" + value + "'");
            if (default_accounts) cfg.accounts.clear();
            default_accounts = false;
            cfg.accounts.push_back({value.substr(0, colon), value.substr(colon + 1)});
        } else {
            cfg.log_file = value;
        }
    }

    z31sim::StopSignals stop_signals;

    try {
        z31sim::Shop shop(cfg);
        std::printf("z31shop: listening on 127.0.0.1:%d\n", shop.Port());
        std::fflush(stdout);
        stop_signals.Wait();
    } catch (const std::invalid_argument& e) {
        BadUsage(e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "z31shop: %s\n", e.what());
        return 1;
    }
    return 0;
}
