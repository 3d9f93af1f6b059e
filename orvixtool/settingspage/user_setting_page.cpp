#include "orvixtool/settingspage/user_setting_page.h"

#include "orvixtool/shell/command_guard.h"

namespace devod {

UserSettingPage::UserSettingPage(IPrompt& prompt, ConnectionModel& connection, QWidget* parent)
    : DialogPage(parent) {
    SetTemplateSize(379, 193);
    AddGroup(1019, "User Speed", 7, 4, 79, 143);
    const int label_ids[] = {1029, 1026, 1027, 1028, 1025};
    const int rows[] = {13, 29, 48, 65, 85};
    for (int i = 0; i < 5; ++i) {
        AddStatic(label_ids[i], QStringLiteral("%1:").arg(i + 1), 12, rows[i], 9, 13, true);
        AddEdit(1020 + i, 22, rows[i], 57, 13, false, true, true);
    }
    AddButton(1030, "Read", 12, 103, 70, 15);
    AddButton(1031, "Write", 12, 125, 70, 15);
    AddGroup(1032, "warning by second", 94, 3, 272, 60);
    AddStatic(1036, "50 mph", 107, 11, 33, 12, false);
    AddStatic(1037, "74.5mph", 107, 27, 37, 12, false);
    AddProgress(1034, 154, 11, 199, 12);
    AddProgress(1035, 154, 27, 199, 12);
    AddStatic(1041, "Mode:", 97, 44, 26, 13, true);
    AddDropList(1038, 125, 44, 143, 67);
    AddButton(1039, "Read", 272, 44, 41, 15);
    AddButton(1040, "Save", 315, 44, 41, 15);
    AddGroup(1088, "Save User DB as Excel", 94, 70, 270, 40);
    AddButton(1089, "Save", 105, 81, 245, 23);
    AddGroup(1083, "Speed Unit", 94, 120, 269, 27);
    AddRadio(1078, "Km/h", 114, 130, 39, 11, true);
    AddRadio(1080, "MPH", 163, 130, 35, 11, false);
    AddButton(1081, "Read", 242, 128, 51, 16);
    AddButton(1082, "Write", 300, 128, 47, 16);
    // The two bottom groups are one unit shorter than drawn (35), so that their bottom line
    // stays inside the page below the main window's taller tab items.
    AddGroup(1009, "Summer Time", 7, 151, 53, 34);
    AddRadio(1000, "On", 19, 162, 25, 10, true);
    AddRadio(1001, "Off", 19, 174, 27, 10, false);
    AddGroup(1059, "Local Time Setting", 68, 151, 295, 34);
    AddDropList(1002, 73, 166, 58, 62);
    AddDropList(1060, 136, 166, 134, 90);
    AddStatic(1064, "H", 273, 166, 9, 13, true);
    AddButton(1062, "Read", 286, 166, 34, 15);
    AddButton(1063, "Save", 323, 166, 35, 15);

    logic_ = std::make_unique<CUserSettingDlg>(*this, prompt, connection, &qv_link_);
    on_command = [this, &prompt](int id) { RunCommand(prompt, [&] { logic_->OnCommand(id); }); };
    on_text_changed = [this, &prompt](int id) {
        RunCommand(prompt, [&] { logic_->OnTextChanged(id); });
    };
    logic_->OnInitDialog();
}

UserSettingPage::~UserSettingPage() {
    on_command = nullptr;
    on_text_changed = nullptr;
    on_timer = nullptr;
}

}  // namespace devod
