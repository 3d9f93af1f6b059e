// What the device answers to each command line, and the mode it is in. No I/O here: the device
// thread feeds complete lines, confirmation bytes and image bytes in, as Expects() says, and
// sends what comes out.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/z31sim.h"

namespace z31sim {

// An image stream has no length on the line: it ends when the host has been silent this long
// (the host pauses 1500 ms after its last block, and at most about 100 ms between blocks).
inline constexpr int kImageEndSilenceMs = 500;
// The verdict of an image goes out during the stream, when that knob is on, once this much has
// arrived: the host's first block.
inline constexpr std::size_t kImageBlock = 4096;
// What is kept of one image; the rest of a longer stream is received and thrown away.
inline constexpr std::size_t kMaxImage = std::size_t{64} << 20;
// The bootloader's start command is heard only at 9600 baud, in either mode; its image then only
// at 115200, after which the device shows the prompt at 115200 and is in download mode.
inline constexpr std::string_view kBootStart = "_D Y B01A 000F";
inline constexpr int kBootStartBaud = 9600;
inline constexpr int kBootImageBaud = 115200;

class Protocol {
public:
    // The behaviour knobs of Device, applied when a command runs.
    struct Knobs {
        bool erase_answers = true;
        WriteVerdict verdict = WriteVerdict::Succeed;
        bool verdict_during_stream = false;
        bool quit_ignored = false;
        QcVerdict qc_verdict = QcVerdict::Pass;
        bool qc_short = false;
        bool qc_end_marker = true;
        bool read_completed = true;
        int settings_line_length = kSettingsLineLength;
        int invalid_user_points = 0;
        bool user_point_reply_cut = false;
        bool write_answers = true;
    };

    // The characters after "$0000*" in a settings line: 16 words of four hex digits and a space.
    static constexpr int kSettingsLineLength = 80;

    // What the next bytes from the host are.
    enum class Input {
        Line,          // a command line ending in "\r" (or the serial number after "wsmt", "y",
                       // or a settings or user point line during a write)
        Confirmation,  // the one byte that confirms the command before it ("y", or "b")
        Image,         // image bytes, until kImageEndSilenceMs of silence
    };

    // Bytes to send and the line speed to send them at.
    struct Output {
        std::string bytes;
        int baud = 0;
    };

    explicit Protocol(const DeviceConfig& cfg);

    Input Expects() const;

    // Runs one command line (without its "\r") and returns the bytes to answer with; empty when
    // the device does not answer. May switch the mode.
    std::string Execute(const std::string& line);
    // A line heard at kBootStartBaud while the current mode listens at another speed: starts the
    // bootloader's reception if it is its start command. Returns whether it was.
    bool HearAtBootRate(const std::string& line);
    // Takes the confirmation byte; CR and LF are not an answer and leave the question open.
    std::string Confirm(char answer);
    // Takes image bytes; returns what to send at once (the verdict during the stream).
    std::string ReceiveImage(std::string_view bytes);
    // The host has been silent: the stream is over. Returns the verdict and prompt.
    Output EndImage();

    Mode mode() const { return mode_; }
    // The line speed the device listens and talks at in the current mode.
    int LineBaud() const;

    Knobs& knobs() { return knobs_; }
    const std::string& Image(Area area) const { return images_[Index(area)]; }
    int CompletedImages(Area area) const { return completed_[Index(area)]; }
    const std::string& SerialNumber() const { return serial_; }
    const Settings& StoredSettings() const { return settings_; }
    void SetStoredSettings(const Settings& settings) { settings_ = settings; }
    const std::vector<UserPoint>& StoredUserPoints() const { return points_; }
    void SetStoredUserPoints(std::vector<UserPoint> points) { points_ = std::move(points); }

private:
    using Handler = std::string (*)(Protocol& self, const std::string& line);
    using ConfirmHandler = std::string (*)(Protocol& self, char answer);
    // One command: in which mode it is understood, its text, and what it does. Adding a command
    // is adding a row to the table in protocol.cpp.
    struct Command {
        Mode mode;
        std::string_view text;
        Handler run;
    };
    static std::span<const Command> Commands();
    static std::size_t Index(Area area) { return static_cast<std::size_t>(area); }

    // "OK!" followed by a value, as the version and identity queries answer.
    static std::string Answer(std::string_view value);
    // Asks `question` and waits for the one-byte answer, which `then` judges.
    std::string Ask(std::string_view question, ConfirmHandler then);
    // The answer to a confirmed erase of `what`.
    std::string Erased(std::string_view what);
    std::string EraseSerialNumber();
    std::string StoreSerialNumber(const std::string& text);
    std::string StartImage(Area area);
    std::string VerdictLine() const;
    std::string QcView() const;
    std::string QcResult() const;
    std::string ReadSettings() const;
    std::string ReadUserPoints() const;
    // What a write of settings or user points is waiting for.
    enum class DataWrite { None, Settings, UserPoints };
    std::string StartDataWrite(DataWrite what);
    // One line received while a write of settings or user points runs.
    std::string DataLine(const std::string& line);
    std::string EndDataWrite();

    DeviceConfig cfg_;
    Knobs knobs_;
    Mode mode_;
    ConfirmHandler confirm_ = nullptr;  // set while a command waits for its confirmation byte
    bool serial_next_ = false;          // the next line is the serial number to store
    std::optional<Area> receiving_;     // the area whose image is streaming in
    bool verdict_sent_ = false;         // during the stream, by the knob
    std::array<std::string, 4> images_;
    std::array<int, 4> completed_{};
    std::string serial_;
    Settings settings_;
    std::vector<UserPoint> points_;
    DataWrite data_next_ = DataWrite::None;  // the next lines are settings or user points
    bool data_bad_ = false;                  // a line of the running write was malformed
    std::optional<Settings> new_settings_;   // the settings line of the running write
    std::vector<UserPoint> new_points_;      // the records of the running write
};

}  // namespace z31sim
