// The pages as the main window places them, offscreen: every control lies in the visible part of
// its page and inside the group box that frames it in the template, below the group's title,
// and every text fits its control at the dialog font.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <map>
#include <memory>
#include <vector>

#include "orvixtool/devicelink/upgrade_page.h"
#include "orvixtool/settingspage/user_setting_page.h"
#include "orvixtool/shell/dialog_page.h"
#include "orvixtool/shell/main_window.h"
#include "orvixtool/shell/text_progress_ctrl.h"
#include "orvixtool/testsupport/fake_dialog.h"

using namespace devod;

namespace {

// Which controls each group box frames in the templates.
using Groups = std::map<int, std::vector<int>>;
const Groups kUpgradeGroups = {
    {1013, {1009, 1012, 1006}},
    {1016, {1017, 1018}},
};
const Groups kSettingGroups = {
    {1019, {1029, 1026, 1027, 1028, 1025, 1020, 1021, 1022, 1023, 1024, 1030, 1031}},
    {1032, {1036, 1037, 1034, 1035, 1041, 1038, 1039, 1040}},
    {1088, {1089}},
    {1083, {1078, 1080, 1081, 1082}},
    {1009, {1000, 1001}},
    {1059, {1002, 1060, 1064, 1062, 1063}},
};

std::string Name(const QRect& r) {
    return QStringLiteral("(%1,%2 %3x%4)")
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height())
        .toStdString();
}

// The controls of a page: its direct children that carry an id.
std::map<int, QWidget*> Controls(QWidget* page) {
    std::map<int, QWidget*> controls;
    for (QWidget* w : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (const int id = ControlId(w); id >= 0) controls[id] = w;
    }
    return controls;
}

// The size a text takes in `font`, one line per "\n".
QSize TextSize(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return metrics.boundingRect(QRect(0, 0, 10000, 10000), Qt::AlignLeft | Qt::AlignTop, text)
        .size();
}

class PageLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = std::make_unique<CDevodToolDlg>(prompt_);
        window_->show();
        QApplication::processEvents();
    }
    void TearDown() override { window_.reset(); }

    QWidget* Upgrade() { return window_->UpgradeWidget(); }
    QWidget* Settings() { return window_->SettingWidget(); }

    // What of the page can be seen: the page clipped by the control that holds it.
    static QRect Visible(QWidget* page) {
        QWidget* holder = page->parentWidget();
        return page->rect() & QRect(page->mapFrom(holder, QPoint(0, 0)), holder->size());
    }

    static void ExpectInsideThePage(QWidget* page) {
        const QRect visible = Visible(page);
        for (const auto& [id, control] : Controls(page)) {
            EXPECT_TRUE(visible.contains(control->geometry()))
                << "control " << id << " " << Name(control->geometry())
                << " is not inside the visible page " << Name(visible);
        }
    }

    static void ExpectInsideTheirGroups(QWidget* page, const Groups& groups) {
        const std::map<int, QWidget*> controls = Controls(page);
        for (const auto& [group_id, members] : groups) {
            auto* group = qobject_cast<DialogGroupBox*>(controls.at(group_id));
            ASSERT_NE(group, nullptr) << group_id << " is not a dialog group box";
            // Inside the frame lines and below the title band.
            const QRect g = group->geometry();
            const QRect inside(g.left() + 1, g.top() + group->TitleBandHeight(), g.width() - 2,
                               g.height() - group->TitleBandHeight() - 1);
            for (int id : members) {
                const QRect r = controls.at(id)->geometry();
                EXPECT_TRUE(inside.contains(r))
                    << "control " << id << " " << Name(r) << " is not inside group " << group_id
                    << " " << Name(inside);
            }
        }
        // Nothing else reaches into a group, and no group into another.
        for (const auto& [group_id, members] : groups) {
            const QRect g = controls.at(group_id)->geometry();
            for (const auto& [id, control] : controls) {
                const bool member = std::find(members.begin(), members.end(), id) != members.end();
                if (id == group_id || member) continue;
                EXPECT_FALSE(g.intersects(control->geometry()))
                    << "control " << id << " " << Name(control->geometry()) << " overlaps group "
                    << group_id << " " << Name(g);
            }
        }
    }

    // Each control's text in its own font, inside the part of the control that shows text.
    static void ExpectTextsFit(QWidget* page) {
        for (const auto& [id, control] : Controls(page)) {
            SCOPED_TRACE(id);
            const QFontMetrics metrics(control->font());
            if (auto* group = qobject_cast<DialogGroupBox*>(control)) {
                const QRect title = group->TitleRect();
                EXPECT_GE(title.width(), metrics.horizontalAdvance(group->title()));
                EXPECT_TRUE(group->rect().adjusted(1, 0, -1, 0).contains(title))
                    << group->title().toStdString() << " " << Name(title) << " in "
                    << Name(group->rect());
            } else if (auto* label = qobject_cast<QLabel*>(control)) {
                const QSize text = TextSize(label->font(), label->text());
                EXPECT_LE(text.width(), label->contentsRect().width())
                    << label->text().toStdString();
                EXPECT_LE(text.height(), label->contentsRect().height());
            } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                const bool radio = qobject_cast<QRadioButton*>(button) != nullptr;
                const QRect contents = button->style()->subElementRect(
                    radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option,
                    button);
                const QSize text = TextSize(button->font(), button->text());
                EXPECT_LE(text.width(), contents.width()) << button->text().toStdString();
                EXPECT_LE(text.height(), contents.height()) << button->text().toStdString();
            } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
                // A line of digits and its frame.
                EXPECT_LE(metrics.height() + 4, edit->height());
            } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
                QStyleOptionComboBox option;
                option.initFrom(combo);
                const QRect field = combo->style()->subControlRect(
                    QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
                EXPECT_LE(metrics.height(), field.height());
                ExpectItemsReadableInTheList(combo);
            } else if (auto* bar = qobject_cast<CTextProgressCtrl*>(control)) {
                const QString text =
                    bar->State().ShowPercent() ? QStringLiteral("100%") : bar->WindowText();
                const QSize size = TextSize(bar->font(), text);
                EXPECT_LE(size.width(), bar->width() - 2) << text.toStdString();
                EXPECT_LE(size.height(), bar->height() - 2) << text.toStdString();
            }
        }
    }

    // The dropped list is wide enough for its longest item (the closed box may cut it, as the
    // template's box is narrower than some time zone names).
    static void ExpectItemsReadableInTheList(QComboBox* combo) {
        if (combo->count() == 0) return;
        const QFontMetrics metrics(combo->view()->font());
        int longest = 0;
        for (int i = 0; i < combo->count(); ++i) {
            longest = std::max(longest, metrics.horizontalAdvance(combo->itemText(i)));
        }
        // The offscreen platform complains that it cannot raise the list or grab the keyboard.
        QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        combo->showPopup();
        QApplication::processEvents();
        const int list_width = combo->view()->viewport()->width();
        combo->hidePopup();
        qInstallMessageHandler(previous);
        EXPECT_LE(longest, list_width) << combo->objectName().toStdString();
    }

    devod::testing::ScriptedPrompt prompt_;
    std::unique_ptr<CDevodToolDlg> window_;
};

}  // namespace

TEST_F(PageLayoutTest, EveryControlLiesInsideTheVisiblePartOfItsPage) {
    ExpectInsideThePage(Upgrade());
    ExpectInsideThePage(Settings());
}

TEST_F(PageLayoutTest, EveryControlLiesInsideItsGroupBelowTheTitle) {
    ExpectInsideTheirGroups(Upgrade(), kUpgradeGroups);
    ExpectInsideTheirGroups(Settings(), kSettingGroups);
}

TEST_F(PageLayoutTest, EveryTextFitsItsControlAtTheDialogFont) {
    ExpectTextsFit(Upgrade());
    // The speed labels in both units, and the distance texts of every warning mode.
    auto& logic = window_->SettingWidget()->Logic();
    for (int unit : {1080, 1078}) {
        auto* radio = qobject_cast<QRadioButton*>(FindControl(Settings(), unit));
        ASSERT_NE(radio, nullptr);
        radio->setChecked(true);
        logic.OnCommand(unit);
        auto* combo = qobject_cast<QComboBox*>(FindControl(Settings(), 1038));
        for (int mode = 0; mode < combo->count(); ++mode) {
            combo->setCurrentIndex(mode);
            logic.OnCommand(1038);
            ExpectTextsFit(Settings());
        }
    }
    EXPECT_EQ(qobject_cast<QLabel*>(FindControl(Settings(), 1036))->text(), "80 Km/h");
}

TEST_F(PageLayoutTest, GroupFrameLineRunsThroughTheTitleBand) {
    auto* group = qobject_cast<DialogGroupBox*>(FindControl(Settings(), 1032));
    ASSERT_NE(group, nullptr);
    QImage image(group->size(), QImage::Format_ARGB32);
    group->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    // The rows of the frame's top line, right of the title, in the upper half of the box.
    const QRect title = group->TitleRect();
    const int x = title.right() + 10;
    ASSERT_LT(x, image.width() - 10);
    const QRgb background = image.pixel(x, image.height() / 2);
    std::vector<int> line_rows;
    for (int y = 0; y < image.height() / 2; ++y) {
        if (image.pixel(x, y) != background) line_rows.push_back(y);
    }
    ASSERT_FALSE(line_rows.empty()) << "no top line";
    EXPECT_LT(line_rows.back(), group->TitleBandHeight()) << "the line runs below the title";
    // The line is broken where the title is, so the text stays readable.
    const int y = line_rows.front();
    const QRgb line = image.pixel(x, y);
    int line_under_title = 0;
    for (int tx = title.left(); tx <= title.right(); ++tx)
        line_under_title += image.pixel(tx, y) == line;
    EXPECT_LT(line_under_title, title.width() / 2);
}
