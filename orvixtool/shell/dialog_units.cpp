#include "orvixtool/shell/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <algorithm>
#include <climits>
#include <cstdint>

namespace devod {

const char* const DialogUnits::kAverageSample =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    int64_t product = static_cast<int64_t>(a) * b;
    int64_t divisor = c;
    if (divisor < 0) {
        divisor = -divisor;
        product = -product;
    }
    // Half the divisor added away from zero before the truncating division rounds halves away
    // from zero.
    const int64_t half = divisor / 2;
    const int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > INT_MAX || result < -INT_MAX) return -1;
    return static_cast<int>(result);
}

QFont DialogFont() {
    // DejaVu Sans Condensed at 8 points has the base units of the original dialog font (6 × 13
    // pixels at 96 dpi), so the windows keep their proportions; plain DejaVu Sans is wider.
    static const QString kPreferred[] = {QStringLiteral("DejaVu Sans Condensed"),
                                         QStringLiteral("DejaVu Sans")};
    QFont font;
    auto found =
        std::find_if(std::begin(kPreferred), std::end(kPreferred),
                     [](const QString& family) { return QFontDatabase::hasFamily(family); });
    if (found != std::end(kPreferred)) {
        font.setFamily(*found);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setStyleHint(QFont::SansSerif);
    }
    font.setPointSize(8);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int sample_width = metrics.horizontalAdvance(QString::fromLatin1(kAverageSample));
    // width / 52 rounded to the nearest: (width / 26 + 1) / 2.
    base_width_ = std::max(1, (sample_width / 26 + 1) / 2);
    base_height_ = std::max(1, metrics.height());
}

DialogUnits::DialogUnits(int base_width, int base_height)
    : base_width_(std::max(1, base_width)), base_height_(std::max(1, base_height)) {}

int ControlId(const QWidget* control, int fallback) {
    if (!control) return fallback;
    bool ok = false;
    const int id = control->objectName().toInt(&ok);
    return ok ? id : fallback;
}

QWidget* FindControl(QWidget* root, int id) {
    if (!root) return nullptr;
    return root->findChild<QWidget*>(QString::number(id), Qt::FindChildrenRecursively);
}

}  // namespace devod
