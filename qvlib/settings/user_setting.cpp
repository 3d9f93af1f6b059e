#include "qvlib/settings/user_setting.h"

#include <string>

namespace qv {

int CGetUserSetting::Execute() {
    SendText("ra\r");
    Pause(100);
    SendText("y");
    Pause(100);
    ReplyBuffer<1024> reply;
    ReadReply(reply, 1000);
    if (!HasMarker(reply.text, "Completed!")) return kResultFailure;
    const auto words = FindSettingsWords(reply.text);
    if (!words) return kResultFailure;
    SettingsLists lists = ListsFromWords(*words);
    std::lock_guard lock(lists_->mutex);
    lists_->settings = std::move(lists);
    return kResultSuccess;
}

int CSetUserSetting::Execute() {
    SendText("wa\r");
    Pause(100);
    SendText("y");
    Pause(100);
    const std::string text = FormatSettingsWrite(copies_);
    SendText(text.data(), static_cast<uint32_t>(text.size()));
    Pause(100);
    ReplyBuffer<1024> reply;
    ReadReply(reply, 100);
    return HasMarker(reply.text, "WriteSucceed!") ? kResultSuccess : kResultFailure;
}

}  // namespace qv
