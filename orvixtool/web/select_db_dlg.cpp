#include "orvixtool/web/select_db_dlg.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "orvixtool/shell/dialog_units.h"

using devod::PlaceControl;

SelectDB::SelectDB(const devod::LinkList& links, QWidget* parent) : QDialog(parent), links_(links) {
    setWindowTitle(QStringLiteral("Select Database"));
    setFont(devod::DialogFont());
    devod::DialogUnits units(font());
    setFixedSize(units.Size(200, 66));

    auto* label = PlaceControl<QLabel>(this, units, -1, 7, 7, 186, 8);
    label->setTextFormat(Qt::PlainText);
    label->setText(QStringLiteral("Select database file for upload:"));

    list_ = PlaceControl<QComboBox>(this, units, kIdList, 7, 19, 186, 80);
    // The template's height includes the dropped list; the closed box is as tall as the font.
    list_->resize(list_->width(), list_->sizeHint().height());
    list_->setEditable(false);
    list_->view()->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (const devod::LinkEntry& link : links_) list_->addItem(QString::fromStdString(link.text));
    list_->setCurrentIndex(-1);

    auto* auto_update = PlaceControl<QPushButton>(this, units, kIdAutoUpdate, 47, 45, 60, 14);
    auto_update->setText(QStringLiteral("Auto Update"));
    auto_update->setDefault(true);
    auto* manual = PlaceControl<QPushButton>(this, units, kIdManual, 111, 45, 82, 14);
    manual->setText(QStringLiteral("Manual Update / Exit"));
    connect(auto_update, &QPushButton::clicked, this, &SelectDB::OnAutoUpdate);
    connect(manual, &QPushButton::clicked, this, &QDialog::reject);
}

void SelectDB::OnAutoUpdate() {
    // The entry's own text rather than the item's, so that it comes back byte for byte.
    const int index = list_->currentIndex();
    selected_name_ =
        index >= 0 && index < static_cast<int>(links_.size()) ? links_[index].text : std::string();
    accept();
}
