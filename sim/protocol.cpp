#include "sim/protocol.h"

#include <algorithm>
#include <array>
#include <utility>

namespace z31sim {
namespace {

constexpr std::string_view kPrompt = "QV>>";
constexpr std::string_view kNewLinePrompt = "\r\nQV>>";
constexpr std::string_view kUnknown = "\r\nUnknown command\r\nQV>>";
constexpr std::string_view kCancelled = "\r\nCancelled\r\nQV>>";

}  // namespace

Protocol::Protocol(const DeviceConfig& cfg)
    : cfg_(cfg), mode_(cfg.start_mode), serial_(cfg.serial_number) {}

int Protocol::LineBaud() const {
    if (receiving_ == Area::Bootloader) return kBootImageBaud;
    return mode_ == Mode::Normal ? cfg_.nmea_baud : cfg_.command_baud;
}

std::string Protocol::Answer(std::string_view value) {
    std::string out = "\r\nOK!\r\n$";
    out += value;
    out += kNewLinePrompt;
    return out;
}

std::span<const Protocol::Command> Protocol::Commands() {
    static const std::array<Command, 19> kTable = {{
        {Mode::Normal, "$dnmode",
         [](Protocol& p, const std::string&) {
             p.mode_ = Mode::Download;
             return std::string(kPrompt);
         }},
        {Mode::Download, "",
         [](Protocol&, const std::string&) { return std::string(kNewLinePrompt); }},
        {Mode::Download, "qq",
         [](Protocol& p, const std::string&) {
             if (p.knobs_.quit_ignored) return std::string(kNewLinePrompt);
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
        {Mode::Download, "rsmt", [](Protocol& p, const std::string&) { return Answer(p.serial_); }},
        // "ep" erases the firmware when confirmed with "y" and the bootloader with "b".
        {Mode::Download, "ep",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nErase firmware or bootloader? (y/b/n)", [](Protocol& q, char c) {
                 if (c == 'y') return q.Erased("firmware");
                 if (c == 'b') return q.Erased("bootloader");
                 return std::string(kCancelled);
             });
         }},
        {Mode::Download, "ed",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nErase database? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.Erased("database") : std::string(kCancelled);
             });
         }},
        {Mode::Download, "ev",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nErase voice data? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.Erased("voice data") : std::string(kCancelled);
             });
         }},
        {Mode::Download, "ef",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nErase all? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.Erased("all") : std::string(kCancelled);
             });
         }},
        {Mode::Download, "esmt",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nErase serial number? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.EraseSerialNumber() : std::string(kCancelled);
             });
         }},
        {Mode::Download, "wsmt",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nWrite serial number? (y/n)", [](Protocol& q, char c) {
                 if (c != 'y') return std::string(kCancelled);
                 q.serial_next_ = true;
                 return std::string("\r\nSerial number: ");
             });
         }},
        {Mode::Download, "wb",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nWrite firmware? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.StartImage(Area::Firmware) : std::string(kCancelled);
             });
         }},
        {Mode::Download, "wd",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nWrite database? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.StartImage(Area::Database) : std::string(kCancelled);
             });
         }},
        {Mode::Download, "wv",
         [](Protocol& p, const std::string&) {
             return p.Ask("\r\nWrite voice data? (y/n)", [](Protocol& q, char c) {
                 return c == 'y' ? q.StartImage(Area::Voice) : std::string(kCancelled);
             });
         }},
        {Mode::Download, "$viewqc", [](Protocol& p, const std::string&) { return p.QcView(); }},
        {Mode::Download, "$qcresult", [](Protocol& p, const std::string&) { return p.QcResult(); }},
    }};
    return kTable;
}

std::string Protocol::Ask(std::string_view question, ConfirmHandler then) {
    confirm_ = then;
    return std::string(question);
}

std::string Protocol::Erased(std::string_view what) {
    // A device whose erase fails says nothing more; the host's read decides.
    if (!knobs_.erase_answers) return {};
    std::string out = "\r\nErasing ";
    out += what;
    out += "...\r\nCompleted!";
    out += kNewLinePrompt;
    return out;
}

std::string Protocol::EraseSerialNumber() {
    if (knobs_.erase_answers) serial_.clear();
    return Erased("serial number");
}

std::string Protocol::StoreSerialNumber(const std::string& text) {
    // A stored serial number is never overwritten: it has to be erased first.
    if (!serial_.empty()) return "\r\nEraseFirst!" + std::string(kNewLinePrompt);
    if (text.empty() || text.find('\n') != std::string::npos) {
        return "\r\nInvalid serial number" + std::string(kNewLinePrompt);
    }
    serial_ = text;
    return "\r\nCompleted!" + std::string(kNewLinePrompt);
}

std::string Protocol::StartImage(Area area) {
    receiving_ = area;
    images_[Index(area)].clear();
    verdict_sent_ = false;
    // The bootloader receives silently; the download-mode writes say they are ready.
    return area == Area::Bootloader ? std::string() : std::string("\r\nReady to receive\r\n");
}

std::string Protocol::VerdictLine() const {
    std::string_view text;
    switch (knobs_.verdict) {
        case WriteVerdict::Succeed: text = "WriteSucceed!"; break;
        case WriteVerdict::Fail: text = "WriteFail*"; break;
        case WriteVerdict::CheckSumErr: text = "CheckSumErr*"; break;
        case WriteVerdict::ErrorInFormat: text = "ErrorInFormat*"; break;
        case WriteVerdict::IdMismatch: text = "ID Mismatch*"; break;
        case WriteVerdict::None: return {};
    }
    return "\r\n" + std::string(text);
}

std::string Protocol::ReceiveImage(std::string_view bytes) {
    if (!receiving_) return {};
    std::string& image = images_[Index(*receiving_)];
    const std::size_t room = kMaxImage - std::min(image.size(), kMaxImage);
    image.append(bytes.substr(0, std::min(room, bytes.size())));
    if (*receiving_ == Area::Bootloader || !knobs_.verdict_during_stream || verdict_sent_ ||
        image.size() < kImageBlock) {
        return {};
    }
    verdict_sent_ = true;
    return VerdictLine();
}

Protocol::Output Protocol::EndImage() {
    if (!receiving_) return {};
    const Area area = *receiving_;
    receiving_.reset();
    ++completed_[Index(area)];
    if (area == Area::Bootloader) {
        // The new bootloader starts into download mode and greets at its own speed.
        mode_ = Mode::Download;
        if (knobs_.verdict != WriteVerdict::Succeed) return {"", kBootImageBaud};
        return {std::string(kNewLinePrompt), kBootImageBaud};
    }
    std::string out = verdict_sent_ ? std::string() : VerdictLine();
    out += kNewLinePrompt;
    return {out, LineBaud()};
}

std::string Protocol::QcView() const {
    std::string out = "\r\n$GPSRESULT\r\n";
    static constexpr std::array<int, 8> kSnr = {45, 41, 38, 44, 36, 40, 33, 47};
    for (std::size_t i = 0; i < kSnr.size(); ++i) {
        out += "SV" + std::to_string(i + 3) + ",SNR" + std::to_string(kSnr[i]) + "\r\n";
    }
    out += "FIX,3D\r\nTTFF,32\r\n";
    if (knobs_.qc_end_marker) out += "END\r\n";
    out += kPrompt;
    return out;
}

std::string Protocol::QcResult() const {
    std::string out = "\r\n";
    switch (knobs_.qc_verdict) {
        case QcVerdict::Pass: out += "$PASS\r\n"; break;
        case QcVerdict::Fail: out += "$FAIL\r\n"; break;
        case QcVerdict::NotDone: out += "$NOTDONE\r\n"; break;
        case QcVerdict::None: break;
    }
    // The full reply carries the test log after the verdict, so that a host collecting its first
    // 512 bytes has seen the verdict; the short one stops after the verdict.
    for (int step = 1; !knobs_.qc_short && out.size() < 600; ++step) {
        out += "QC step " + std::to_string(step) + ": GPS, RTC, flash, keys, speaker ... ok\r\n";
    }
    out += kPrompt;
    return out;
}

Protocol::Input Protocol::Expects() const {
    if (receiving_) return Input::Image;
    if (confirm_ != nullptr) return Input::Confirmation;
    return Input::Line;
}

std::string Protocol::Confirm(char answer) {
    if (answer == '\r' || answer == '\n' || confirm_ == nullptr) return {};
    return std::exchange(confirm_, nullptr)(*this, answer);
}

bool Protocol::HearAtBootRate(const std::string& line) {
    if (receiving_ || line != kBootStart) return false;
    confirm_ = nullptr;
    serial_next_ = false;
    StartImage(Area::Bootloader);
    return true;
}

std::string Protocol::Execute(const std::string& line) {
    if (LineBaud() == kBootStartBaud && HearAtBootRate(line)) return {};
    if (std::exchange(serial_next_, false)) return StoreSerialNumber(line);
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
