#include "qvlib/commands/device_mode.h"

namespace qv {

bool CGetDeviceMode::HasNmeaSentence(const char* text) {
    for (const char* head : {"$GPGGA", "$GPRMC", "$GPGSA", "$GPGSV"}) {
        if (HasMarker(text, head)) return true;
    }
    return false;
}

int CGetDeviceMode::CheckMode() {
    ReplyBuffer<1024> reply;
    if (RatesDiffer()) SwitchBaudRate(model_->nmea_baud);
    // A silent line ends this after one read of up to 2000 ms.
    ListenFor(reply, 1000, 2000);
    if (HasNmeaSentence(reply.text)) {
        SetMode(kModeNmea);
        return kResultSuccess;
    }
    if (RatesDiffer()) SwitchBaudRate(model_->command_baud);
    if (SendText("\r\n")) {
        Pause(100);
        // Into the same buffer from its start: a failed read leaves what was heard before.
        ReadReply(reply, 100);
        if (HasMarker(reply.text, "QV>>")) {
            SetMode(kModeDownload);
            return kResultSuccess;
        }
    }
    SetMode(kModeUnknown);
    return kResultFailure;
}

int CSetDeviceDNMode::Execute() {
    if (RatesDiffer()) SwitchBaudRate(model_->nmea_baud);
    SendText("$dnmode\r");
    Pause(100);
    // With equal rates the check reopens nothing, so the sentences the device streamed before it
    // switched would still wait in the receive buffer and make the check report normal operation.
    // With different rates the check's reopen discards them anyway.
    PurgeReceived();
    if (CheckMode() != kResultSuccess) return kResultFailure;
    return Mode() == kModeDownload ? kResultSuccess : kResultFailure;
}

int CResetDevice::Execute() {
    SendText("qq\r\n");
    int result = kResultFailure;
    for (int check = 0; check < kChecks; ++check) {
        result = CheckMode();
        if (result == kResultSuccess) break;
        Pause(kPauseAfterFailedCheckMs);
    }
    if (result != kResultSuccess) return kResultFailure;
    return Mode() == kModeNmea ? kResultSuccess : kResultFailure;
}

}  // namespace qv
