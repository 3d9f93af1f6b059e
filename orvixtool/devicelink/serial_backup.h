// The backup of a device on a serial port, taken through QVLib before every database write: its
// six settings lists and its user points, kept as a GPX 1.1 file (the points with every field, as
// qvctl writes them; the settings lists in the metadata's <qv:backup link="serial" .../>), and
// written back on request. Reads and writes run as QVLib requests polled from a page timer.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

struct SerialDeviceData {
    SerialSettings settings;
    std::vector<UserPointEntry> points;
};

std::string FormatSerialBackup(const SerialDeviceData& data, int port, const std::string& model,
                               const std::string& time_utc);
// Nothing, with the reason, for a file that is not a backup of a device on a serial port.
std::optional<SerialDeviceData> ParseSerialBackup(const std::string& text, std::string* error);
std::optional<SerialDeviceData> LoadSerialBackup(const std::string& path, std::string* error);

class SerialBackup {
public:
    enum : unsigned { kTimerBackup = 4106 };
    static constexpr unsigned kPollMs = 100;
    using ReadDone =
        std::function<void(const std::optional<SerialDeviceData>&, const std::string&)>;
    using WriteDone = std::function<void(bool written, const std::string& error)>;

    SerialBackup(ITimers& timers, IQvLink& qv) : timers_(timers), qv_(qv) {}

    // Reads the settings and the user points, putting the device into download mode first when
    // it is not there. `done` runs once, with the data or the reason it could not be read.
    void Read(int port, ReadDone done);
    // Writes the settings lists and/or the user points of `data` into the device.
    void Write(int port, const SerialDeviceData& data, bool settings, bool points, WriteDone done);
    bool OnTimer(unsigned id);
    bool Running() const { return running_; }
    void Cancel();

private:
    struct Step {
        std::function<int()> request;      // hands one request to the library
        std::function<bool(bool ok)> end;  // its end (ok: result 1); false stops the run
    };
    void Run(std::deque<Step> steps, std::function<void(bool completed)> finished);
    void StartNext();
    void Finish(bool completed);

    ITimers& timers_;
    IQvLink& qv_;
    int port_ = 0;
    std::deque<Step> steps_;
    std::function<void(bool)> finished_;
    bool running_ = false;
};

}  // namespace devod
