#include "orvixtool/devicelink/upgrade_dlg.h"

#include "orvixtool/devicelink/connection_kind.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "orvixtool/shell/progress_look.h"

using namespace devod;

namespace {


constexpr ColorRef kWhite = 0x00FFFFFF;
constexpr ColorRef kBlue = 0x00FF6633;

}  // namespace

CUpgradeDlgHttp::CUpgradeDlgHttp(IControls& controls, ITimers& timers, IPrompt& prompt)
    : controls_(controls), timers_(timers), prompt_(prompt) {
    SetConnectionKind(kNoConnection);
}

CUpgradeDlgHttp::~CUpgradeDlgHttp() {
    // A write thread still running stops before its next block; its end message finds the
    // channel closed and never reaches this page.
    if (channel_) channel_->Close();
    writer_.Shutdown();
    writer_.Join();
}

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
                SetConnectionKind(kUsbConnection);
                if (main_ != nullptr) main_->SetConnectionLabel("USB");
                ShowConnected();
            } else {
                OnDisconnect();
                controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
                prompt_.MessageBox(kConnectFailedText, "FAIL", kMbOk);
            }
            break;
        case kTimerWriteProgress: OnWriteProgressTimer(); break;
        case kTimerWriteDone:
            timers_.KillTimer(kTimerWriteDone);
            prompt_.MessageBox("DB Upgrade : Completed!", "COMPLETE", kMbOk);
            break;
        case kTimerWriteFailed:
            timers_.KillTimer(kTimerWriteFailed);
            prompt_.MessageBox(kWriteFailedText, "ERROR", kMbOk);
            break;
        default: break;
    }
}

void CUpgradeDlgHttp::OnAutoConnect() {
    EnterState(State::Finding);
    timers_.SetTimer(kTimerProbe, 100);
}

void CUpgradeDlgHttp::ShowConnected() {
    EnterState(State::Connected);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
    if (GetConnectionKind() == kUsbConnection && main_ != nullptr && main_->SettingPage()) {
        main_->SettingPage()->ReadSettings();
        main_->SettingPage()->ReadUserSpeeds();
    }
    prompt_.MessageBox("", "SUCCESS", kMbOk);
}

void CUpgradeDlgHttp::OnDisconnect() {
    SetConnectionKind(kNoConnection);
    EnterState(State::Disconnected);
    controls_.SendMessage(kIdProgressConnect, kPbmSetPos, 0, 0);
}

void CUpgradeDlgHttp::EnableButtons(bool connect, bool disconnect, bool update) {
    controls_.Enable(kIdConnect, connect);
    controls_.Enable(kIdDisconnect, disconnect);
    controls_.Enable(kIdUpdateDatabase, update);
}

void CUpgradeDlgHttp::EnterState(State state) {
    CUserSettingDlg* settings = main_ != nullptr ? main_->SettingPage() : nullptr;
    const char* status = "";
    switch (state) {
        case State::Finding:
            status = "Find the GPS";
            EnableButtons(false, false, false);
            if (settings) settings->ApplyConnectionState(1);
            break;
        case State::Connected:
            status = "Connected";
            EnableButtons(false, true, true);
            if (settings) settings->ApplyConnectionState(2);
            break;
        case State::Disconnected:
            status = "Disconnect";
            EnableButtons(true, false, false);
            if (settings) settings->ShowDisconnected();
            break;
        case State::Updating:
            status = "Updating DB";
            EnableButtons(false, false, false);
            if (settings) settings->ShowUpdating();
            break;
    }
    if (main_ != nullptr) main_->SetStatus(status);
}
