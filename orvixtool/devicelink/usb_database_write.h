// The database write over USB: the checks before it starts, the write thread, the progress timer
// and the outcome shown when the thread ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "orvixtool/devicelink/connection_model.h"
#include "orvixtool/devicelink/database_source.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/sync_channel.h"
#include "orvixtool/devicelink/usb_writer.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

class UsbDatabaseWrite : public IDatabaseWrite {
public:
    enum : int { kIdProgressWrite = 1018 };
    enum : unsigned {
        kTimerWriteProgress = 4100,  // copies the write progress to 1018
        kTimerWriteDone = 4101,      // completion message
        kTimerWriteFailed = 4102,    // failure message
    };
    static constexpr char kWriteFailedText[] = "Error : DB write fail   \n\n  Retry to download!";

    // `on_end` is told, on the page's thread, whether each started write got into the device.
    UsbDatabaseWrite(IControls& controls, ITimers& timers, IPrompt& prompt,
                     ConnectionModel& connection, std::function<void(bool written)> on_end);
    // Stops a running write at its next block and waits for its thread.
    ~UsbDatabaseWrite() override;

    // How the write thread reaches the page's thread (a queue the user-interface thread runs).
    void SetUiPost(SyncChannel::Post post) { ui_post_ = std::move(post); }

    // Checks and reads the file, shows the Updating state and starts the write thread.
    bool Start(const std::string& path) override;
    bool OnTimer(unsigned id) override;
    bool Running() const override { return !write_reported_; }
    void Stop() override;

    // The write thread's end, delivered on the page's thread.
    void OnWriteFinished();
    void OnWriteFailed();
    void OnWriteProgressTimer();
    const UsbWriter& Writer() const { return writer_; }

private:
    bool FailStart(const std::string& text);
    void Ended(bool written);

    IControls& controls_;
    ITimers& timers_;
    IPrompt& prompt_;
    ConnectionModel& connection_;
    std::function<void(bool)> on_end_;
    // The running write: the thread, the PipeBridge module held for it, and the channel its end
    // messages travel on.
    UsbWriter writer_;
    std::unique_ptr<PipeBridge> bridge_;
    std::unique_ptr<SyncChannel> channel_;
    SyncChannel::Post ui_post_;
    uint32_t last_shown_ = 0;
    bool write_reported_ = true;
};

}  // namespace devod
