// The UserSetting page's operations for a device on a serial port, through QVLib's settings
// lists and user point database.
#include "orvixtool/settingspage/serial_settings.h"
#include "orvixtool/settingspage/settings_codec.h"
#include "orvixtool/settingspage/user_setting_dlg.h"
#include "qvlib/util/clock.h"

using namespace devod::usersettings;

bool CUserSettingDlg::RunSerialRequest(int (devod::IQvLink::*request)(int)) {
    const int port = connection_.Port();
    if ((qv_->*request)(port) != 1) return false;
    connection_.SetBusy(true);
    // The library ends every request on its own; the limit only guards against one that never
    // does.
    const uint64_t deadline = util::NowMs() + kSerialRequestLimitMs;
    bool done = false;
    while (!(done = qv_->GetQueryState(port) == 2) && util::NowMs() < deadline) util::SleepMs(10);
    connection_.SetBusy(false);
    return done && qv_->GetQueryResult(port) == 1;
}

void CUserSettingDlg::ReadSerialSettings() {
    if (!RunSerialRequest(&devod::IQvLink::ReqGetUserSetting)) return;
    serial_lists_ = qv_->GetSettings(connection_.Port());
    SettingsView view{settings_, speeds_, summer_time_};
    view = ViewOfSerialSettings(serial_lists_, view);
    settings_ = view.settings;
    speeds_ = view.speeds;
    summer_time_ = view.summer_time;
    RefreshControls();
    ShowSettingsBlock();
    for (size_t i = 0; i < speeds_.size(); ++i) {
        controls_.SetText(kIdUserSpeed1 + static_cast<int>(i), std::to_string(speeds_[i]));
    }
}

void CUserSettingDlg::WriteSerialSettings(const char* done_text) {
    const SettingsView view{settings_, speeds_, summer_time_};
    const devod::SerialSettings lists = SerialSettingsOfView(view, serial_lists_);
    qv_->SetSettings(connection_.Port(), lists);
    if (!RunSerialRequest(&devod::IQvLink::ReqSetUserSetting)) {
        prompt_.MessageBox(kSerialFailedText, devod::kAppTitle, devod::kMbOk);
        return;
    }
    serial_lists_ = lists;
    prompt_.MessageBox(done_text, devod::kAppTitle, devod::kMbOk);
}
