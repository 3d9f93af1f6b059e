// Dialog units against a real font's metrics, MulDiv's rounding, and controls found by id.
#include "orvixtool/shell/dialog_units.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <climits>
#include <cmath>

namespace devod {
namespace {

TEST(MulDivTest, RoundsToNearestWithHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 1, 4), 1);  // 1.25
    EXPECT_EQ(MulDiv(6, 1, 4), 2);  // 1.5
    EXPECT_EQ(MulDiv(7, 1, 4), 2);  // 1.75
    EXPECT_EQ(MulDiv(5, 3, 2), 8);  // 7.5
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(5, 3, -2), -8);
    EXPECT_EQ(MulDiv(-5, -3, -2), -8);
    EXPECT_EQ(MulDiv(-6, 1, 4), -2);                    // -1.5
    EXPECT_EQ(MulDiv(INT_MAX, 4, 8), INT_MAX / 2 + 1);  // the product needs 64 bits
}

TEST(MulDivTest, DivisionByZeroAndOverflowGiveMinusOne) {
    EXPECT_EQ(MulDiv(10, 10, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
    EXPECT_EQ(MulDiv(INT_MIN, 1, 1), -1);
}

class DialogUnitsTest : public ::testing::Test {
protected:
    static QFont KnownFont() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        return font;
    }
};

TEST_F(DialogUnitsTest, BaseUnitsComeFromTheFontMetrics) {
    const QFont font = KnownFont();
    const QFontMetrics metrics(font);
    const int sample = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    ASSERT_GT(sample, 52);
    const DialogUnits units(font);
    EXPECT_EQ(units.BaseWidth(), static_cast<int>(std::floor(sample / 52.0 + 0.5)));
    EXPECT_EQ(units.BaseHeight(), metrics.height());
    EXPECT_EQ(units.X(100), MulDiv(100, units.BaseWidth(), 4));
    EXPECT_EQ(units.Y(100), MulDiv(100, units.BaseHeight(), 8));
}

TEST_F(DialogUnitsTest, ConvertsEachValueWithRounding) {
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.X(10), 15);
    EXPECT_EQ(units.X(1), 2);   // 1.5
    EXPECT_EQ(units.Y(7), 11);  // 11.375
    EXPECT_EQ(units.Y(4), 7);   // 6.5
    // Position and size are converted separately, not as right = X(x + w).
    EXPECT_EQ(units.Rect(1, 1, 1, 1), QRect(2, 2, 2, 2));
    EXPECT_EQ(units.Size(10, 7), QSize(15, 11));
    EXPECT_EQ(units.X(-10), -15);
}

TEST_F(DialogUnitsTest, DialogFontIsAnEightPointSansFace) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pointSize(), 8);
    EXPECT_FALSE(font.bold());
    if (QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed"))) {
        EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans Condensed"));
        // The base units of the original dialog font at 96 dpi.
        DialogUnits units(font);
        EXPECT_EQ(units.BaseWidth(), 6);
        EXPECT_EQ(units.BaseHeight(), 13);
    }
}

class ControlIdTest : public ::testing::Test {
protected:
    QWidget page_;
    DialogUnits units_{6, 13};
};

TEST_F(ControlIdTest, PlacedControlCarriesItsIdAndTemplateGeometry) {
    auto* label = PlaceControl<QLabel>(&page_, units_, 1006, 7, 8, 40, 10);
    EXPECT_EQ(label->parentWidget(), &page_);
    EXPECT_EQ(label->objectName(), QStringLiteral("1006"));
    EXPECT_EQ(label->geometry(), units_.Rect(7, 8, 40, 10));
    EXPECT_EQ(ControlId(label), 1006);
    EXPECT_EQ(FindControl(&page_, 1006), label);
}

TEST_F(ControlIdTest, FindsControlsInsideGroupsAndNothingForUnknownIds) {
    auto* group = PlaceControl<QGroupBox>(&page_, units_, 1100, 0, 0, 100, 50);
    auto* button = PlaceControl<QPushButton>(group, units_, 1101, 5, 5, 30, 12);
    EXPECT_EQ(FindControl(&page_, 1101), button);
    EXPECT_EQ(FindControl(&page_, 1102), nullptr);
    EXPECT_EQ(FindControl(nullptr, 1101), nullptr);
}

}  // namespace
}  // namespace devod
