// Reads what the owner is shown of a device on a serial port: its firmware and database versions
// and its serial number, one QVLib request after the other, polled from a page timer. The device
// is put into download mode first when it is not there.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

struct SerialDeviceFacts {
    std::string firmware;  // empty when the device did not tell
    std::string database;
    std::string serial_number;

    // "FW 7.3  DB 2031.02.7  S/N Z31A0012345", leaving out what is not known.
    std::string Summary() const;
};

class SerialDeviceInfo {
public:
    enum : unsigned { kTimerInfo = 4105 };
    static constexpr unsigned kPollMs = 100;
    enum class What { kEverything, kDatabaseVersion };

    SerialDeviceInfo(ITimers& timers, IQvLink& qv) : timers_(timers), qv_(qv) {}

    // `done` runs once, with what could be read (a failed query leaves its value empty).
    void Start(int port, What what, std::function<void(const SerialDeviceFacts&)> done);
    bool OnTimer(unsigned id);
    bool Running() const { return running_; }
    void Cancel();

private:
    enum class Step { kModeCheck, kDownloadMode, kFirmware, kDatabase, kSerialNumber };
    void StartNext();
    void Finish();

    ITimers& timers_;
    IQvLink& qv_;
    int port_ = 0;
    std::vector<Step> steps_;
    size_t index_ = 0;
    SerialDeviceFacts facts_;
    std::function<void(const SerialDeviceFacts&)> done_;
    bool running_ = false;
};

}  // namespace devod
