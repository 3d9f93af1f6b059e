#include "orvixtool/shell/dialog_sk.h"

#include <QImageReader>
#include <QPainter>
#include <QResizeEvent>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "orvixtool/shell/skin_resources.h"

CDialogSK::CDialogSK(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {
    // So that ":/images/background.png" can be given to SetBitmap.
    devod::InitSkinResources();
}

bool CDialogSK::SetBitmap(const QImage& image) {
    if (image.isNull()) {
        bitmap_ = QPixmap();
        bitmap_width_ = bitmap_height_ = 0;
    } else {
        QPixmap pixmap = QPixmap::fromImage(image);
        if (pixmap.isNull()) {
            qWarning("CDialogSK: a %dx%d background picture cannot be drawn", image.width(),
                     image.height());
            return false;
        }
        bitmap_ = std::move(pixmap);
        bitmap_width_ = image.width();
        bitmap_height_ = image.height();
    }
    update();
    return true;
}

bool CDialogSK::SetBitmap(const QString& path) {
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull()) {
        qWarning("CDialogSK: cannot read the background picture %s: %s", qUtf8Printable(path),
                 qUtf8Printable(reader.errorString()));
        return false;
    }
    return SetBitmap(image);
}

void CDialogSK::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The default background first: Qt has filled the window with its palette before this
    // paint; a style sheet's background is drawn here.
    QStyleOption option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (bitmap_.isNull()) {
        QDialog::paintEvent(event);
        return;
    }
    // At its own size from the top-left corner; whatever lies past the dialog's edges is cut.
    const QRect source(0, 0, std::min(bitmap_width_, width()), std::min(bitmap_height_, height()));
    if (!source.isEmpty()) painter.drawPixmap(QPoint(0, 0), bitmap_, source);
}

void CDialogSK::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    update();
}
