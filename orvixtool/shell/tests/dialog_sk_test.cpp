// The dialog with a background picture, drawn offscreen, and the compiled-in pictures.
#include "orvixtool/shell/dialog_sk.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPixmap>

#include "orvixtool/shell/skin_resources.h"

namespace {

// Every pixel a different colour, so that a shifted or scaled copy shows.
QImage Pattern(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x + y) % 256));
    }
    return image;
}

class DialogSKTest : public ::testing::Test {
protected:
    DialogSKTest() {
        QPalette palette = dialog_.palette();
        palette.setColor(QPalette::Window, kPlain);
        dialog_.setPalette(palette);
        dialog_.resize(120, 90);
    }

    QImage Grab() { return dialog_.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    static void ExpectSame(const QImage& actual, const QImage& expected, const QRect& area) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                ASSERT_EQ(actual.pixel(x, y), expected.pixel(x, y)) << x << "," << y;
            }
        }
    }
    static void ExpectPlain(const QImage& actual, const QRect& area) {
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                ASSERT_EQ(actual.pixelColor(x, y), kPlain) << x << "," << y;
            }
        }
    }

    static inline const QColor kPlain{40, 60, 80};
    CDialogSK dialog_;
};

TEST_F(DialogSKTest, SmallPictureSitsAtTheTopLeftOverThePlainBackground) {
    const QImage picture = Pattern(50, 40);
    ASSERT_TRUE(dialog_.SetBitmap(picture));
    EXPECT_EQ(dialog_.BitmapWidth(), 50);
    EXPECT_EQ(dialog_.BitmapHeight(), 40);
    const QImage shot = Grab();
    ASSERT_EQ(shot.size(), QSize(120, 90));
    ExpectSame(shot, picture, QRect(0, 0, 50, 40));
    ExpectPlain(shot, QRect(50, 0, 70, 90));
    ExpectPlain(shot, QRect(0, 40, 50, 50));
}

TEST_F(DialogSKTest, LargerPictureIsCutNotScaled) {
    const QImage picture = Pattern(300, 200);
    ASSERT_TRUE(dialog_.SetBitmap(picture));
    const QImage shot = Grab();
    ASSERT_EQ(shot.size(), QSize(120, 90));
    ExpectSame(shot, picture, shot.rect());
}

TEST_F(DialogSKTest, NullPictureRemovesTheBackground) {
    ASSERT_TRUE(dialog_.SetBitmap(Pattern(50, 40)));
    ASSERT_TRUE(dialog_.SetBitmap(QImage()));
    EXPECT_FALSE(dialog_.HasBitmap());
    EXPECT_EQ(dialog_.BitmapWidth(), 0);
    ExpectPlain(Grab(), QRect(0, 0, 120, 90));
}

TEST_F(DialogSKTest, UnreadableFileIsRefusedAndTheOldPictureKept) {
    ASSERT_TRUE(dialog_.SetBitmap(Pattern(10, 10)));
    EXPECT_FALSE(dialog_.SetBitmap(QStringLiteral("/nonexistent/background.png")));
    EXPECT_FALSE(dialog_.SetBitmap(QStringLiteral(":/images/none.png")));
    EXPECT_EQ(dialog_.BitmapWidth(), 10);
}

TEST_F(DialogSKTest, BackgroundResourceIsTheDialogPicture) {
    const QImage background(QStringLiteral(":/images/background.png"));
    ASSERT_FALSE(background.isNull());
    EXPECT_EQ(background.size(), QSize(670, 424));
    EXPECT_FALSE(background.hasAlphaChannel());
    ASSERT_TRUE(dialog_.SetBitmap(QStringLiteral(":/images/background.png")));
    EXPECT_EQ(dialog_.BitmapWidth(), 670);
    ExpectSame(Grab(), background.convertToFormat(QImage::Format_RGB32), QRect(0, 0, 120, 90));
}

TEST(SkinResourcesTest, ApplicationIconHasBothSizes) {
    const QIcon icon = devod::ApplicationIcon();
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    EXPECT_TRUE(sizes.contains(QSize(48, 48)));
    EXPECT_EQ(QImage(QStringLiteral(":/images/icon32.png")).size(), QSize(32, 32));
    EXPECT_EQ(QImage(QStringLiteral(":/images/icon.png")).size(), QSize(48, 48));
}

}  // namespace
