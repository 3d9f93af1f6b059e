// COLORREF values (0x00BBGGRR) to and from QColor.
#pragma once

#include <QColor>

#include "orvixtool/shell/progress_state.h"

namespace devod {

// The high byte (Windows' palette-index and "default" flags) is ignored.
inline QColor ToQColor(ColorRef colour) {
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

inline ColorRef ToColorRef(const QColor& colour) {
    const QRgb rgb = colour.rgb();
    return static_cast<ColorRef>(qRed(rgb)) | (static_cast<ColorRef>(qGreen(rgb)) << 8) |
           (static_cast<ColorRef>(qBlue(rgb)) << 16);
}

}  // namespace devod
