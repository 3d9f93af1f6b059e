// The progress bar's message interface and paint arithmetic, without Qt.
#include "orvixtool/shell/progress_state.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace devod {
namespace {

intptr_t MakeLParam(unsigned low, unsigned high) {
    return static_cast<intptr_t>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16));
}

class ProgressMessagesTest : public ::testing::Test {
protected:
    intptr_t Send(unsigned msg, uintptr_t wparam, intptr_t lparam) {
        repaint_ = true;  // every call must overwrite it
        return state_.Handle(msg, wparam, lparam, &repaint_);
    }

    ProgressState state_;
    bool repaint_ = false;
};

TEST_F(ProgressMessagesTest, SetRangeReadsUnsignedHalvesAndReturnsOldRangePacked) {
    EXPECT_EQ(Send(kPbmSetRange, 0, MakeLParam(10, 0xFFFF)), 100 << 16);
    EXPECT_FALSE(repaint_);
    EXPECT_EQ(state_.Minimum(), 10);
    EXPECT_EQ(state_.Maximum(), 65535);  // not -1
    EXPECT_EQ(Send(kPbmSetRange, 0, MakeLParam(0, 5)), static_cast<intptr_t>(0xFFFF000Au));
}

TEST_F(ProgressMessagesTest, SetRange32TakesSignedValuesAndReturnsOldRangeIn16BitHalves) {
    EXPECT_EQ(Send(kPbmSetRange32, static_cast<uintptr_t>(static_cast<uint32_t>(-50)), -10),
              100 << 16);
    EXPECT_EQ(state_.Minimum(), -50);
    EXPECT_EQ(state_.Maximum(), -10);
    EXPECT_EQ(Send(kPbmSetRange32, 0, 70000), static_cast<intptr_t>(0xFFF6FFCEu));
    EXPECT_EQ(state_.Maximum(), 70000);
    EXPECT_FALSE(repaint_);
}

TEST_F(ProgressMessagesTest, SetPosClampsToTheRangeRepaintsAndReturnsOldPosition) {
    EXPECT_EQ(Send(kPbmSetPos, 150, 0), 0);
    EXPECT_TRUE(repaint_);
    EXPECT_EQ(state_.Pos(), 100);
    EXPECT_EQ(Send(kPbmSetPos, static_cast<uintptr_t>(static_cast<uint32_t>(-5)), 0), 100);
    EXPECT_EQ(state_.Pos(), 0);
    state_.SetRange(-20, 20);
    EXPECT_EQ(Send(kPbmSetPos, static_cast<uintptr_t>(static_cast<uint32_t>(-7)), 0), 0);
    EXPECT_EQ(state_.Pos(), -7);
    Send(kPbmSetPos, static_cast<uintptr_t>(0x100000005ull), 0);  // upper half ignored
    EXPECT_EQ(state_.Pos(), 5);
}

TEST_F(ProgressMessagesTest, ChangingTheRangeLeavesThePositionOutsideIt) {
    state_.SetPos(80);
    Send(kPbmSetRange32, 0, 50);
    EXPECT_EQ(state_.Pos(), 80);
    EXPECT_FALSE(repaint_);
}

TEST_F(ProgressMessagesTest, EachColourMessageStoresReturnsTheOldColourAndRepaints) {
    struct Case {
        unsigned msg;
        ColorRef (ProgressState::*get)() const;
    };
    const Case cases[] = {
        {kPbmSetBarColor, &ProgressState::BarColour},
        {kPbmSetBkColor, &ProgressState::BkColour},
        {kPbmSetTextColor, &ProgressState::TextColour},
        {kPbmSetTextBkColor, &ProgressState::TextBkColour},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        EXPECT_EQ(Send(c.msg, 0, 0x00123456), static_cast<intptr_t>(kColourUnset));
        EXPECT_TRUE(repaint_);
        EXPECT_EQ((state_.*c.get)(), 0x00123456u);
        EXPECT_EQ(Send(c.msg, 0, 0), 0x00123456);
        EXPECT_TRUE(repaint_);
        EXPECT_EQ((state_.*c.get)(), 0u);  // black is a colour, not "unset"
    }
    // Each message set only its own colour.
    EXPECT_EQ(state_.Pos(), 0);
    EXPECT_TRUE(state_.ShowPercent());
}

TEST_F(ProgressMessagesTest, ShowPercentReturnsTheOldSettingAndRepaints) {
    EXPECT_EQ(Send(kPbmShowPercent, 0, 0), 1);
    EXPECT_FALSE(state_.ShowPercent());
    EXPECT_TRUE(repaint_);
    EXPECT_EQ(Send(kPbmShowPercent, 2, 0), 0);
    EXPECT_TRUE(state_.ShowPercent());
    EXPECT_TRUE(repaint_);
}

TEST_F(ProgressMessagesTest, UnknownMessageReturnsZeroAndChangesNothing) {
    state_.SetPos(40);
    EXPECT_EQ(Send(0x403, 7, 7), 0);  // a step message this bar does not know
    EXPECT_FALSE(repaint_);
    EXPECT_EQ(state_.Pos(), 40);
    EXPECT_EQ(state_.Maximum(), 100);
    EXPECT_EQ(state_.Handle(kPbmSetPos, 60, 0, nullptr), 40);  // no repaint flag wanted
}

class ProgressPaintTest : public ::testing::Test {
protected:
    ProgressState Bar(int32_t minimum, int32_t maximum, int32_t pos) {
        ProgressState state;
        state.SetRange(minimum, maximum);
        state.SetPos(pos);
        return state;
    }
};

TEST_F(ProgressPaintTest, PercentageRoundsHalfUp) {
    EXPECT_EQ(Bar(0, 200, 1).Text(""), "1%");  // 0.5 -> 1
    EXPECT_EQ(Bar(0, 201, 1).Text(""), "0%");  // 0.497… -> 0
    EXPECT_EQ(Bar(0, 3, 2).Text(""), "67%");   // 66.67
    EXPECT_EQ(Bar(-50, 50, 50).Text(""), "100%");
    EXPECT_EQ(Bar(-50, 50, -50).Text(""), "0%");
}

TEST_F(ProgressPaintTest, WithoutPercentageTheWindowTextIsShown) {
    ProgressState state = Bar(0, 100, 50);
    state.SetShowPercent(false);
    EXPECT_EQ(state.Text("Copying"), "Copying");
    EXPECT_EQ(state.Text(""), "");
}

TEST_F(ProgressPaintTest, NothingIsLaidOutWhenMinimumIsNotBelowMaximum) {
    EXPECT_FALSE(Bar(5, 5, 5).Layout(IntRect{0, 0, 100, 10}).has_value());
    EXPECT_FALSE(Bar(10, 0, 5).Layout(IntRect{0, 0, 100, 10}).has_value());
    EXPECT_TRUE(Bar(0, 1, 0).Layout(IntRect{0, 0, 100, 10}).has_value());
}

TEST_F(ProgressPaintTest, FilledPartEndsAtTheTruncatedFraction) {
    const IntRect inner{1, 1, 101, 21};
    auto layout = Bar(0, 3, 2).Layout(inner);  // 100 * 2/3 = 66.67 -> 66
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->filled, (IntRect{1, 1, 67, 21}));
    EXPECT_EQ(layout->unfilled, (IntRect{67, 1, 101, 21}));

    layout = Bar(0, 2, 1).Layout(IntRect{0, 0, 7, 5});  // 3.5 -> 3
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->filled.right, 3);
    EXPECT_EQ(layout->unfilled.left, 3);

    layout = Bar(0, 100, 100).Layout(inner);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->filled, inner);
    EXPECT_TRUE(layout->unfilled.IsEmpty());
}

TEST_F(ProgressPaintTest, FullInt32RangeDoesNotOverflow) {
    ProgressState state = Bar(INT32_MIN, INT32_MAX, 0);
    EXPECT_EQ(state.Text(""), "50%");
    auto layout = state.Layout(IntRect{0, 0, 1000, 10});
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->filled.right, 500);
}

TEST_F(ProgressPaintTest, PositionLeftOutsideTheRangeStaysInsideTheEdge) {
    ProgressState state = Bar(0, 100, 100);
    state.SetRange(0, 10);
    const IntRect inner{1, 1, 41, 9};
    auto layout = state.Layout(inner);
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->filled, inner);
    EXPECT_TRUE(layout->unfilled.IsEmpty());
    EXPECT_EQ(state.Text(""), "1000%");

    state.SetRange(200, 300);  // now below the range
    layout = state.Layout(inner);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(layout->filled.IsEmpty());
    EXPECT_EQ(layout->unfilled, inner);
    EXPECT_EQ(state.Text(""), "-99%");  // -100 + 0.5 truncated toward zero
}

TEST_F(ProgressPaintTest, TextIsCentredWithHalvesTruncatedTowardZero) {
    EXPECT_EQ(ProgressState::TextOrigin(IntRect{1, 1, 11, 11}, 3, 4), (IntPoint{4, 4}));
    // A text wider than the bar: (10 - 13) / 2 is -1, not -2.
    EXPECT_EQ(ProgressState::TextOrigin(IntRect{0, 0, 10, 10}, 13, 15), (IntPoint{-1, -2}));
    EXPECT_EQ(ProgressState::TextOrigin(IntRect{5, 2, 105, 22}, 30, 13), (IntPoint{40, 5}));
}

TEST_F(ProgressPaintTest, UnsetColoursResolveToTheSystemColours) {
    ProgressState state;
    state.SetBarColour(0x000000FF);
    state.SetTextBkColour(0);
    const ProgressColours system{1, 2, 3, 4};
    const ProgressColours resolved = state.Resolve(system);
    EXPECT_EQ(resolved.bar, 0x000000FFu);
    EXPECT_EQ(resolved.background, 2u);
    EXPECT_EQ(resolved.text, 3u);
    EXPECT_EQ(resolved.text_background, 0u);
}

}  // namespace
}  // namespace devod
