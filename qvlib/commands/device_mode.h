// The device's two modes and the commands that find and change them.
//
// qv::CGetDeviceMode: the mode check. Listens for NMEA sentences at the NMEA rate (1000 ms), then
// asks for the prompt at the command rate; leaves the port at the rate of the mode found (NMEA rate
// for mode 1, command rate otherwise) and the mode in the session's device mode.
// qv::CSetDeviceDNMode: "$dnmode\r" at the NMEA rate, then the check; success when the prompt shows.
// qv::CResetDevice: "qq\r\n", then up to three checks; success when the device streams NMEA.
//
// The port is reopened only when the model's two rates differ.
#pragma once

#include <atomic>

#include "qvlib/session/command.h"

namespace qv {

enum DeviceMode : int { kModeUnknown = 0, kModeNmea = 1, kModeDownload = 2 };

class CGetDeviceMode : public CCommand {
public:
    CGetDeviceMode(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                   std::atomic<int>* device_mode)
        : CCommand(port, progress, model), device_mode_(device_mode) {}

    int Execute() override { return CheckMode(); }

    // True when the text holds one of the four "$GP" sentence heads of normal operation.
    static bool HasNmeaSentence(const char* text);

protected:
    // The mode check within any of the three commands: sets the device mode, kResultSuccess when
    // it is 1 or 2.
    int CheckMode();
    bool RatesDiffer() const { return model_->nmea_baud != model_->command_baud; }

    void SetMode(DeviceMode mode) { device_mode_->store(mode, std::memory_order_relaxed); }
    DeviceMode Mode() const {
        return static_cast<DeviceMode>(device_mode_->load(std::memory_order_relaxed));
    }

    std::atomic<int>* device_mode_;
};

class CSetDeviceDNMode : public CGetDeviceMode {
public:
    using CGetDeviceMode::CGetDeviceMode;
    int Execute() override;
};

class CResetDevice : public CGetDeviceMode {
public:
    using CGetDeviceMode::CGetDeviceMode;
    int Execute() override;

    static constexpr int kChecks = 3;
    static constexpr uint32_t kPauseAfterFailedCheckMs = 1000;
};

}  // namespace qv
