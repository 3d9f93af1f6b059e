// A dialog with a picture for a background: the picture sits at the top-left corner of the client
// area at its own size, cut off where the dialog ends; the rest of the dialog looks plain.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

class CDialogSK : public QDialog {
    Q_OBJECT

public:
    explicit CDialogSK(QWidget* parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());

    // Takes a copy of `image` as the background and repaints the whole dialog. A null image
    // removes the background. Returns false, keeping the background it had, only when the image
    // cannot be turned into something drawable.
    bool SetBitmap(const QImage& image);
    // Reads the background from a file or a resource (":/images/background.png"). Returns false,
    // keeping the background it had, when the file cannot be read as an image.
    bool SetBitmap(const QString& path);

    bool HasBitmap() const { return !bitmap_.isNull(); }
    int BitmapWidth() const { return bitmap_width_; }
    int BitmapHeight() const { return bitmap_height_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The whole background is repainted after a resize, not only the strip that came into view.
    void resizeEvent(QResizeEvent* event) override;

private:
    QPixmap bitmap_;
    int bitmap_width_ = 0;
    int bitmap_height_ = 0;
};
