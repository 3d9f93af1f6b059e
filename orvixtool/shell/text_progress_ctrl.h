// A progress bar that writes its percentage (or its window text) across the bar, the part of the
// text over the filled bar in one colour and the part over the empty bar in another. The state
// and every number of a paint come from devod::ProgressState; this widget only draws them.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>

#include "orvixtool/shell/progress_state.h"

class CTextProgressCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CTextProgressCtrl(QWidget* parent = nullptr);

    // The progress-bar messages (PBM_SETRANGE, PBM_SETPOS, … see devod::ProgressMessage).
    // Setting the position, a colour or the percentage display repaints the whole bar before
    // the call returns; setting the range does not repaint. Unknown messages return 0.
    intptr_t SendMessage(unsigned msg, uintptr_t wparam, intptr_t lparam);

    // Typed forms of the messages, with the same results and the same repaints.
    uint32_t SetRange(int32_t minimum, int32_t maximum);
    int32_t SetPos(int32_t position);
    devod::ColorRef SetBarColour(devod::ColorRef colour);
    devod::ColorRef SetBkColour(devod::ColorRef colour);
    devod::ColorRef SetTextColour(devod::ColorRef colour);
    devod::ColorRef SetTextBkColour(devod::ColorRef colour);
    bool SetShowPercent(bool show);

    int32_t Pos() const { return state_.Pos(); }
    int32_t Minimum() const { return state_.Minimum(); }
    int32_t Maximum() const { return state_.Maximum(); }
    const devod::ProgressState& State() const { return state_; }

    // The text shown when the percentage is off. Setting it schedules a repaint.
    void SetWindowText(const QString& text);
    QString WindowText() const { return window_text_; }

    // The colours a paint uses: the ones set, and the palette's for those left unset (bar:
    // Highlight, background: Button, text: WindowText, text background: Window).
    devod::ProgressColours ResolvedColours() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    devod::ProgressState state_;
    QString window_text_;
};
