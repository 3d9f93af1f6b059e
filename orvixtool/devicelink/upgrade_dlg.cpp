#include "orvixtool/devicelink/upgrade_dlg.h"

#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/shell/command_guard.h"
#include "orvixtool/shell/progress_look.h"

using namespace devod;

namespace {

constexpr ColorRef kWhite = 0x00FFFFFF;
constexpr ColorRef kBlue = 0x00FF6633;

}  // namespace

CUpgradeDlgHttp::CUpgradeDlgHttp(IControls& controls, ITimers& timers, IPrompt& prompt,
                                 IWebPrompt& web_prompt, ConnectionModel& connection)
    : controls_(controls),
      timers_(timers),
      prompt_(prompt),
      connection_(connection),
      web_source_(prompt, web_prompt, database_path_),
      usb_write_(controls, timers, prompt, connection,
                 [this](bool written) { OnWriteEnded(written); }) {
    connection_.SetKind(kNoConnection);
    connection_.AddListener([this](const ConnectionModel& model) { OnConnectionChanged(model); });
}

CUpgradeDlgHttp::~CUpgradeDlgHttp() = default;

bool CUpgradeDlgHttp::OnInitDialog() {
    SetProgressLook(controls_, kIdProgressConnect, {false, kWhite, kBlue, kBlue, kWhite});
    controls_.SendMessage(kIdProgressConnect, kPbmSetRange32, 0, 4);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);

    SetProgressLook(controls_, kIdProgressWrite, {true, kWhite, kBlue, kWhite, kBlue});

    timers_.SetTimer(kTimerStartup, 500);
    return true;
}

void CUpgradeDlgHttp::OnCommand(int id) {
    switch (id) {
        case kIdConnect: OnAutoConnect(); break;
        case kIdDisconnect: OnDisconnect(); break;
        case kIdUpdateDatabase: OnUpdateDatabase(); break;
        default: break;
    }
}

void CUpgradeDlgHttp::OnTimer(unsigned id) {
    switch (id) {
        case kTimerStartup:
            timers_.KillTimer(kTimerStartup);
            OnAutoConnect();
            break;
        case kTimerProbe:
            timers_.KillTimer(kTimerProbe);
            if (DevicePresent()) {
                connection_.SetKind(kUsbConnection);
                if (main_ != nullptr) main_->SetConnectionLabel("USB");
                ShowConnected();
            } else {
                OnDisconnect();
                controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
                prompt_.MessageBox(kConnectFailedText, "FAIL", kMbOk);
            }
            break;
        default: usb_write_.OnTimer(id); break;
    }
}

void CUpgradeDlgHttp::OnAutoConnect() {
    EnterState(State::Finding);
    timers_.SetTimer(kTimerProbe, 100);
}

void CUpgradeDlgHttp::ShowConnected() {
    EnterState(State::Connected);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
    connection_.AnnounceConnected();  // the settings page reads the device's settings
    // The reads may have found the device gone and dropped the connection: then there is no
    // success to tell.
    if (connection_.State() != State::Connected || connection_.Kind() == kNoConnection) return;
    prompt_.MessageBox("", "SUCCESS", kMbOk);
}

void CUpgradeDlgHttp::OnDisconnect() { connection_.Disconnect(); }

void CUpgradeDlgHttp::EnableButtons(bool connect, bool disconnect, bool update) {
    controls_.Enable(kIdConnect, connect);
    controls_.Enable(kIdDisconnect, disconnect);
    controls_.Enable(kIdUpdateDatabase, update);
}

void CUpgradeDlgHttp::OnConnectionChanged(const ConnectionModel& model) {
    const char* status = nullptr;
    switch (model.State()) {
        case State::NotConnected: return;
        case State::Finding:
            status = "Find the GPS";
            EnableButtons(false, false, false);
            break;
        case State::Connected:
            status = "Connected";
            // A settings exchange holds the device: nothing else may start meanwhile.
            EnableButtons(false, !model.Busy(), !model.Busy());
            break;
        case State::Disconnected:
            status = "Disconnect";
            EnableButtons(true, false, false);
            controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
            break;
        case State::Updating:
            status = "Updating DB";
            EnableButtons(false, false, false);
            break;
    }
    if (main_ != nullptr) main_->SetStatus(status);
}

bool CUpgradeDlgHttp::PrepareDatabaseFile() {
    pending_ = web_source_.Prepare();
    return pending_.has_value();
}

void CUpgradeDlgHttp::OnUpdateDatabase() {
    if (!PrepareDatabaseFile()) return;
    if (connection_.Kind() == kUsbConnection && StartUsbWrite()) return;  // reported at its end
    ReportPending(false);
}

void CUpgradeDlgHttp::OnWriteEnded(bool written) {
    // Runs from the write thread's end message, outside any command: an internet failure of the
    // log is shown here.
    RunCommand(prompt_, [&] { ReportPending(written); });
}

void CUpgradeDlgHttp::ReportPending(bool written) {
    if (!pending_) return;
    ConfirmedDatabase database = std::move(*pending_);
    pending_.reset();
    web_source_.Report(database, written);
}

void CUpgradeDlgHttp::StopWrite() {
    if (!usb_write_.Running()) return;
    usb_write_.Stop();
    RunCommand(prompt_, [&] { ReportPending(false); });
}
