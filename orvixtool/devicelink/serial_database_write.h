// The database write to a device on a serial port, through QVLib: a step machine on timer 4098
// that checks the device's mode, puts it into download mode when it is not there, erases the
// database area and writes the file, copying the library's progress to bar 1018. Every step waits
// for the library's previous request to end (query state 2) before it starts the next one.
#pragma once

#include <functional>
#include <string>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/database_source.h"
#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

class SerialDatabaseWrite : public IDatabaseWrite {
public:
    enum : int { kIdProgressWrite = 1018 };
    enum : unsigned { kTimerSerialWrite = 4098 };
    enum Step : int {
        kStepModeCheck = 0,
        kStepDownloadMode = 1,
        kStepErase = 3,
        kStepWrite = 4,
        kStepFailed = 100,
    };
    static constexpr unsigned kTickMs = 100;
    static constexpr char kCompletedText[] = "DB Upgrade : Completed!";
    static constexpr char kWriteFailedText[] = "Error : DB write fail   \n\n  Retry to download!";

    // `on_end` is told, on the page's thread, whether each started write got into the device.
    SerialDatabaseWrite(IControls& controls, ITimers& timers, IPrompt& prompt,
                        ConnectionModel& connection, IQvLink& qv,
                        std::function<void(bool written)> on_end);

    // Asks for the device's mode on the connection's port, shows the Updating state and starts the
    // steps. False, with the failure shown, when the library takes no request on that port.
    bool Start(const std::string& path) override;
    bool OnTimer(unsigned id) override;
    bool Running() const override { return running_; }
    // Stops the steps (the window is closing). The library's running request ends when the port
    // is closed.
    void Stop() override;

    int CurrentStep() const { return step_; }

private:
    void Tick();
    // Hands a request to the library; a refused request fails the write, since the query state
    // would still be that of the previous request.
    void Request(bool accepted, Step next);
    void Succeed();
    void Fail(bool started = true);

    IControls& controls_;
    ITimers& timers_;
    IPrompt& prompt_;
    ConnectionModel& connection_;
    IQvLink& qv_;
    std::function<void(bool)> on_end_;
    std::string path_;
    int port_ = 0;
    int step_ = kStepModeCheck;
    int progress_ticks_ = 0;
    bool running_ = false;
};

}  // namespace devod
