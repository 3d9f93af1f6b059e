// The Upgrade page's side of the database write: the checks before the thread starts, the
// progress timer and the thread's end.
#include <cstdio>
#include <fstream>
#include <new>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/shell/progress_state.h"

using namespace devod;

void CUpgradeDlgHttp::SetUiPost(SyncChannel::Post post) { ui_post_ = std::move(post); }

bool CUpgradeDlgHttp::FailStart(const std::string& text) {
    prompt_.MessageBox(text, "Error", kMbOk);
    write_bridge_.reset();
    return false;
}

bool CUpgradeDlgHttp::StartUsbWrite() {
    if (writer_.Running()) {
        if (!write_reported_) return false;  // a write is on its way (the button is disabled)
        writer_.Join();                      // the last write has reported; its thread is ending
    }
    if (!ui_post_) return false;  // nobody could hear how the write ends
    if (!DevicePresent()) return false;
    write_bridge_ = std::make_unique<PipeBridge>();
    if (!write_bridge_->IsLoaded()) {
        write_bridge_.reset();
        return false;
    }
    OsHandle pipe = write_bridge_->OpenFile(kPipeOut);
    if (pipe == kInvalidHandle) return FailStart("Error : Can't open USB device.");

    std::vector<uint8_t> file;
    {
        std::ifstream in(database_path_, std::ios::binary);
        if (!in) {
            CloseHandle(pipe);
            return FailStart("Error : Can't open File");
        }
        in.seekg(0, std::ios::end);
        std::streamoff size = in.tellg();
        in.seekg(0, std::ios::beg);
        try {
            file.resize(static_cast<size_t>(size < 0 ? 0 : size));
        } catch (const std::bad_alloc&) {
            CloseHandle(pipe);
            char text[80];
            std::snprintf(text, sizeof text, "ERROR : Memory Allocation Fail:(%lld)]",
                          static_cast<long long>(size));
            return FailStart(text);
        }
        if (!in.read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(size)) ||
            in.gcount() != size) {
            CloseHandle(pipe);
            return FailStart("ERROR : File Read Error");
        }
    }
    if (file.size() <= UsbWriter::kHeaderSize || file[0] != '$') {
        CloseHandle(pipe);
        return FailStart("ERROR : NO HDR File");
    }

    EnterState(State::Updating);
    const auto body = static_cast<intptr_t>(file.size() - UsbWriter::kHeaderSize);
    controls_.SendMessage(kIdProgressWrite, kPbmSetRange32, 0, body);
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    last_shown_ = 0;
    write_reported_ = false;
    channel_ = std::make_unique<SyncChannel>(ui_post_);
    SyncChannel* channel = channel_.get();
    bool started = writer_.Start(std::move(file), pipe, [this, channel](unsigned message) {
        channel->Call([this, message] {
            if (message == kMsgWriteFinished) OnWriteFinished();
            else OnWriteFailed();
        });
    });
    if (!started) {
        CloseHandle(pipe);
        channel_.reset();
        EnterState(State::Connected);
        return FailStart("ERROR : Cannot start the write");
    }
    timers_.SetTimer(kTimerWriteProgress, 200);
    return true;
}

void CUpgradeDlgHttp::OnWriteProgressTimer() {
    uint32_t sent = writer_.BytesSent();
    if (sent == last_shown_) return;
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, sent, 0);
    last_shown_ = sent;
}

void CUpgradeDlgHttp::OnWriteFinished() {
    write_reported_ = true;
    timers_.KillTimer(kTimerWriteProgress);
    writer_.Abort();
    EnterState(State::Connected);
    timers_.SetTimer(kTimerWriteDone, 200);
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    write_bridge_.reset();
}

void CUpgradeDlgHttp::OnWriteFailed() {
    write_reported_ = true;
    timers_.KillTimer(kTimerWriteProgress);
    writer_.Abort();
    OnDisconnect();
    controls_.SendMessage(kIdProgressWrite, kPbmSetPos, 0, 0);
    timers_.SetTimer(kTimerWriteFailed, 200);
    write_bridge_.reset();
}
