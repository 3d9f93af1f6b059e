#include "sim/protocol.h"

#include <array>

namespace z31sim {
namespace {

constexpr std::string_view kPrompt = "QV>>";
constexpr std::string_view kNewLinePrompt = "\r\nQV>>";
constexpr std::string_view kUnknown = "\r\nUnknown command\r\nQV>>";

}  // namespace

Protocol::Protocol(const DeviceConfig& cfg) : cfg_(cfg), mode_(cfg.start_mode) {}

int Protocol::LineBaud() const {
    return mode_ == Mode::Normal ? cfg_.nmea_baud : cfg_.command_baud;
}

std::string Protocol::Answer(std::string_view value) {
    std::string out = "\r\nOK!\r\n$";
    out += value;
    out += kNewLinePrompt;
    return out;
}

std::span<const Protocol::Command> Protocol::Commands() {
    static const std::array<Command, 8> kTable = {{
        {Mode::Normal, "$dnmode",
         [](Protocol& p, const std::string&) {
             p.mode_ = Mode::Download;
             return std::string(kPrompt);
         }},
        {Mode::Download, "",
         [](Protocol&, const std::string&) { return std::string(kNewLinePrompt); }},
        {Mode::Download, "qq",
         [](Protocol& p, const std::string&) {
             p.mode_ = Mode::Normal;
             return std::string();
         }},
        {Mode::Download, "rvfw",
         [](Protocol& p, const std::string&) { return Answer(p.cfg_.fw_version); }},
        {Mode::Download, "rvdb",
         [](Protocol& p, const std::string&) { return Answer(p.cfg_.db_version); }},
        {Mode::Download, "rvvo",
         [](Protocol& p, const std::string&) { return Answer(p.cfg_.voc_version); }},
        {Mode::Download, "rimt",
         [](Protocol& p, const std::string&) { return Answer(p.cfg_.device_id); }},
        {Mode::Download, "rsmt",
         [](Protocol& p, const std::string&) { return Answer(p.cfg_.serial_number); }},
    }};
    return kTable;
}

std::string Protocol::Execute(const std::string& line) {
    std::string_view text = line;
    if (mode_ == Mode::Normal) {
        // The NMEA-side input parser synchronises on '$': whatever came before it is noise.
        const auto dollar = text.rfind('$');
        if (dollar == std::string_view::npos) return {};
        text = text.substr(dollar);
    }
    for (const Command& command : Commands()) {
        if (command.mode == mode_ && command.text == text) return command.run(*this, line);
    }
    // In normal operation the device ignores what it does not understand.
    return mode_ == Mode::Download ? std::string(kUnknown) : std::string();
}

}  // namespace z31sim
