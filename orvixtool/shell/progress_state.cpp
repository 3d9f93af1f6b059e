#include "orvixtool/shell/progress_state.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <utility>

namespace devod {
namespace {

// A double turned into an int with truncation toward zero, kept inside int's range first
// (converting an out-of-range double is undefined behaviour).
int TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(value);
}

// WPARAM and LPARAM carry 32-bit values; the upper half of a 64-bit parameter is ignored.
int32_t LowInt32(uint64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

intptr_t ProgressState::Handle(unsigned msg, uintptr_t wparam, intptr_t lparam, bool* repaint) {
    bool paint_now = false;
    intptr_t result = 0;
    const auto lparam_bits = static_cast<uint64_t>(lparam);
    switch (msg) {
        case kPbmSetRange: {
            const auto packed = static_cast<uint32_t>(lparam_bits);
            result = SetRange(static_cast<int32_t>(packed & 0xFFFFu),
                              static_cast<int32_t>((packed >> 16) & 0xFFFFu));
            break;
        }
        case kPbmSetPos:
            result = SetPos(LowInt32(wparam));
            paint_now = true;
            break;
        case kPbmSetRange32: result = SetRange(LowInt32(wparam), LowInt32(lparam_bits)); break;
        case kPbmSetBarColor:
            result = SetBarColour(static_cast<ColorRef>(lparam_bits));
            paint_now = true;
            break;
        case kPbmSetBkColor:
            result = SetBkColour(static_cast<ColorRef>(lparam_bits));
            paint_now = true;
            break;
        case kPbmSetTextColor:
            result = SetTextColour(static_cast<ColorRef>(lparam_bits));
            paint_now = true;
            break;
        case kPbmSetTextBkColor:
            result = SetTextBkColour(static_cast<ColorRef>(lparam_bits));
            paint_now = true;
            break;
        case kPbmShowPercent:
            result = SetShowPercent(wparam != 0) ? 1 : 0;
            paint_now = true;
            break;
        default: break;
    }
    if (repaint) *repaint = paint_now;
    return result;
}

uint32_t ProgressState::SetRange(int32_t minimum, int32_t maximum) {
    const uint32_t old = (static_cast<uint32_t>(minimum_) & 0xFFFFu) |
                         ((static_cast<uint32_t>(maximum_) & 0xFFFFu) << 16);
    minimum_ = minimum;
    maximum_ = maximum;
    return old;
}

int32_t ProgressState::SetPos(int32_t position) {
    const int32_t old = position_;
    // Checked one bound after the other so that an inverted range (minimum above maximum) still
    // gives a defined result; such a bar paints nothing anyway.
    if (position < minimum_) {
        position = minimum_;
    } else if (position > maximum_) {
        position = maximum_;
    }
    position_ = position;
    return old;
}

ColorRef ProgressState::SetBarColour(ColorRef colour) { return std::exchange(bar_colour_, colour); }

ColorRef ProgressState::SetBkColour(ColorRef colour) { return std::exchange(bk_colour_, colour); }

ColorRef ProgressState::SetTextColour(ColorRef colour) {
    return std::exchange(text_colour_, colour);
}

ColorRef ProgressState::SetTextBkColour(ColorRef colour) {
    return std::exchange(text_bk_colour_, colour);
}

bool ProgressState::SetShowPercent(bool show) { return std::exchange(show_percent_, show); }

double ProgressState::Fraction() const {
    if (!HasPaintableRange()) return 0.0;
    // In double throughout: maximum - minimum overflows int32 for wide ranges.
    return (static_cast<double>(position_) - minimum_) / (static_cast<double>(maximum_) - minimum_);
}

int ProgressState::Percent() const { return TruncateToInt(Fraction() * 100.0 + 0.5); }

std::string ProgressState::Text(const std::string& window_text) const {
    if (!show_percent_) return window_text;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d%%", Percent());
    return buffer;
}

std::optional<ProgressLayout> ProgressState::Layout(const IntRect& inner) const {
    if (!HasPaintableRange()) return std::nullopt;
    const int width = inner.Width();
    int split = inner.left + TruncateToInt(width * Fraction());
    if (width >= 0) {
        if (split < inner.left) split = inner.left;
        if (split > inner.right) split = inner.right;
    }
    ProgressLayout layout{inner, inner};
    layout.filled.right = split;
    layout.unfilled.left = split;
    return layout;
}

ProgressColours ProgressState::Resolve(const ProgressColours& system) const {
    auto pick = [](ColorRef own, ColorRef fallback) {
        return own == kColourUnset ? fallback : own;
    };
    return ProgressColours{pick(bar_colour_, system.bar), pick(bk_colour_, system.background),
                           pick(text_colour_, system.text),
                           pick(text_bk_colour_, system.text_background)};
}

IntPoint ProgressState::TextOrigin(const IntRect& inner, int text_width, int text_height) {
    // In 64 bits: a huge text must not overflow the subtraction.
    const int64_t dx = (static_cast<int64_t>(inner.Width()) - text_width) / 2;
    const int64_t dy = (static_cast<int64_t>(inner.Height()) - text_height) / 2;
    return IntPoint{static_cast<int>(inner.left + dx), static_cast<int>(inner.top + dy)};
}

}  // namespace devod
