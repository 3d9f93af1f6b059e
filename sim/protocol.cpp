#include "sim/protocol.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

namespace z31sim {
namespace {

constexpr std::string_view kPrompt = "QV>>";
constexpr std::string_view kNewLinePrompt = "\r\nQV>>";
constexpr std::string_view kUnknown = "\r\nUnknown command\r\nQV>>";
constexpr std::string_view kCancelled = "\r\nCancelled\r\nQV>>";
constexpr std::string_view kWriteSucceed = "\r\nWriteSucceed!\r\nQV>>";
constexpr std::string_view kWriteFail = "\r\nWriteFail*\r\nQV>>";
// The first line of the settings, and the line that ends a settings or user point transfer.
constexpr std::string_view kSettingsStart = "$0000*";
constexpr std::string_view kDataEnd = "$9999*";
// A word on the line: four hex digits and a space.
constexpr std::size_t kWordField = 5;

void AppendHex4(std::string& out, std::uint16_t word) {
    static constexpr std::string_view kDigits = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(word >> shift) & 0xF]);
}

// Four hex digits, either case, at the start of `text`.
std::optional<std::uint16_t> ParseHex4(std::string_view text) {
    if (text.size() < 4) return std::nullopt;
    std::uint16_t word = 0;
    for (const char c : text.substr(0, 4)) {
        int digit = 0;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        word = static_cast<std::uint16_t>(word << 4 | digit);
    }
    return word;
}

// `N` words "XXXX " at the start of `text`; the space after the last one may be missing, and
// nothing but spaces may follow it.
template <std::size_t N>
std::optional<std::array<std::uint16_t, N>> ParseWords(std::string_view text) {
    if (text.size() < N * kWordField - 1) return std::nullopt;
    std::array<std::uint16_t, N> words{};
    for (std::size_t i = 0; i < N; ++i) {
        const auto word = ParseHex4(text.substr(i * kWordField));
        if (!word) return std::nullopt;
        if (i + 1 < N && text[i * kWordField + 4] != ' ') return std::nullopt;
        words[i] = *word;
    }
    if (text.find_first_not_of(' ', N * kWordField - 1) != std::string_view::npos) {
        return std::nullopt;
    }
    return words;
}

// "$0000*" and exactly 80 characters of words.
std::optional<Settings> ParseSettingsLine(std::string_view line) {
    const std::string_view words = line.substr(kSettingsStart.size());
    if (words.size() != static_cast<std::size_t>(Protocol::kSettingsLineLength)) {
        return std::nullopt;
    }
    return ParseWords<16>(words);
}

// "$" + the line number in decimal + "*" + 11 words.
std::optional<UserPoint> ParseUserPointLine(std::string_view line) {
    const auto star = line.find('*');
    if (star == std::string_view::npos || star < 2 ||
        line.substr(1, star - 1).find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    return ParseWords<11>(line.substr(star + 1));
}

template <std::size_t N>
std::string WordsLine(std::string_view head, const std::array<std::uint16_t, N>& words) {
    std::string out(head);
    for (const std::uint16_t word : words) {
        AppendHex4(out, word);
        out.push_back(' ');
    }
    return out;
}

std::string UserPointLine(std::size_t number, const UserPoint& point) {
    std::string head = std::to_string(number % 10000);
    head = "$" + std::string(4 - head.size(), '0') + head + "*";
    return WordsLine(head, point) + "\r\n";
}

}  // namespace

std::vector<UserPoint> SampleUserPoints(int count) {
    std::vector<UserPoint> points;
    for (int i = 0; i < count; ++i) {
        const auto n = static_cast<unsigned>(i);
        // Word 0: the month in bits 0-3, the minute in bits 4-9, the day in bits 10-14.
        const unsigned word0 = (n % 12 + 1) | (n * 7 % 60) << 4 | (n % 28 + 1) << 10;
        // Word 1: the hour in bits 11-15, the year since 2000 below.
        const unsigned word1 = (n % 24) << 11 | (24 + n % 3);
        // Latitude in words 3 (low) and 4 (high), longitude in words 6 and 7, both in units of
        // 1/100000 degree; word 8 is the heading. Every fifth point lies south and west.
        const bool south_west = n % 5 == 4;
        const std::int32_t lat =
            (4813720 + static_cast<std::int32_t>(n) * 123) * (south_west ? -1 : 1);
        const std::int32_t lon =
            (1157560 + static_cast<std::int32_t>(n) * 234) * (south_west ? -1 : 1);
        const auto lo = [](std::int32_t v) {
            return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFF);
        };
        const auto hi = [](std::int32_t v) {
            return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) >> 16);
        };
        // Words 2 and 5 stay 0, as on a device whose points a host wrote: a host's write carries
        // 0 there. Words 9 and 10: the speed limit and the kind of point.
        points.push_back(UserPoint{
            static_cast<std::uint16_t>(word0), static_cast<std::uint16_t>(word1), 0, lo(lat),
            hi(lat), 0, lo(lon), hi(lon), static_cast<std::uint16_t>(n * 37 % 360),
            static_cast<std::uint16_t>(30 + 10 * (n % 10)), static_cast<std::uint16_t>(n % 4)});
    }
    return points;
}

Protocol::Protocol(const DeviceConfig& cfg)
    : cfg_(cfg),
      mode_(cfg.start_mode),
      serial_(cfg.serial_number),
      settings_(cfg.settings),
      points_(cfg.user_points) {}

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
    static const std::array<Command, 23> kTable = {{
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
        // The settings and user point transfers ask nothing aloud: the host writes the command
        // and its "y" together and takes the whole answer to a read in one read, so nothing may
        // go out before it.
        {Mode::Download, "ra",
         [](Protocol& p, const std::string&) {
             return p.Ask("", [](Protocol& q, char c) {
                 return c == 'y' ? q.ReadSettings() : std::string(kCancelled);
             });
         }},
        {Mode::Download, "wa",
         [](Protocol& p, const std::string&) {
             return p.Ask("", [](Protocol& q, char c) {
                 return c == 'y' ? q.StartDataWrite(DataWrite::Settings) : std::string(kCancelled);
             });
         }},
        {Mode::Download, "ru",
         [](Protocol& p, const std::string&) {
             return p.Ask("", [](Protocol& q, char c) {
                 return c == 'y' ? q.ReadUserPoints() : std::string(kCancelled);
             });
         }},
        {Mode::Download, "wu",
         [](Protocol& p, const std::string&) {
             return p.Ask("", [](Protocol& q, char c) {
                 return c == 'y' ? q.StartDataWrite(DataWrite::UserPoints)
                                 : std::string(kCancelled);
             });
         }},
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

std::string Protocol::ReadSettings() const {
    std::string line = WordsLine(kSettingsStart, settings_);
    if (knobs_.settings_line_length < kSettingsLineLength) line.pop_back();
    if (knobs_.settings_line_length > kSettingsLineLength) line.push_back(' ');
    std::string out = "\r\n" + line + "\r\n";
    out += kDataEnd;
    out += "\r\n";
    if (knobs_.read_completed) out += "Completed!\r\n";
    out += kPrompt;
    return out;
}

std::string Protocol::ReadUserPoints() const {
    // The records a host throws away go between the stored ones: month 0 is no month.
    std::vector<UserPoint> invalid = SampleUserPoints(knobs_.invalid_user_points);
    for (UserPoint& point : invalid) point[0] &= 0xFFF0;
    std::string out = "\r\n";
    std::size_t number = 0;
    for (std::size_t k = 0; k < std::max(points_.size(), invalid.size()); ++k) {
        if (k < points_.size()) out += UserPointLine(number++, points_[k]);
        if (k < invalid.size()) out += UserPointLine(number++, invalid[k]);
    }
    if (knobs_.user_point_reply_cut) return out;
    out += kDataEnd;
    out += "\r\n";
    if (knobs_.read_completed) out += "Completed!\r\n";
    out += kPrompt;
    return out;
}

std::string Protocol::StartDataWrite(DataWrite what) {
    data_next_ = what;
    data_bad_ = false;
    new_settings_.reset();
    new_points_.clear();
    return {};
}

std::string Protocol::DataLine(const std::string& line) {
    if (!line.starts_with('$')) {
        // Not a line of the transfer: the host has given up on it. The write fails, and the
        // line is the next command.
        data_next_ = DataWrite::None;
        std::string out = knobs_.write_answers ? std::string(kWriteFail) : std::string();
        return out + Execute(line);
    }
    if (line.starts_with(kDataEnd)) return EndDataWrite();
    if (data_next_ == DataWrite::Settings) {
        new_settings_ = line.starts_with(kSettingsStart) ? ParseSettingsLine(line) : std::nullopt;
        data_bad_ = data_bad_ || !new_settings_;
    } else if (const auto point = ParseUserPointLine(line);
               point && new_points_.size() < kMaxUserPoints) {
        new_points_.push_back(*point);
    } else {
        data_bad_ = true;
    }
    return {};
}

std::string Protocol::EndDataWrite() {
    const DataWrite what = std::exchange(data_next_, DataWrite::None);
    const bool ok = !data_bad_ && (what == DataWrite::UserPoints || new_settings_.has_value());
    // A device that does not answer its writes does not store them either.
    if (!knobs_.write_answers) return {};
    if (!ok) return std::string(kWriteFail);
    if (what == DataWrite::Settings) {
        settings_ = *new_settings_;
    } else {
        points_ = std::move(new_points_);
        new_points_.clear();
    }
    return std::string(kWriteSucceed);
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
    data_next_ = DataWrite::None;
    StartImage(Area::Bootloader);
    return true;
}

std::string Protocol::Execute(const std::string& line) {
    if (LineBaud() == kBootStartBaud && HearAtBootRate(line)) return {};
    if (std::exchange(serial_next_, false)) return StoreSerialNumber(line);
    if (data_next_ != DataWrite::None) return DataLine(line);
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
