// The state of the text progress bar and its window-message interface, apart from any widget: the
// range, the position, the four colours, whether the bar shows a percentage, and the arithmetic of
// a paint (where the filled part ends, which text is shown and where it goes). Plain C++ so that
// all of it is tested without a display; CTextProgressCtrl only draws what this computes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devod {

// Colours travel as Windows COLORREF values: 0x00BBGGRR.
using ColorRef = uint32_t;
// A colour not set yet: the caller's system colour stands in for it when the bar is painted.
inline constexpr ColorRef kColourUnset = 0xFF000000u;

// The messages the bar answers, with their Windows values.
enum ProgressMessage : unsigned {
    kPbmSetRange = 0x401,    // lParam: minimum in the low 16 bits, maximum in the high 16 bits
    kPbmSetPos = 0x402,      // wParam: the new position
    kPbmSetRange32 = 0x406,  // wParam: minimum, lParam: maximum
    kPbmSetBarColor = 0x409,
    kPbmSetTextColor = 0x466,
    kPbmSetTextBkColor = 0x468,
    kPbmShowPercent = 0x46A,
    kPbmSetBkColor = 0x2001,
};

// A rectangle as Windows keeps it: right and bottom are one past the last pixel.
struct IntRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsEmpty() const { return right <= left || bottom <= top; }
    friend bool operator==(const IntRect&, const IntRect&) = default;
};

struct IntPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const IntPoint&, const IntPoint&) = default;
};

// Where one paint puts the bar inside the edge.
struct ProgressLayout {
    IntRect filled;    // painted in the bar colour
    IntRect unfilled;  // painted in the background colour
};

// The four colours of a paint, each one resolved to a real colour.
struct ProgressColours {
    ColorRef bar = 0;
    ColorRef background = 0;
    ColorRef text = 0;
    ColorRef text_background = 0;
};

class ProgressState {
public:
    // Answers one window message. *repaint (when given) tells whether the bar must be repainted
    // at once: true after the position, any colour or the percentage setting was stored, false
    // after a range change. Unknown messages return 0 and change nothing.
    intptr_t Handle(unsigned msg, uintptr_t wparam, intptr_t lparam, bool* repaint = nullptr);

    // Each setter returns what the matching message returns. Setting the range neither clamps
    // the stored position nor asks for a repaint; the result packs the old minimum into the low
    // 16 bits and the old maximum into the high 16 bits.
    uint32_t SetRange(int32_t minimum, int32_t maximum);
    int32_t SetPos(int32_t position);  // clamped to the range; returns the old position
    ColorRef SetBarColour(ColorRef colour);
    ColorRef SetBkColour(ColorRef colour);
    ColorRef SetTextColour(ColorRef colour);
    ColorRef SetTextBkColour(ColorRef colour);
    bool SetShowPercent(bool show);

    int32_t Pos() const { return position_; }
    int32_t Minimum() const { return minimum_; }
    int32_t Maximum() const { return maximum_; }
    ColorRef BarColour() const { return bar_colour_; }
    ColorRef BkColour() const { return bk_colour_; }
    ColorRef TextColour() const { return text_colour_; }
    ColorRef TextBkColour() const { return text_bk_colour_; }
    bool ShowPercent() const { return show_percent_; }

    // False when the minimum is not below the maximum: then nothing at all is painted.
    bool HasPaintableRange() const { return minimum_ < maximum_; }
    // (position - minimum) / (maximum - minimum); 0 when the range is not paintable. Outside
    // [0, 1] when a later range change left the position outside the range.
    double Fraction() const;
    // The percentage shown: the fraction times 100, rounded half up.
    int Percent() const;
    // The text drawn over the bar: "<percent>%" or, with the percentage off, the window text.
    std::string Text(const std::string& window_text) const;

    // Splits the rectangle inside the edge into its filled and unfilled parts; nothing when the
    // range is not paintable. The split is kept inside `inner`, so a position that a range
    // change left outside the range shows as an empty or a full bar instead of painting over the
    // edge.
    std::optional<ProgressLayout> Layout(const IntRect& inner) const;
    // Each unset colour replaced by the matching one of `system`.
    ProgressColours Resolve(const ProgressColours& system) const;

    // Top-left corner of a text box of the given size centred in `inner` (halves truncated
    // toward zero, as integer division does).
    static IntPoint TextOrigin(const IntRect& inner, int text_width, int text_height);

private:
    bool show_percent_ = true;
    ColorRef bar_colour_ = kColourUnset;
    ColorRef bk_colour_ = kColourUnset;
    ColorRef text_colour_ = kColourUnset;
    ColorRef text_bk_colour_ = kColourUnset;
    int32_t position_ = 0;
    int32_t minimum_ = 0;
    int32_t maximum_ = 100;
};

}  // namespace devod
