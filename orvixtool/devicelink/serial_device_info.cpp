#include "orvixtool/devicelink/serial_device_info.h"

namespace devod {

std::string SerialDeviceFacts::Summary() const {
    std::string text;
    auto add = [&](const char* label, const std::string& value) {
        if (value.empty()) return;
        if (!text.empty()) text += "  ";
        text += label;
        text += value;
    };
    add("FW ", firmware);
    add("DB ", database);
    add("S/N ", serial_number);
    return text;
}

void SerialDeviceInfo::Start(int port, What what,
                             std::function<void(const SerialDeviceFacts&)> done) {
    Cancel();
    port_ = port;
    facts_ = {};
    done_ = std::move(done);
    if (what == What::kEverything) {
        steps_ = {Step::kModeCheck, Step::kFirmware, Step::kDatabase, Step::kSerialNumber};
    } else {
        steps_ = {Step::kDatabase};
    }
    index_ = 0;
    running_ = true;
    StartNext();
}

void SerialDeviceInfo::StartNext() {
    for (; index_ < steps_.size(); ++index_) {
        int accepted = 0;
        switch (steps_[index_]) {
            case Step::kModeCheck: accepted = qv_.ReqGetDeviceMode(port_); break;
            case Step::kDownloadMode: accepted = qv_.ReqSetDeviceDNMode(port_); break;
            case Step::kFirmware: accepted = qv_.ReqGetFWVersion(port_); break;
            case Step::kDatabase: accepted = qv_.ReqGetDBVersion(port_); break;
            case Step::kSerialNumber: accepted = qv_.ReqGetSerialNumber(port_); break;
        }
        // A request the session does not take leaves its value unknown.
        if (accepted == 1) {
            timers_.SetTimer(kTimerInfo, kPollMs);
            return;
        }
    }
    Finish();
}

bool SerialDeviceInfo::OnTimer(unsigned id) {
    if (id != kTimerInfo) return false;
    if (!running_) {
        timers_.KillTimer(kTimerInfo);
        return true;
    }
    if (qv_.GetQueryState(port_) != 2) return true;
    const bool ok = qv_.GetQueryResult(port_) == 1;
    switch (steps_[index_]) {
        case Step::kModeCheck:
            if (qv_.GetDeviceModeResult(port_) != 2) {
                steps_.insert(steps_.begin() + static_cast<long>(index_) + 1, Step::kDownloadMode);
            }
            break;
        case Step::kDownloadMode: break;
        case Step::kFirmware:
            if (ok) facts_.firmware = qv_.GetVersionResult(port_);
            break;
        case Step::kDatabase:
            if (ok) facts_.database = qv_.GetVersionResult(port_);
            break;
        case Step::kSerialNumber:
            if (ok) facts_.serial_number = qv_.GetVersionResult(port_);
            break;
    }
    timers_.KillTimer(kTimerInfo);
    ++index_;
    StartNext();
    return true;
}

void SerialDeviceInfo::Finish() {
    timers_.KillTimer(kTimerInfo);
    running_ = false;
    auto done = std::move(done_);
    done_ = nullptr;
    if (done) done(facts_);
}

void SerialDeviceInfo::Cancel() {
    timers_.KillTimer(kTimerInfo);
    running_ = false;
    done_ = nullptr;
}

}  // namespace devod
