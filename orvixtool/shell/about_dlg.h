// The About box: the program's name, version and icon, and the device connected over a serial
// port when there is one.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr, const QString& device_line = QString());

    static constexpr char kAboutItem[] = "&About DevodTool...";  // the menu item that opens it
    static constexpr int kIdDeviceLine = 1100;                   // the device line
};
