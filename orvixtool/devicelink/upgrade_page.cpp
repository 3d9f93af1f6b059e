#include "orvixtool/devicelink/upgrade_page.h"

#include <QPushButton>

#include "orvixtool/shell/command_guard.h"

namespace devod {

UpgradePage::UpgradePage(IPrompt& prompt, ConnectionModel& connection, IWebPrompt* web_prompt,
                         QWidget* parent)
    : DialogPage(parent), web_prompt_(this) {
    SetTemplateSize(384, 183);
    AddGroup(1013, "Connect GPS", 10, 7, 362, 83);
    AddButton(1009, "Click here to auto\r\nconnect GPS to PC", 14, 17, 150, 42);
    AddButton(1012, "DISCONNECT", 216, 17, 151, 42);
    AddProgress(1006, 14, 68, 354, 15);
    AddGroup(1016, "DB Upgrade", 10, 96, 362, 80);
    AddButton(1017, "Click here to update GPS database", 14, 107, 353, 42);
    AddProgress(1018, 14, 155, 354, 14);

    logic_ = std::make_unique<CUpgradeDlgHttp>(*this, *this, prompt,
                                               web_prompt != nullptr ? *web_prompt : web_prompt_,
                                               connection, &qv_link_);
    on_command = [this, &prompt](int id) { RunCommand(prompt, [&] { logic_->OnCommand(id); }); };
    on_timer = [this, &prompt](unsigned id) { RunCommand(prompt, [&] { logic_->OnTimer(id); }); };
    // The write thread's end messages run on this page's thread; queued calls to a page that
    // has gone are dropped (and the page closes the channel before it goes).
    logic_->SetUiPost([this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    });
    logic_->OnInitDialog();

    // The two large buttons use a bold face: Tahoma, 15 pixels high, where installed.
    bold_font_.setFamilies(
        {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    bold_font_.setPixelSize(15);
    bold_font_.setWeight(QFont::Bold);
    for (int id : {1009, 1017}) Control(id)->setFont(bold_font_);
}

UpgradePage::~UpgradePage() {
    // Timers must not fire into a half-destroyed page; a running write stops first.
    on_timer = nullptr;
    on_command = nullptr;
    logic_.reset();
}

}  // namespace devod
