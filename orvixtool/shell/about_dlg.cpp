#include "orvixtool/shell/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "orvixtool/shell/dialog_units.h"

CAboutDlg::CAboutDlg(QWidget* parent, const QString& device_line) : QDialog(parent) {
    using devod::PlaceControl;
    setWindowTitle(QStringLiteral("About DevodTool"));
    setFont(devod::DialogFont());
    devod::DialogUnits units(font());
    const bool device = !device_line.isEmpty();
    setFixedSize(units.Size(device ? 230 : 170, device ? 76 : 62));
    auto* icon = PlaceControl<QLabel>(this, units, -1, 11, 17, 20, 20);
    icon->setPixmap(QIcon(QStringLiteral(":/images/icon.png")).pixmap(units.Size(20, 20)));
    auto* name = PlaceControl<QLabel>(this, units, -1, 40, 10, 119, 8);
    name->setText(QStringLiteral("DevodTool, Version 1.0"));
    auto* line = PlaceControl<QLabel>(this, units, -1, 40, 25, 119, 8);
    line->setText(QStringLiteral("Database updates and user settings for the Z31"));
    if (device) {
        auto* facts = PlaceControl<QLabel>(this, units, kIdDeviceLine, 40, 40, 185, 8);
        facts->setText(device_line);
    }
    auto* ok =
        PlaceControl<QPushButton>(this, units, 1, device ? 173 : 113, device ? 55 : 41, 50, 14);
    ok->setText(QStringLiteral("OK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
