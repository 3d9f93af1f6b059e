// The off-screen paint helper: what it covers, what it is filled with, and that the copy lands
// where the drawing code meant it to.
#include "orvixtool/shell/mem_dc.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <functional>

namespace devod {
namespace {

const QColor kSentinel(255, 0, 255);
const QColor kPainterBackground(0, 200, 200);

// Paints through a CMemDC, with the painter's background set to kPainterBackground, and lets the
// test draw into it and look at it.
template <class Base>
class MemPainted : public Base {
public:
    std::function<void(CMemDC&)> draw;
    QRect area;
    QWidget* owner = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter target(this);
        target.setBackground(kPainterBackground);
        CMemDC mem(&target);
        area = mem.Area();
        owner = mem.Owner();
        if (draw) draw(mem);
    }
};

class MemDCTest : public ::testing::Test {
protected:
    // Renders without any background of Qt's own, over a sentinel colour.
    static QImage Render(QWidget& widget) {
        QImage image(widget.size(), QImage::Format_ARGB32);
        image.fill(kSentinel);
        widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    }
    static QColor At(const QImage& image, int x, int y) { return image.pixelColor(x, y); }
};

TEST_F(MemDCTest, PlainWidgetIsPrefilledWithThePainterBackground) {
    MemPainted<QWidget> widget;
    widget.resize(40, 30);
    const QImage image = Render(widget);
    EXPECT_EQ(widget.owner, &widget);
    EXPECT_EQ(widget.area, QRect(0, 0, 40, 30));
    EXPECT_EQ(At(image, 0, 0), kPainterBackground);
    EXPECT_EQ(At(image, 39, 29), kPainterBackground);
}

TEST_F(MemDCTest, DialogIsPrefilledWithTheButtonColour) {
    MemPainted<QDialog> dialog;
    QPalette palette = dialog.palette();
    palette.setColor(QPalette::Button, QColor(10, 20, 30));
    palette.setColor(QPalette::Window, QColor(90, 90, 90));
    dialog.setPalette(palette);
    dialog.resize(50, 40);
    const QImage image = Render(dialog);
    EXPECT_EQ(At(image, 25, 20), QColor(10, 20, 30));
}

TEST_F(MemDCTest, WidgetWithItsOwnBackgroundIsPrefilledWithIt) {
    MemPainted<QWidget> explicit_palette;
    QPalette palette = explicit_palette.palette();
    palette.setColor(QPalette::Window, QColor(200, 100, 0));
    explicit_palette.setPalette(palette);
    explicit_palette.resize(20, 20);
    EXPECT_EQ(At(Render(explicit_palette), 10, 10), QColor(200, 100, 0));

    MemPainted<QWidget> auto_fill;
    auto_fill.setAutoFillBackground(true);
    auto_fill.resize(20, 20);
    EXPECT_EQ(At(Render(auto_fill), 10, 10), auto_fill.palette().color(QPalette::Window));
}

TEST_F(MemDCTest, ChildInAShownWindowCoversItsUpdateRectInItsOwnCoordinates) {
    QWidget window;
    window.resize(120, 90);
    auto* child = new MemPainted<QWidget>;
    child->setParent(&window);
    child->setGeometry(30, 20, 60, 40);
    window.show();
    QApplication::processEvents();
    ASSERT_EQ(child->area, QRect(0, 0, 60, 40));
    child->repaint(QRect(5, 6, 10, 12));
    EXPECT_EQ(child->area, QRect(5, 6, 10, 12));
}

TEST_F(MemDCTest, DrawsInTheTargetsLogicalCoordinates) {
    QImage image(100, 100, QImage::Format_ARGB32);
    image.fill(kSentinel);
    {
        QPainter target(&image);
        target.translate(10, 20);
        target.setClipRect(QRect(5, 5, 30, 10));
        target.setBackground(kPainterBackground);
        CMemDC mem(&target);
        EXPECT_EQ(mem.Owner(), nullptr);
        EXPECT_EQ(mem.Area(), QRect(5, 5, 30, 10));
        mem.painter().fillRect(QRect(5, 5, 10, 10), Qt::blue);
    }
    EXPECT_EQ(At(image, 15, 25), QColor(Qt::blue));
    EXPECT_EQ(At(image, 24, 34), QColor(Qt::blue));
    EXPECT_EQ(At(image, 25, 25), kPainterBackground);  // covered, not drawn on: pre-filled
    EXPECT_EQ(At(image, 44, 34), kPainterBackground);
    EXPECT_EQ(At(image, 45, 25), kSentinel);
    EXPECT_EQ(At(image, 14, 25), kSentinel);
}

TEST_F(MemDCTest, NullOrInactiveTargetDrawsNothingAndDoesNotCrash) {
    {
        CMemDC mem(nullptr);
        EXPECT_TRUE(mem.Area().isEmpty());
        mem.painter().fillRect(0, 0, 10, 10, Qt::red);
    }
    QPainter inactive;
    CMemDC mem(&inactive);
    EXPECT_TRUE(mem.Area().isEmpty());
    EXPECT_TRUE(mem.painter().isActive());
}

}  // namespace
}  // namespace devod
