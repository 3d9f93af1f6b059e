// Asks which of the shop's database files to upload to the device: "Auto Update" takes the chosen
// one, "Manual Update / Exit" leaves the choice to the user.
#pragma once

#include <QDialog>
#include <string>

#include "orvixtool/web/link_entry.h"

class QComboBox;

class SelectDB : public QDialog {
    Q_OBJECT

public:
    static constexpr int kTemplateId = 140;
    static constexpr int kIdList = 1002;  // drop-down list
    static constexpr int kIdAutoUpdate = 1;
    static constexpr int kIdManual = 2;

    // Lists every entry's text in list order, duplicates included; nothing is chosen at first.
    explicit SelectDB(const devod::LinkList& links, QWidget* parent = nullptr);

    // The text of the entry chosen when "Auto Update" was pressed ("" when none was chosen);
    // unchanged ("" at first) when the dialog was left otherwise.
    const std::string& SelectedName() const { return selected_name_; }

private:
    void OnAutoUpdate();

    devod::LinkList links_;
    QComboBox* list_ = nullptr;
    std::string selected_name_;
};
