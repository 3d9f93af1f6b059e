#include "orvixtool/settingspage/device_exchange.h"

#include <poll.h>

#include <cerrno>

#include "orvixtool/devicelink/upgrade_dlg.h"
#include "orvixtool/settingspage/user_setting_dlg.h"

namespace devod::usersettings {
namespace {

constexpr char kConnectedStatus[] = "Connected";
int g_reply_timeout_ms = DeviceExchange::kDefaultReplyTimeoutMs;

// Waits until the handle has something to read (data, end of file or an error, all of which the
// read then reports). False with errno set on a time-out or a failed wait.
bool WaitReadable(OsHandle handle) {
    pollfd entry{handle, POLLIN, 0};
    int ready;
    do {
        ready = poll(&entry, 1, g_reply_timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) errno = ETIMEDOUT;
    return ready > 0;
}

}  // namespace

void DeviceExchange::SetReplyTimeoutMs(int timeout_ms) { g_reply_timeout_ms = timeout_ms; }

DeviceExchange::DeviceExchange(CUserSettingDlg& page, IMainWindow* main)
    : page_(page), main_(main) {}

DeviceExchange::~DeviceExchange() { Close(); }

bool DeviceExchange::Begin() {
    bridge_ = std::make_unique<PipeBridge>();
    if (!bridge_->IsLoaded()) {
        bridge_.reset();
        return false;
    }
    if (main_ != nullptr) {
        main_->SetStatus(kConnectedStatus);
        if (CUpgradeDlgHttp* upgrade = main_->UpgradePage()) {
            upgrade->EnableButtons(false, false, false);
        }
    }
    running_ = true;
    page_.ShowUpdating();
    return true;
}

bool DeviceExchange::Open(bool probe, bool open_input) {
    if (!bridge_) return false;
    bool ok = !probe || bridge_->Probe();
    if (ok) {
        out_ = bridge_->OpenFile(kPipeOut);
        ok = out_ != kInvalidHandle;
    }
    if (ok && open_input) {
        in_ = bridge_->OpenFile(kPipeIn);
        ok = in_ != kInvalidHandle;
    }
    if (!ok) Abandon();
    return ok;
}

bool DeviceExchange::Send(std::span<const uint8_t> frame) {
    size_t written = 0;
    if (!WriteFile(out_, frame.data(), frame.size(), &written)) return false;
    if (written != frame.size()) {
        errno = EIO;
        return false;
    }
    return true;
}

bool DeviceExchange::Receive(std::span<uint8_t> buffer, size_t* received) {
    *received = 0;
    if (in_ == kInvalidHandle) {
        errno = EBADF;
        return false;
    }
    if (!WaitReadable(in_)) return false;
    return ReadFile(in_, buffer.data(), buffer.size(), received);
}

void DeviceExchange::End() {
    if (!running_) return;
    running_ = false;
    Close();
    if (main_ != nullptr) {
        main_->SetStatus(kConnectedStatus);
        if (CUpgradeDlgHttp* upgrade = main_->UpgradePage()) {
            upgrade->EnableButtons(false, true, true);
        }
    }
    page_.ApplyConnectionState(2);
}

void DeviceExchange::Close() {
    CloseHandle(out_);
    CloseHandle(in_);
    out_ = in_ = kInvalidHandle;
    bridge_.reset();
}

void DeviceExchange::Abandon() {
    running_ = false;
    Close();
    CUpgradeDlgHttp* upgrade = main_ != nullptr ? main_->UpgradePage() : nullptr;
    if (upgrade != nullptr) {
        upgrade->OnDisconnect();
    } else {
        page_.ShowDisconnected();  // no Upgrade page to drop the connection: show it dropped here
    }
}

}  // namespace devod::usersettings
