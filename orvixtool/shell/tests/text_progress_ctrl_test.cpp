// The text progress bar drawn offscreen and read back pixel by pixel.
#include "orvixtool/shell/text_progress_ctrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>

#include "orvixtool/shell/colorref.h"

namespace {

using devod::ColorRef;

// COLORREF is 0x00BBGGRR.
constexpr ColorRef kBlue = 0x00FF0000;
constexpr ColorRef kGreen = 0x0000FF00;
constexpr ColorRef kRed = 0x000000FF;
constexpr ColorRef kWhite = 0x00FFFFFF;
const QColor kSentinel(255, 0, 255);

class TextProgressCtrlTest : public ::testing::Test {
protected:
    TextProgressCtrlTest() {
        // Over the bar: blends of blue and green (red channel 0). Over the rest: blends of
        // white and red (red channel 255). Any anti-aliasing stays within those families.
        ctrl_.SetBarColour(kBlue);
        ctrl_.SetTextBkColour(kGreen);
        ctrl_.SetBkColour(kWhite);
        ctrl_.SetTextColour(kRed);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(20);
        font.setBold(true);
        ctrl_.setFont(font);
        ctrl_.resize(200, 30);
    }

    // Only what the control paints itself, over a sentinel colour.
    QImage Render() {
        QImage image(ctrl_.size(), QImage::Format_ARGB32);
        image.fill(kSentinel);
        ctrl_.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }

    static bool OverBar(QColor c) { return c.red() == 0; }
    static bool OverBarText(QColor c) { return c.red() == 0 && c.green() > 128; }
    static bool OverEmpty(QColor c) { return c.red() == 255 && c.green() == c.blue(); }
    static bool OverEmptyText(QColor c) { return OverEmpty(c) && c.green() < 128; }

    // The 1-pixel frame around the control, in the palette's shadow colour.
    void ExpectEdge(const QImage& image) {
        const QRgb shadow = ctrl_.palette().color(QPalette::Dark).rgb();
        const int w = image.width(), h = image.height();
        int wrong = 0;
        for (int x = 0; x < w; ++x) {
            wrong += image.pixel(x, 0) != shadow;
            wrong += image.pixel(x, h - 1) != shadow;
        }
        for (int y = 1; y < h - 1; ++y) {
            wrong += image.pixel(0, y) != shadow;
            wrong += image.pixel(w - 1, y) != shadow;
        }
        EXPECT_EQ(wrong, 0) << "edge pixels not in " << qPrintable(QColor(shadow).name());
    }

    // Counts the pixels inside the edge, in columns [from, to), that pass `is_text`; fails (once,
    // naming the first) when pixels do not pass `belongs`.
    template <class Belongs, class IsText>
    int Scan(const QImage& image, int from, int to, Belongs belongs, IsText is_text) {
        int text = 0, wrong = 0;
        QString first_wrong;
        for (int y = 1; y < image.height() - 1; ++y) {
            for (int x = from; x < to; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (!belongs(c)) {
                    if (wrong++ == 0)
                        first_wrong = QStringLiteral("%1,%2 is %3").arg(x).arg(y).arg(c.name());
                } else if (is_text(c)) {
                    ++text;
                }
            }
        }
        EXPECT_EQ(wrong, 0) << "columns " << from << ".." << to - 1 << ": first "
                            << qPrintable(first_wrong);
        return text;
    }

    CTextProgressCtrl ctrl_;
};

TEST_F(TextProgressCtrlTest, AtMinimumTheInsideIsBackgroundWithTextInTheTextColour) {
    const QImage image = Render();
    ExpectEdge(image);
    EXPECT_GT(Scan(image, 1, 199, OverEmpty, OverEmptyText), 20);
}

TEST_F(TextProgressCtrlTest, AtMaximumTheInsideIsBarWithTextInTheTextBackgroundColour) {
    ctrl_.SetPos(100);
    const QImage image = Render();
    ExpectEdge(image);
    EXPECT_GT(Scan(image, 1, 199, OverBar, OverBarText), 20);
}

TEST_F(TextProgressCtrlTest, TextAcrossTheBarEndChangesColourExactlyThere) {
    ctrl_.SetPos(50);  // inner width 198: the bar ends at x = 1 + 99 = 100, inside "50%"
    const QImage image = Render();
    EXPECT_GT(Scan(image, 90, 100, OverBar, OverBarText), 5);
    EXPECT_GT(Scan(image, 100, 110, OverEmpty, OverEmptyText), 5);
    // Every pixel inside lies on its own side of the split.
    Scan(image, 1, 100, OverBar, [](QColor) { return false; });
    Scan(image, 100, 199, OverEmpty, [](QColor) { return false; });
}

TEST_F(TextProgressCtrlTest, NothingIsPaintedWhenMinimumIsNotBelowMaximum) {
    for (auto [minimum, maximum] : {std::pair{5, 5}, std::pair{10, 0}}) {
        ctrl_.SetRange(minimum, maximum);
        const QImage image = Render();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                ASSERT_EQ(image.pixelColor(x, y), kSentinel) << x << "," << y;
            }
        }
    }
}

TEST_F(TextProgressCtrlTest, WithoutPercentageAndWithoutTextOnlyTheBarIsDrawn) {
    ctrl_.SetShowPercent(false);
    ctrl_.SetPos(30);  // bar ends at 1 + (int)(198 * 0.3) = 60
    const QImage image = Render();
    ExpectEdge(image);
    const QColor blue = devod::ToQColor(kBlue), white = devod::ToQColor(kWhite);
    Scan(
        image, 1, 60, [&](QColor c) { return c.rgb() == blue.rgb(); },
        [](QColor) { return false; });
    Scan(
        image, 60, 199, [&](QColor c) { return c.rgb() == white.rgb(); },
        [](QColor) { return false; });
}

TEST_F(TextProgressCtrlTest, WithoutPercentageTheWindowTextIsDrawn) {
    ctrl_.SetShowPercent(false);
    ctrl_.SetWindowText(QStringLiteral("Wait"));
    EXPECT_EQ(ctrl_.WindowText(), QStringLiteral("Wait"));
    const QImage image = Render();
    EXPECT_GT(Scan(image, 1, 199, OverEmpty, OverEmptyText), 20);
}

TEST_F(TextProgressCtrlTest, ControlTooSmallForItsTextStillPaintsItsEdgeAndBar) {
    ctrl_.SetPos(50);
    for (int side : {1, 2, 3, 6}) {
        ctrl_.resize(side, side);
        SCOPED_TRACE(side);
        const QImage image = Render();
        ExpectEdge(image);
    }
    ctrl_.resize(0, 0);
    EXPECT_TRUE(ctrl_.grab().isNull() || ctrl_.grab().size().isEmpty());
}

TEST_F(TextProgressCtrlTest, UnsetColoursComeFromThePalette) {
    CTextProgressCtrl plain;
    QPalette palette = plain.palette();
    palette.setColor(QPalette::Highlight, QColor(1, 2, 3));
    palette.setColor(QPalette::Button, QColor(4, 5, 6));
    palette.setColor(QPalette::WindowText, QColor(7, 8, 9));
    palette.setColor(QPalette::Window, QColor(10, 11, 12));
    plain.setPalette(palette);
    EXPECT_EQ(devod::ToQColor(plain.ResolvedColours().text), QColor(7, 8, 9));
    EXPECT_EQ(devod::ToQColor(plain.ResolvedColours().text_background), QColor(10, 11, 12));
    plain.SetShowPercent(false);
    plain.SetPos(50);
    plain.resize(50, 10);
    QImage image(plain.size(), QImage::Format_ARGB32);
    plain.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    EXPECT_EQ(image.pixel(5, 5), qRgb(1, 2, 3));
    EXPECT_EQ(image.pixel(40, 5), qRgb(4, 5, 6));
}

TEST_F(TextProgressCtrlTest, MessagesReachTheStateWithTheirResults) {
    EXPECT_EQ(ctrl_.SendMessage(devod::kPbmSetRange32, 0, 200), 100 << 16);
    EXPECT_EQ(ctrl_.SendMessage(devod::kPbmSetPos, 250, 0), 0);
    EXPECT_EQ(ctrl_.Pos(), 200);
    EXPECT_EQ(ctrl_.SetRange(0, 50), static_cast<uint32_t>(200 << 16));
}

// Counts its paints and keeps the last painted region, to tell a synchronous repaint of the
// whole control from a scheduled or a partial one.
class CountingCtrl : public CTextProgressCtrl {
public:
    int paints = 0;
    QRegion painted;
    devod::ProgressState seen;  // the state the last paint drew

protected:
    void paintEvent(QPaintEvent* event) override {
        ++paints;
        painted = event->region();
        seen = State();
        CTextProgressCtrl::paintEvent(event);
    }
};

TEST(TextProgressCtrlRepaintTest, EveryStoringMessageRepaintsTheWholeBarBeforeItReturns) {
    CountingCtrl ctrl;
    ctrl.resize(100, 20);
    ctrl.show();
    QApplication::processEvents();
    struct Case {
        unsigned msg;
        uintptr_t wparam;
        intptr_t lparam;
    };
    const Case cases[] = {
        {devod::kPbmSetPos, 40, 0},
        {devod::kPbmSetBarColor, 0, kRed},
        {devod::kPbmSetBkColor, 0, kWhite},
        {devod::kPbmSetTextColor, 0, kGreen},
        {devod::kPbmSetTextBkColor, 0, kBlue},
        {devod::kPbmShowPercent, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        const int before = ctrl.paints;
        ctrl.painted = QRegion();
        ctrl.SendMessage(c.msg, c.wparam, c.lparam);
        EXPECT_EQ(ctrl.paints, before + 1);
        EXPECT_EQ(ctrl.painted, QRegion(ctrl.rect()));
        // The value was stored before the paint, so the paint drew it.
        EXPECT_EQ(ctrl.seen.Pos(), ctrl.Pos());
        EXPECT_EQ(ctrl.seen.BarColour(), ctrl.State().BarColour());
        EXPECT_EQ(ctrl.seen.BkColour(), ctrl.State().BkColour());
        EXPECT_EQ(ctrl.seen.TextColour(), ctrl.State().TextColour());
        EXPECT_EQ(ctrl.seen.TextBkColour(), ctrl.State().TextBkColour());
        EXPECT_EQ(ctrl.seen.ShowPercent(), ctrl.State().ShowPercent());
    }
}

TEST(TextProgressCtrlRepaintTest, TheRangeAndUnknownMessagesDoNotRepaint) {
    CountingCtrl ctrl;
    ctrl.resize(100, 20);
    ctrl.show();
    QApplication::processEvents();
    const int before = ctrl.paints;
    ctrl.SetRange(0, 10);
    ctrl.SendMessage(devod::kPbmSetRange, 0, 50 << 16);
    ctrl.SendMessage(0x403, 1, 1);
    EXPECT_EQ(ctrl.paints, before);
}

}  // namespace
