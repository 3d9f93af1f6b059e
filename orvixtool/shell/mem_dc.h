// Flicker-free painting: one paint draws into an off-screen picture first, which is then copied
// onto the widget in a single drawPixmap, so the screen never shows a half-drawn control.
#pragma once

#include <QBrush>
#include <QPainter>
#include <QPixmap>
#include <QRect>

class QWidget;

namespace devod {

// Laid over the painter of one paint (usually the one a paintEvent opened on its widget). It
// covers the area that paint may change: the target's clip rectangle (the painter's own clip
// and the region being repainted), or the whole widget when nothing is clipped. painter() draws
// into the off-screen picture in the target's logical coordinates, so drawing code is the same
// with or without it; the destructor copies the picture to the target.
//
// The painter is reached through painter() rather than by deriving from QPainter, so that the
// target and the off-screen painter cannot be confused and the copy happens strictly after the
// off-screen painter has ended.
class CMemDC {
public:
    // `target` must stay alive and active until this object is destroyed. A null or inactive
    // target gets a warning; drawing then goes to a throwaway picture and nothing is copied.
    explicit CMemDC(QPainter* target);
    ~CMemDC();

    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    QPainter& painter() { return painter_; }
    // The area covered, in the target's logical coordinates (empty when nothing is drawn).
    QRect Area() const { return area_; }
    // The widget being painted, or nullptr when the target does not paint a widget.
    QWidget* Owner() const { return owner_; }

    // What the picture is filled with before any drawing: without an owner, the painter's
    // background colour; for a dialog, the palette's button colour; for a widget with a
    // background of its own (autoFillBackground, or its background role set in its palette),
    // that background; else the painter's background colour.
    static QBrush PrefillBrush(const QPainter& target, const QWidget* owner);

private:
    QPainter* target_ = nullptr;
    QWidget* owner_ = nullptr;
    QRect area_;
    bool copy_ = false;
    QPixmap pixmap_;
    QPainter painter_;
};

}  // namespace devod
