#include "orvixtool/shell/text_progress_ctrl.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPalette>

#include "orvixtool/shell/colorref.h"
#include "orvixtool/shell/mem_dc.h"

using devod::ColorRef;

namespace {

QRect ToQRect(const devod::IntRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

devod::IntRect ToIntRect(const QRect& r) {
    return devod::IntRect{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

// A flat sunken edge: a one-pixel frame in the 3-D shadow colour (QPalette::Dark, the
// counterpart of the Windows button-shadow colour). Returns the rectangle inside the frame.
QRect DrawFlatEdge(QPainter& painter, const QRect& rect, const QColor& shadow) {
    if (rect.isEmpty()) return rect;
    painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), shadow);
    painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), shadow);
    painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), shadow);
    painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), shadow);
    return rect.adjusted(1, 1, -1, -1);
}

}  // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent) : QWidget(parent) {
    // paintEvent covers every pixel itself (through CMemDC), so no background is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

intptr_t CTextProgressCtrl::SendMessage(unsigned msg, uintptr_t wparam, intptr_t lparam) {
    bool repaint_now = false;
    const intptr_t result = state_.Handle(msg, wparam, lparam, &repaint_now);
    // The whole control, painted before this returns. Nothing is erased first: the paint covers
    // every pixel.
    if (repaint_now) repaint();
    return result;
}

uint32_t CTextProgressCtrl::SetRange(int32_t minimum, int32_t maximum) {
    return static_cast<uint32_t>(SendMessage(devod::kPbmSetRange32,
                                             static_cast<uintptr_t>(static_cast<uint32_t>(minimum)),
                                             static_cast<intptr_t>(maximum)));
}

int32_t CTextProgressCtrl::SetPos(int32_t position) {
    return static_cast<int32_t>(
        SendMessage(devod::kPbmSetPos, static_cast<uintptr_t>(static_cast<uint32_t>(position)), 0));
}

ColorRef CTextProgressCtrl::SetBarColour(ColorRef colour) {
    return static_cast<ColorRef>(SendMessage(devod::kPbmSetBarColor, 0, colour));
}

ColorRef CTextProgressCtrl::SetBkColour(ColorRef colour) {
    return static_cast<ColorRef>(SendMessage(devod::kPbmSetBkColor, 0, colour));
}

ColorRef CTextProgressCtrl::SetTextColour(ColorRef colour) {
    return static_cast<ColorRef>(SendMessage(devod::kPbmSetTextColor, 0, colour));
}

ColorRef CTextProgressCtrl::SetTextBkColour(ColorRef colour) {
    return static_cast<ColorRef>(SendMessage(devod::kPbmSetTextBkColor, 0, colour));
}

bool CTextProgressCtrl::SetShowPercent(bool show) {
    return SendMessage(devod::kPbmShowPercent, show ? 1 : 0, 0) != 0;
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
    if (text == window_text_) return;
    window_text_ = text;
    update();
}

devod::ProgressColours CTextProgressCtrl::ResolvedColours() const {
    const QPalette& pal = palette();
    return state_.Resolve(devod::ProgressColours{
        devod::ToColorRef(pal.color(QPalette::Highlight)),
        devod::ToColorRef(pal.color(QPalette::Button)),
        devod::ToColorRef(pal.color(QPalette::WindowText)),
        devod::ToColorRef(pal.color(QPalette::Window)),
    });
}

void CTextProgressCtrl::paintEvent(QPaintEvent* /*event*/) {
    // An empty or inverted range paints nothing at all; the paint still counts as done.
    if (!state_.HasPaintableRange()) return;

    QPainter target(this);
    devod::CMemDC mem(&target);
    QPainter& painter = mem.painter();

    const devod::ProgressColours colours = ResolvedColours();
    painter.setFont(font());

    const QRect inner = DrawFlatEdge(painter, rect(), palette().color(QPalette::Dark));
    // Nothing fits inside the edge. (QRect's & would turn an inverted rectangle into a valid
    // one, so inverted rectangles never reach the clipping below.)
    if (inner.isEmpty()) return;
    const devod::IntRect r = ToIntRect(inner);
    const std::optional<devod::ProgressLayout> layout = state_.Layout(r);
    if (!layout) return;

    const QRect filled = ToQRect(layout->filled);
    const QRect unfilled = ToQRect(layout->unfilled);
    if (!filled.isEmpty()) painter.fillRect(filled, devod::ToQColor(colours.bar));
    if (!unfilled.isEmpty()) painter.fillRect(unfilled, devod::ToQColor(colours.background));

    const QString text = QString::fromStdString(state_.Text(window_text_.toStdString()));
    if (text.isEmpty()) return;

    const QFontMetrics metrics = painter.fontMetrics();
    const int text_width = metrics.horizontalAdvance(text);
    const int text_height = metrics.height();
    const devod::IntPoint origin = devod::ProgressState::TextOrigin(r, text_width, text_height);
    const QRect text_box(origin.x, origin.y, text_width, text_height);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;

    painter.setBackgroundMode(Qt::TransparentMode);
    // The same text twice at the same place: over the bar in the text-background colour, over
    // the empty part in the text colour, each clipped to its own part.
    const QRect text_over_bar = filled.isEmpty() ? QRect() : filled & inner;
    if (!text_over_bar.isEmpty()) {
        painter.setClipRect(text_over_bar);
        painter.setPen(devod::ToQColor(colours.text_background));
        painter.drawText(text_box, flags, text);
    }
    const QRect text_over_empty = unfilled.isEmpty() ? QRect() : unfilled & inner;
    if (!text_over_empty.isEmpty()) {
        painter.setClipRect(text_over_empty);
        painter.setPen(devod::ToQColor(colours.text));
        painter.drawText(text_box, flags, text);
    }
    painter.setClipping(false);
}
