// The program's prompt: message boxes and file dialogs as Qt shows them.
#pragma once

#include <QPointer>
#include <QWidget>

#include "orvixtool/shell/dialog_host.h"

namespace devod {

class QtPrompt : public IPrompt {
public:
    explicit QtPrompt(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    int MessageBox(const std::string& text, const std::string& caption, unsigned style) override;
    std::optional<std::string> FileDialog(const FileDialogRequest& request) override;
    void SetWaitCursor(bool waiting) override;
    std::optional<SerialChoice> ChooseSerialPort(const std::vector<std::string>& models,
                                                 const SerialChoice& initial) override;

    // "csv Files (*.xls)|*.xls|" → "csv Files (*.xls)": each description with its pattern.
    static QString ToQtFilter(const std::string& filter);

private:
    QPointer<QWidget> parent_;
};

}  // namespace devod
