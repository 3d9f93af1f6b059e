#include "orvixtool/devicelink/serial_database_write.h"

#include "orvixtool/shell/progress_state.h"

namespace devod {

SerialDatabaseWrite::SerialDatabaseWrite(IControls& controls, ITimers& timers, IPrompt& prompt,
                                         ConnectionModel& connection, IQvLink& qv,
                                         std::function<void(bool written)> on_end)
    : controls_(controls),
      timers_(timers),
      prompt_(prompt),
      connection_(connection),
      qv_(qv),
      on_end_(std::move(on_end)) {}

bool SerialDatabaseWrite::Start(const std::string& path) {
    if (running_) return false;
    path_ = path;
    port_ = connection_.Port();
    if (qv_.ReqGetDeviceMode(port_) != 1) {
        // No session on the port: the device is gone. The write never started, so it has no end
        // to report.
        Fail(/*started=*/false);
        return false;
    }
    running_ = true;
    step_ = kStepModeCheck;
    progress_ticks_ = 0;
    connection_.SetState(ConnectionState::Updating);
    timers_.SetTimer(kTimerSerialWrite, kTickMs);
    return true;
}

bool SerialDatabaseWrite::OnTimer(unsigned id) {
    if (id != kTimerSerialWrite) return false;
    if (running_) {
        Tick();
    } else {
        timers_.KillTimer(kTimerSerialWrite);
    }
    return true;
}

void SerialDatabaseWrite::Tick() {
    if (qv_.GetQueryState(port_) != 2) {
        // The write runs: from its second tick on, the bar follows the library's progress.
        if (step_ == kStepWrite && progress_ticks_++ > 0) {
            controls_.SendMessage(kIdProgressWrite, kPbmSetRange32,
                                  static_cast<uintptr_t>(qv_.GetQueryProgressMin(port_)),
                                  qv_.GetQueryProgressMax(port_));
            controls_.SendMessage(kIdProgressWrite, kPbmSetPos,
                                  static_cast<uintptr_t>(qv_.GetQueryProgressPos(port_)), 0);
        }
        return;
    }
    switch (step_) {
        case kStepModeCheck: {
            const int mode = qv_.GetDeviceModeResult(port_);
            if (mode == 2) {
                Request(qv_.ReqEraseDB(port_) == 1, kStepErase);
            } else if (mode == 0 || mode == 1 || mode == 3) {
                Request(qv_.ReqSetDeviceDNMode(port_) == 1, kStepDownloadMode);
            } else {
                // A mode the library never reports: waiting on it would never end.
                Fail();
            }
            break;
        }
        case kStepDownloadMode: Request(qv_.ReqEraseDB(port_) == 1, kStepErase); break;
        case kStepErase:
            if (qv_.GetQueryResult(port_) != 1) {
                Fail();
            } else if (qv_.ReqWriteDB(port_, path_) == 1) {
                progress_ticks_ = 0;
                step_ = kStepWrite;
            } else {
                Fail();
            }
            break;
        case kStepWrite:
            if (qv_.GetQueryResult(port_) == 1) {
                Succeed();
            } else {
                Fail();
            }
            break;
        default: Fail(); break;
    }
}

void SerialDatabaseWrite::Request(bool accepted, Step next) {
    if (!accepted) {
        Fail();
        return;
    }
    step_ = next;
}

void SerialDatabaseWrite::Succeed() {
    timers_.KillTimer(kTimerSerialWrite);
    running_ = false;
    connection_.SetState(ConnectionState::Connected);
    // The end is reported before the owner is told, as on USB: the update log hears of the
    // written file even when the program is closed while the box is open.
    if (on_end_) on_end_(true);
    prompt_.MessageBox(kCompletedText, "COMPLETE", kMbOk);
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    step_ = kStepModeCheck;
}

void SerialDatabaseWrite::Fail(bool started) {
    step_ = kStepFailed;
    timers_.KillTimer(kTimerSerialWrite);
    running_ = false;
    connection_.Disconnect();
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    if (started && on_end_) on_end_(false);
    prompt_.MessageBox(kWriteFailedText, "ERROR", kMbOk);
}

void SerialDatabaseWrite::Stop() {
    timers_.KillTimer(kTimerSerialWrite);
    running_ = false;
}

}  // namespace devod
