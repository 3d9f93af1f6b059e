// Dialog units: the dialogs are laid out in the units of a Windows dialog template, which scale
// with the dialog font. A horizontal unit is a quarter of the font's average letter width, a
// vertical unit an eighth of its height. Controls keep their numeric ids as object names, so that
// pages and tests find them by id.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

namespace devod {

// a * b / c rounded to the nearest integer, halves away from zero, computed in 64 bits.
// Returns -1 when c is 0 or the result does not fit an int, as Windows' MulDiv does.
int MulDiv(int a, int b, int c);

// The dialog font. The dialogs were drawn for "MS Shell Dlg" at 8 points; Linux has no such font,
// so this is the closest plain sans-serif face at 8 points: "DejaVu Sans Condensed" (same base
// units), else "DejaVu Sans", else whatever family fontconfig gives for a sans-serif request.
// Needs a QGuiApplication.
QFont DialogFont();

class DialogUnits {
public:
    // Base units from the font's metrics: width = average width of the 52 Latin letters
    // (rounded), height = QFontMetrics::height(). Needs a QGuiApplication.
    explicit DialogUnits(const QFont& font);
    // Base units given directly (in pixels); a value below 1 is taken as 1.
    DialogUnits(int base_width, int base_height);

    int BaseWidth() const { return base_width_; }
    int BaseHeight() const { return base_height_; }

    int X(int du) const { return MulDiv(du, base_width_, 4); }
    int Y(int du) const { return MulDiv(du, base_height_, 8); }
    // Each of x, y, w and h converted on its own, as Windows maps a template's control rectangle.
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }

    // The text whose width / 52 is the average letter width.
    static const char* const kAverageSample;

private:
    int base_width_ = 1;
    int base_height_ = 1;
};

// Gives a control its numeric id (its object name).
inline void SetControlId(QWidget* control, int id) {
    if (control) control->setObjectName(QString::number(id));
}
// The numeric id of a control, or `fallback` when its object name is not a number.
int ControlId(const QWidget* control, int fallback = -1);

// Creates a control of type W (constructed as W(parent)) at a template position, with its id.
template <class W>
W* PlaceControl(QWidget* parent, const DialogUnits& units, int id, int x, int y, int w, int h) {
    auto* control = new W(parent);
    SetControlId(control, id);
    control->setGeometry(units.Rect(x, y, w, h));
    return control;
}

// The first widget below `root` (children, grandchildren, …) with the id; nullptr when none.
QWidget* FindControl(QWidget* root, int id);

}  // namespace devod
