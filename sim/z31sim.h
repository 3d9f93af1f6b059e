// Z31 device simulator: one simulated device behind a pseudo-terminal, reachable by the host
// library as <port_dir>/com<N>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace z31sim {

enum class Mode { Normal, Download };

// The memory areas an image is written to: firmware ("wb"), database ("wd"), voice data ("wv")
// and the bootloader (its start command at 9600 baud, the image at 115200).
enum class Area { Firmware, Database, Voice, Bootloader };

// What the device answers once a firmware, database or voice image has arrived.
enum class WriteVerdict {
    Succeed,        // "WriteSucceed!"
    Fail,           // "WriteFail*"
    CheckSumErr,    // "CheckSumErr*"
    ErrorInFormat,  // "ErrorInFormat*"
    IdMismatch,     // "ID Mismatch*"
    None,           // no verdict, only the prompt
};

// The verdict of the device's own quality-control test, as "$qcresult" reports it.
enum class QcVerdict { Pass, Fail, NotDone, None };

// The user settings: 16 words, read with "ra" and written with "wa".
using Settings = std::array<std::uint16_t, 16>;
// One user point record: 11 words, read with "ru" and written with "wu".
using UserPoint = std::array<std::uint16_t, 11>;

// The settings of a new device: user speeds 80 and 100, a 20 s warning, GMT -300 minutes, no
// summer time, the 24-hour clock and km/h.
inline constexpr Settings kDefaultSettings = {0x0050, 0x0064, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                              0xFFFF, 0xFFFF, 0x0014, 0xFED4, 0x0000, 0xFFFF,
                                              0xFFFF, 0xFFFF, 0x0001, 0x0000};

// `count` made-up user points, the same every time, each one a host keeps (month 1..12,
// minute 0..59, hour 0..23), at positions that differ from one point to the next.
std::vector<UserPoint> SampleUserPoints(int count);

// What a simulated device is and how it talks. Invalid values make Device's constructor throw.
struct DeviceConfig {
    int port_number = 1;        // the link is <port_dir>/com<port_number>; 1 or more
    int nmea_baud = 4800;       // line speed in normal operation (NMEA stream)
    int command_baud = 115200;  // line speed in download mode
    Mode start_mode = Mode::Normal;
    int nmea_period_ms = 1000;  // time between two NMEA bursts; 1 or more
    std::string fw_version = "1.20";
    std::string db_version = "2024.05.1";
    std::string voc_version = "1.05";
    std::string device_id = "Z31S006";
    std::string serial_number = "Z31A0012345";  // the stored serial number; empty: none stored
    Settings settings = kDefaultSettings;
    std::vector<UserPoint> user_points;  // at most kMaxUserPoints
};

// The most user points the device stores; a longer write is refused. Together with as many
// thrown-away records (SetInvalidUserPoints) a read still numbers its lines below 9999, the
// number of the end line.
inline constexpr std::size_t kMaxUserPoints = 4000;

// One simulated device running on its own thread and owning a pseudo-terminal.
//
// The device listens and talks only at the line speed of its current mode. Bytes the host sends
// while its line speed differs are lost (DroppedBytes), and so is what the device sends then
// (LostSentBytes). The one exception is the bootloader's start command, heard at 9600 baud in
// either mode; its image is then heard only at 115200. The device takes the host's bytes at the
// line speed set on the terminal (see SetPacedReception), so that a transfer lasts as long as on
// a real line. A reply of the device's own longer than 4096 bytes (a user point read) goes out at
// the line speed, 10 ms worth at a time, unless SetSplitReply cuts it; shorter replies go out at
// once. Every setter may be called at any time from any thread.
class Device {
public:
    // Creates the pty and the link <port_dir>/com<N>, then starts the device thread.
    // Throws std::invalid_argument for a bad configuration and std::runtime_error when the pty
    // or the link cannot be made.
    Device(std::string port_dir, DeviceConfig cfg);
    // Stops the thread, closes the pty (a host still holding the port sees a hang-up) and
    // removes the link.
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::string PortPath() const;   // <port_dir>/com<N>
    std::string SlavePath() const;  // the pty the link points at
    Mode CurrentMode() const;

    // Fault knobs.
    // Silent: the device still reads and records commands but neither acts on them, nor
    // answers, nor streams NMEA.
    void SetSilent(bool silent);
    // Each reply gets NUL bytes: one at its start and one before each "OK!", "$" and "QV>>".
    void SetNulInReplies(bool on);
    // Waits this long before sending each reply (NMEA is not delayed). Throws if negative.
    void SetReplyDelayMs(int ms);
    // Sends each reply in `pieces` parts, `gap_ms` apart (pieces 1 = whole). Throws if
    // pieces < 1 or gap_ms < 0.
    void SetSplitReply(int pieces, int gap_ms);
    // Answers `command` (text without its "\r") with exactly `raw`, in any mode; the command
    // still has its usual effect. Raw bytes get no NULs; the delay and split knobs still apply.
    void SetRawReply(const std::string& command, std::string raw);
    void ClearRawReplies();

    // Behaviour knobs.
    // Reception paced at the line speed the host set on the terminal, 10 bits a byte, as a UART
    // takes bytes in (default on). Off: whatever the host wrote is taken at once, for fast tests.
    void SetPacedReception(bool on);
    // The erases ("ep" with "y" or "b", "ed", "ev", "ef", "esmt", each confirmed with "y")
    // answer "Completed!" (default on). Off: the confirmation gets no answer and nothing is
    // erased.
    void SetEraseAnswers(bool on);
    // The verdict after a firmware, database or voice image (default Succeed). The bootloader
    // shows the prompt after its image only for Succeed, and answers nothing otherwise.
    void SetWriteVerdict(WriteVerdict verdict);
    // The verdict goes out as soon as the first 4096 bytes of an image have arrived, in the
    // middle of the stream, instead of after it; the end of the stream then gets the prompt only.
    void SetVerdictDuringStream(bool on);
    // "qq" answers the prompt and leaves the device in download mode.
    void SetQuitIgnored(bool on);
    // The verdict in the "$qcresult" reply (default Pass; None: the reply holds no verdict).
    void SetQcVerdict(QcVerdict verdict);
    // The "$qcresult" reply is short (under 512 bytes) instead of a full report of 600 or more.
    void SetQcShortReply(bool on);
    // The "$viewqc" report ends with "END\r\n" (default on).
    void SetQcViewEndMarker(bool on);
    // The settings ("ra") and user point ("ru") reads end with "Completed!" (default on).
    void SetReadCompleted(bool on);
    // The number of characters after "$0000*" in the settings line that "ra" sends: 80 (16
    // words, each followed by a space), 79 (the last space left out) or 81 (one space more).
    // Throws for any other value.
    void SetSettingsLineLength(int length);
    // A user point read ("ru") also sends `count` records a host throws away (month 0), between
    // the stored ones. Throws if negative.
    void SetInvalidUserPoints(int count);
    // The user point read stops after the last record: no "$9999*", no "Completed!".
    void SetUserPointReplyCut(bool on);
    // The settings and user point writes ("wa", "wu") answer "WriteSucceed!" or "WriteFail*"
    // (default on). Off: the end of the write gets no answer and nothing is stored.
    void SetWriteAnswers(bool on);
    // The cable is pulled: the pty is closed (host reads see end of file or EIO, writes fail)
    // and the link is removed. Returns once done; the device stays destructible.
    void HangUp();
    bool IsHungUp() const;

    // Observations.
    std::vector<std::string> ReceivedCommands() const;  // received at the right speed
    std::size_t ReceivedBytes() const;                  // every byte that arrived, lost or not
    std::size_t DroppedBytes() const;   // bytes that arrived at the wrong line speed
    std::size_t LostSentBytes() const;  // bytes not delivered: wrong speed or host not reading
    // The bytes of the last image written to `area`, byte for byte as received after the
    // confirmation (or the bootloader's start command); while a stream runs, what has arrived.
    // At most 64 MiB are kept.
    std::string ReceivedImage(Area area) const;
    // How many image streams to `area` have ended (by 500 ms of silence on the line).
    int CompletedImages(Area area) const;
    // The serial number stored now; empty after "esmt".
    std::string StoredSerialNumber() const;
    // The settings and user points stored now. The setters replace them, as a write would;
    // SetStoredUserPoints throws for more than kMaxUserPoints.
    Settings StoredSettings() const;
    void SetStoredSettings(const Settings& settings);
    std::vector<UserPoint> StoredUserPoints() const;
    void SetStoredUserPoints(std::vector<UserPoint> points);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A temporary port folder (mkdtemp under $TMPDIR or /tmp), removed with whatever links it holds
// on destruction.
class PortDir {
public:
    PortDir();  // throws std::runtime_error on failure
    ~PortDir();
    PortDir(const PortDir&) = delete;
    PortDir& operator=(const PortDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace z31sim
