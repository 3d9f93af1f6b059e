// One exchange of the UserSetting page with the device over USB: it loads PipeBridge for the
// operation, shows both pages busy while it runs, opens the pipes, moves the frames, and at the
// end gives the pages back (or, when the device turned out to be gone, disconnects).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/shell/main_window_link.h"

class CUserSettingDlg;

namespace devod::usersettings {

class DeviceExchange {
public:
    // How long a read waits for the device's first byte before it fails, so that a device that
    // stops answering cannot freeze the tool.
    static constexpr int kDefaultReplyTimeoutMs = 5000;

    DeviceExchange(CUserSettingDlg& page, IMainWindow* main);
    // Closes whatever is still open and releases PipeBridge, without touching the pages.
    ~DeviceExchange();
    DeviceExchange(const DeviceExchange&) = delete;
    DeviceExchange& operator=(const DeviceExchange&) = delete;

    // Loads PipeBridge, sets the status, disables the Upgrade page's buttons and this page's
    // device controls. False, with nothing changed, when the library cannot be loaded.
    bool Begin();
    // Probes for the device (when asked) and opens PIPE00 and, when asked, PIPE01. On failure
    // the device counts as gone: everything opened is closed, PipeBridge released and the
    // connection dropped through the Upgrade page; the exchange is over and End is not called.
    bool Open(bool probe, bool open_input);
    // Writes the whole frame to PIPE00; a short write fails.
    bool Send(std::span<const uint8_t> frame);
    // One read of up to buffer.size() bytes from PIPE01, waiting at most the reply timeout for
    // the device to start answering. errno tells why it failed.
    bool Receive(std::span<uint8_t> buffer, size_t* received);
    // Closes the pipes, releases PipeBridge, shows the connection again on both pages. Does
    // nothing when Begin failed or Open gave the exchange up.
    void End();

    // For tests of a device that stops answering; not thread-safe.
    static void SetReplyTimeoutMs(int timeout_ms);

private:
    void Close();
    void Abandon();

    CUserSettingDlg& page_;
    IMainWindow* main_;
    std::unique_ptr<PipeBridge> bridge_;
    OsHandle out_ = kInvalidHandle;
    OsHandle in_ = kInvalidHandle;
    bool running_ = false;
};

}  // namespace devod::usersettings
