#include "orvixtool/shell/qt_prompt.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QMessageBox>
#include <QSpinBox>
#include <QStringList>

namespace devod {

int QtPrompt::MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    QMessageBox box(parent_);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    switch (style & 0xF0) {
        case kMbIconStop: box.setIcon(QMessageBox::Critical); break;
        case kMbIconQuestion: box.setIcon(QMessageBox::Question); break;
        case kMbIconExclamation: box.setIcon(QMessageBox::Warning); break;
        case kMbIconInformation: box.setIcon(QMessageBox::Information); break;
        default: break;
    }
    switch (style & 0xF) {
        case kMbYesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
        case kMbOkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
        default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return kIdYes;
        case QMessageBox::No: return kIdNo;
        case QMessageBox::Cancel: return kIdCancel;
        default: return kIdOk;
    }
}

QString QtPrompt::ToQtFilter(const std::string& filter) {
    QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << (parts[i].contains(QLatin1Char('(')) ? parts[i]
                                                        : parts[i] + " (" + patterns + ")");
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<std::string> QtPrompt::FileDialog(const FileDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog accepts a typed name of a file that does not exist unless told otherwise.
    dialog.setFileMode(request.file_must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilter(ToQtFilter(request.filter));
    dialog.setDefaultSuffix(QString::fromStdString(request.default_extension));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwrite_prompt);
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (!request.initial_folder.empty()) {
        dialog.setDirectory(QString::fromStdString(request.initial_folder));
    }
    // A wildcard initial name only picks the filter; a plain name is proposed as it is.
    QString initial = QString::fromStdString(request.initial_name);
    if (!initial.isEmpty() && !initial.contains(QLatin1Char('*'))) dialog.selectFile(initial);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first().toStdString();
}

void QtPrompt::SetWaitCursor(bool waiting) {
    if (waiting) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

std::optional<SerialChoice> QtPrompt::ChooseSerialPort(const std::vector<std::string>& models,
                                                       const SerialChoice& initial) {
    QDialog dialog(parent_);
    dialog.setWindowTitle(QStringLiteral("Serial port"));
    auto* form = new QFormLayout(&dialog);
    auto* port = new QSpinBox(&dialog);
    port->setRange(1, 256);
    port->setPrefix(QStringLiteral("COM"));
    port->setValue(initial.port >= 1 && initial.port <= 256 ? initial.port : 1);
    auto* model = new QComboBox(&dialog);
    for (const std::string& name : models) model->addItem(QString::fromStdString(name));
    const int at = model->findText(QString::fromStdString(initial.model));
    if (at >= 0) model->setCurrentIndex(at);
    form->addRow(QStringLiteral("Port:"), port);
    form->addRow(QStringLiteral("Model:"), model);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted || model->currentIndex() < 0) return std::nullopt;
    return SerialChoice{port->value(), model->currentText().toStdString()};
}

}  // namespace devod
