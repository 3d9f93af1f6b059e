#include "sim/usb/options.h"

#include <cctype>
#include <charconv>
#include <string_view>

namespace z31sim::usb {
namespace {

bool ParseUint(std::string_view text, unsigned max, unsigned* out) {
    if (text.empty()) return false;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > max) return false;
    *out = value;
    return true;
}

// Exactly 2 * N hex digits.
template <std::size_t N>
bool ParseHex(std::string_view text, std::array<std::uint8_t, N>* out) {
    if (text.size() != 2 * N) return false;
    for (std::size_t i = 0; i < N; ++i) {
        unsigned byte = 0;
        const auto [end, ec] =
            std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, byte, 16);
        if (ec != std::errc() || end != text.data() + 2 * i + 2) return false;
        (*out)[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

// N decimal values 0..255 separated by commas.
template <std::size_t N>
bool ParseByteList(std::string_view text, std::array<std::uint8_t, N>* out) {
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t comma = text.find(',');
        const bool last = i + 1 == N;
        if (last != (comma == std::string_view::npos)) return false;
        unsigned value = 0;
        if (!ParseUint(text.substr(0, comma), 255, &value)) return false;
        (*out)[i] = static_cast<std::uint8_t>(value);
        if (!last) text.remove_prefix(comma + 1);
    }
    return true;
}

}  // namespace

std::string Usage() {
    return "usage: z31usbsim [--socket PATH] [--settings HEX12] [--speeds A,B,C,D,E] [--points N]\n"
           "  --socket PATH      socket to listen on (default: " +
           DefaultUsbSocketPath() +
           ")\n"
           "  --settings HEX12   the 6-byte settings record as 12 hex digits\n"
           "  --speeds A,..,E    the 5 user speeds, decimal 0..255\n"
           "  --points N         N demo user points, 0..100\n"
           "Runs until SIGINT or SIGTERM.\n";
}

std::optional<SimOptions> ParseOptions(const std::vector<std::string>& args, std::string* error) {
    SimOptions opts;
    opts.socket_path = DefaultUsbSocketPath();
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--help" || name == "-h") {
            opts.help = true;
            continue;
        }
        if (name != "--socket" && name != "--settings" && name != "--speeds" &&
            name != "--points") {
            *error = "unknown option " + args[i];
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 == args.size()) {
                *error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        bool ok = true;
        if (name == "--socket") {
            ok = !value->empty();
            opts.socket_path = *value;
        } else if (name == "--settings") {
            ok = ParseHex(*value, &opts.settings.emplace());
        } else if (name == "--speeds") {
            ok = ParseByteList(*value, &opts.speeds.emplace());
        } else {
            unsigned n = 0;
            ok = ParseUint(*value, kMaxUserPoints, &n);
            opts.demo_points = n;
        }
        if (!ok) {
            *error = "bad value for " + name + ": '" + *value + "'";
            return std::nullopt;
        }
    }
    return opts;
}

std::vector<UserPoint> DemoUserPoints(std::size_t count) {
    std::vector<UserPoint> points;
    for (std::size_t i = 0; i < count && i < kMaxUserPoints; ++i) {
        const auto k = static_cast<std::int32_t>(i);
        points.push_back(
            {static_cast<std::uint16_t>((i * 37) % 360), 4812345 + k * 1013, 1156789 - k * 2027});
    }
    return points;
}

}  // namespace z31sim::usb
