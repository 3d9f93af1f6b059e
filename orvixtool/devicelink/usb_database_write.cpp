#include "orvixtool/devicelink/usb_database_write.h"

#include <cstdio>
#include <fstream>
#include <new>

#include "orvixtool/shell/progress_state.h"

namespace devod {

UsbDatabaseWrite::UsbDatabaseWrite(IControls& controls, ITimers& timers, IPrompt& prompt,
                                   ConnectionModel& connection,
                                   std::function<void(bool written)> on_end)
    : controls_(controls),
      timers_(timers),
      prompt_(prompt),
      connection_(connection),
      on_end_(std::move(on_end)) {}

UsbDatabaseWrite::~UsbDatabaseWrite() {
    // A write thread still running stops before its next block; its end message finds the
    // channel closed and never reaches the page.
    if (channel_) channel_->Close();
    writer_.Shutdown();
    writer_.Join();
}

bool UsbDatabaseWrite::FailStart(const std::string& text) {
    prompt_.MessageBox(text, "Error", kMbOk);
    bridge_.reset();
    return false;
}

bool UsbDatabaseWrite::Start(const std::string& path) {
    if (!write_reported_) return false;  // a write is on its way (the button is disabled)
    writer_.Join();                      // the last write has reported; its thread is ending
    if (!ui_post_) return false;         // nobody could hear how the write ends
    if (!DevicePresent()) return false;
    bridge_ = std::make_unique<PipeBridge>();
    if (!bridge_->IsLoaded()) {
        bridge_.reset();
        return false;
    }
    UniquePipe pipe(bridge_->OpenFile(kPipeOut));
    if (!pipe) return FailStart("Error : Can't open USB device.");

    std::vector<uint8_t> file;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) return FailStart("Error : Can't open File");
        in.seekg(0, std::ios::end);
        std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        try {
            file.resize(static_cast<size_t>(size < 0 ? 0 : size));
        } catch (const std::bad_alloc&) {
            char text[80];
            std::snprintf(text, sizeof text, "ERROR : Memory Allocation Fail:(%lld)]",
                          static_cast<long long>(size));
            return FailStart(text);
        }
        if (!in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(size)) ||
            in.gcount() != size) {
            return FailStart("ERROR : File Read Error");
        }
    }
    if (!IsDatabaseFile(file)) {
        return FailStart("ERROR : NO HDR File");
    }

    connection_.SetState(ConnectionState::Updating);
    const auto body = static_cast<intptr_t>(file.size() - UsbWriter::kHeaderSize);
    controls_.SendMessage(kIdProgressWrite, kPbmSetRange32, 0, body);
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    last_shown_ = 0;
    write_reported_ = false;
    channel_ = std::make_unique<SyncChannel>(ui_post_);
    SyncChannel* channel = channel_.get();
    // A device that has gone is told by open_dev of the module held for the write.
    PipeBridge* bridge = bridge_.get();
    UsbWriter::PresentFn present = [bridge] { return bridge->Probe(); };
    bool started = writer_.Start(
        std::move(file), std::move(pipe),
        [this, channel](unsigned message) {
            channel->Call([this, message] {
                if (message == kMsgWriteFinished) {
                    OnWriteFinished();
                } else {
                    OnWriteFailed();
                }
            });
        },
        nullptr, std::move(present));
    if (!started) {
        write_reported_ = true;
        channel_.reset();
        connection_.SetState(ConnectionState::Connected);
        return FailStart("ERROR : Cannot start the write");
    }
    timers_.SetTimer(kTimerWriteProgress, 200);
    return true;
}

bool UsbDatabaseWrite::OnTimer(unsigned id) {
    switch (id) {
        case kTimerWriteProgress: OnWriteProgressTimer(); return true;
        case kTimerWriteDone:
            timers_.KillTimer(kTimerWriteDone);
            prompt_.MessageBox("DB Upgrade : Completed!", "COMPLETE", kMbOk);
            return true;
        case kTimerWriteFailed:
            timers_.KillTimer(kTimerWriteFailed);
            prompt_.MessageBox(kWriteFailedText, "ERROR", kMbOk);
            return true;
        default: return false;
    }
}

void UsbDatabaseWrite::Stop() {
    if (channel_) channel_->Close();
    writer_.Shutdown();
    writer_.Join();
    timers_.KillTimer(kTimerWriteProgress);
    write_reported_ = true;
    bridge_.reset();
}

void UsbDatabaseWrite::OnWriteProgressTimer() {
    uint32_t sent = writer_.BytesSent();
    if (sent == last_shown_) return;
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, sent, 0);
    last_shown_ = sent;
}

void UsbDatabaseWrite::OnWriteFinished() {
    write_reported_ = true;
    timers_.KillTimer(kTimerWriteProgress);
    writer_.Abort();
    connection_.SetState(ConnectionState::Connected);
    timers_.SetTimer(kTimerWriteDone, 200);
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    bridge_.reset();
    Ended(true);
}

void UsbDatabaseWrite::OnWriteFailed() {
    write_reported_ = true;
    timers_.KillTimer(kTimerWriteProgress);
    writer_.Abort();
    connection_.Disconnect();
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    timers_.SetTimer(kTimerWriteFailed, 200);
    bridge_.reset();
    Ended(false);
}

void UsbDatabaseWrite::Ended(bool written) {
    if (on_end_) on_end_(written);
}

}  // namespace devod
