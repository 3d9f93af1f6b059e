#include "orvixtool/shell/main_window.h"

#include <QContextMenuEvent>
#include <QFrame>
#include <QIcon>
#include <QMenu>
#include <QPushButton>

#include "orvixtool/devicelink/upgrade_page.h"
#include "orvixtool/settingspage/user_setting_page.h"
#include "orvixtool/shell/about_dlg.h"
#include "orvixtool/shell/command_guard.h"
#include "orvixtool/shell/dialog_units.h"

using namespace devod;

CDevodToolDlg::CDevodToolDlg(IPrompt& prompt, IWebPrompt* web_prompt, QWidget* parent)
    // A caption bar without the system-menu box: no close button.
    : CDialogSK(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      prompt_(prompt) {
    setWindowTitle(QStringLiteral("DevodTool"));
    setFont(DialogFont());
    DialogUnits units(font());
    setFixedSize(units.Size(436, 252));
    SetBitmap(QStringLiteral(":/images/background.png"));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));

    label_ = PlaceControl<QLineEdit>(this, units, kIdConnectionLabel, 14, 230, 67, 15);
    status_ = PlaceControl<QLineEdit>(this, units, kIdStatus, 87, 230, 256, 15);
    for (QLineEdit* field : {label_, status_}) {
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::NoFocus);
    }
    auto* exit = PlaceControl<QPushButton>(this, units, kIdExit, 350, 230, 65, 15);
    exit->setText(QStringLiteral("Exit"));
    exit->setAutoDefault(false);
    connect(exit, &QPushButton::clicked, this, &CDevodToolDlg::OnExit);

    tab_control_ = PlaceControl<QWidget>(this, units, kIdTab, 14, 27, 401, 201);
    auto* frame = new QFrame(tab_control_);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setAutoFillBackground(true);
    tab_bar_ = new QTabBar(tab_control_);
    tab_bar_->addTab(QStringLiteral("Upgrade"));
    tab_bar_->addTab(QStringLiteral("UserSetting"));
    tab_bar_->move(0, 0);
    tab_bar_->adjustSize();
    // Each page is created with its own initialisation, as a child of the tab control, and
    // placed right below the tab items across the rest of the control.
    upgrade_ = new devod::UpgradePage(prompt_, connection_, web_prompt, tab_control_);
    settings_ = new devod::UserSettingPage(prompt_, connection_, tab_control_);
    const QRect items = tab_bar_->tabRect(0);
    const QRect client = tab_control_->rect();
    const int top = items.y() + items.height() + 1;
    const QRect page(items.x(), top, client.width() - items.x() - 1, client.height() - top - 1);
    frame->setGeometry(0, top - 1, client.width(), client.height() - top + 1);
    for (QWidget* w : {static_cast<QWidget*>(upgrade_), static_cast<QWidget*>(settings_)}) {
        w->setGeometry(page);
    }
    connect(tab_bar_, &QTabBar::currentChanged, this, &CDevodToolDlg::OnTabChanged);
    tab_bar_->setCurrentIndex(0);
    OnTabChanged(0);
    upgrade_->Logic().SetMainWindow(this);
}

CDevodToolDlg::~CDevodToolDlg() {
    // The pages go first, while the window they point back to still exists; the connection they
    // observe tells nobody any more.
    connection_.ClearListeners();
    delete upgrade_;
    upgrade_ = nullptr;
    delete settings_;
    settings_ = nullptr;
}

void CDevodToolDlg::SetStatus(const std::string& text) {
    status_->setText(QString::fromStdString(text));
}

std::string CDevodToolDlg::Status() const { return status_->text().toStdString(); }

void CDevodToolDlg::SetConnectionLabel(const std::string& text) {
    label_->setText(QString::fromStdString(text));
}

std::string CDevodToolDlg::ConnectionLabel() const { return label_->text().toStdString(); }

CUpgradeDlgHttp* CDevodToolDlg::UpgradeLogic() {
    return upgrade_ != nullptr ? &upgrade_->Logic() : nullptr;
}

bool CDevodToolDlg::WriteRunning() {
    CUpgradeDlgHttp* upgrade = UpgradeLogic();
    return upgrade != nullptr && upgrade->WriteRunning();
}

void CDevodToolDlg::OnTabChanged(int index) {
    // Only shown and hidden: neither page is initialised again and both keep their timers.
    upgrade_->setVisible(index == 0);
    settings_->setVisible(index != 0);
}

void CDevodToolDlg::OnExit() {
    if (WriteRunning()) {
        if (prompt_.MessageBox(kExitDuringWriteQuestion, "EXIT", kMbYesNo) != kIdYes) return;
        // The write may have ended while the question was open; stopping is then a no-op.
        UpgradeLogic()->StopWrite();
        accept();
        return;
    }
    if (prompt_.MessageBox(kExitQuestion, "EXIT", kMbYesNo) == kIdYes) accept();
}

void CDevodToolDlg::reject() {
    if (WriteRunning()) return;
    CDialogSK::reject();
}

void CDevodToolDlg::ShowAbout() {
    CUpgradeDlgHttp* upgrade = UpgradeLogic();
    CAboutDlg about(this,
                    upgrade != nullptr ? QString::fromStdString(upgrade->DeviceLine()) : QString());
    about.exec();
}

void CDevodToolDlg::ChooseSerialPort() {
    CUpgradeDlgHttp* upgrade = UpgradeLogic();
    if (upgrade == nullptr) return;
    RunCommand(prompt_, [&] { upgrade->ChooseSerialPortByHand(); });
}

void CDevodToolDlg::RestoreBackup() {
    CUpgradeDlgHttp* upgrade = UpgradeLogic();
    if (upgrade == nullptr) return;
    RunCommand(prompt_, [&] { upgrade->RestoreBackupByHand(); });
}

void CDevodToolDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromLatin1(CAboutDlg::kAboutItem), this, &CDevodToolDlg::ShowAbout);
    QAction* serial = menu.addAction(QString::fromLatin1(kSerialPortItem), this,
                                     &CDevodToolDlg::ChooseSerialPort);
    serial->setEnabled(UpgradeLogic() != nullptr && UpgradeLogic()->SerialLinkAvailable() &&
                       !WriteRunning());
    QAction* restore =
        menu.addAction(QString::fromLatin1(kRestoreItem), this, &CDevodToolDlg::RestoreBackup);
    restore->setEnabled(!WriteRunning());
    menu.exec(event->globalPos());
}
