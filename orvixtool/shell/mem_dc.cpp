#include "orvixtool/shell/mem_dc.h"

#include <QDialog>
#include <QPaintEngine>
#include <QWidget>
#include <QtGlobal>

namespace devod {
namespace {

QWidget* PaintedWidget(const QPainter* target) {
    QPaintDevice* device = target->device();
    if (!device || device->devType() != QInternal::Widget) return nullptr;
    return static_cast<QWidget*>(device);
}

// The part of the target that this paint may change, in logical coordinates.
QRect CoveredArea(const QPainter* target, const QWidget* owner) {
    QRect area;
    if (owner) {
        area = owner->rect();
    } else if (const QPaintDevice* device = target->device()) {
        area = QRect(0, 0, device->width(), device->height());
    }
    // The region being repainted: the engine keeps it in device coordinates.
    if (const QPaintEngine* engine = target->paintEngine()) {
        const QRegion system_clip = engine->systemClip();
        if (!system_clip.isEmpty()) {
            bool invertible = false;
            const QTransform to_logical = target->deviceTransform().inverted(&invertible);
            if (invertible) {
                area &= to_logical.mapRect(QRectF(system_clip.boundingRect())).toAlignedRect();
            }
        }
    }
    if (target->hasClipping()) area &= target->clipBoundingRect().toAlignedRect();
    return area;
}

}  // namespace

QBrush CMemDC::PrefillBrush(const QPainter& target, const QWidget* owner) {
    if (!owner) return QBrush(target.background().color());
    const QPalette& palette = owner->palette();
    if (qobject_cast<const QDialog*>(owner)) return QBrush(palette.color(QPalette::Button));
    const QPalette::ColorRole role = owner->backgroundRole();
    if (owner->autoFillBackground() || palette.isBrushSet(palette.currentColorGroup(), role)) {
        return palette.brush(role);
    }
    return QBrush(target.background().color());
}

CMemDC::CMemDC(QPainter* target) : target_(target) {
    if (!target_ || !target_->isActive()) {
        qWarning("CMemDC: the target painter is %s; nothing will be drawn",
                 target_ ? "not active" : "null");
        target_ = nullptr;
    } else {
        owner_ = PaintedWidget(target_);
        area_ = CoveredArea(target_, owner_);
    }
    if (area_.isEmpty()) {
        area_ = QRect();
        // Something valid to draw into, so that callers need no special case.
        pixmap_ = QPixmap(1, 1);
        painter_.begin(&pixmap_);
        return;
    }

    const qreal ratio = target_->device()->devicePixelRatioF();
    pixmap_ = QPixmap(area_.size() * ratio);
    pixmap_.setDevicePixelRatio(ratio);
    pixmap_.fill(Qt::transparent);
    copy_ = painter_.begin(&pixmap_);
    if (!copy_) {
        qWarning("CMemDC: cannot paint on a %dx%d off-screen picture", area_.width(),
                 area_.height());
        return;
    }
    painter_.fillRect(QRect(QPoint(0, 0), area_.size()), PrefillBrush(*target_, owner_));
    painter_.translate(-area_.topLeft());
    // Start from the target's drawing state, as a compatible device context would.
    painter_.setFont(target_->font());
    painter_.setPen(target_->pen());
    painter_.setBrush(target_->brush());
    painter_.setBackground(target_->background());
    painter_.setBackgroundMode(target_->backgroundMode());
    painter_.setLayoutDirection(target_->layoutDirection());
}

CMemDC::~CMemDC() {
    if (painter_.isActive()) painter_.end();
    if (copy_ && target_ && target_->isActive()) target_->drawPixmap(area_.topLeft(), pixmap_);
}

}  // namespace devod
