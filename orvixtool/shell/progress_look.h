// A progress bar's text mode and four colours, set through its window messages in one go.
#pragma once

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/progress_state.h"

namespace devod {

struct ProgressLook {
    bool show_percent;
    ColorRef background;
    ColorRef bar;
    ColorRef text_background;  // text over the filled part
    ColorRef text;             // text over the rest
};

inline void SetProgressLook(IControls& controls, int id, const ProgressLook& look) {
    controls.SendMessage(id, kPbmShowPercent, look.show_percent ? 1 : 0, 0);
    controls.SendMessage(id, kPbmSetBkColor, 0, look.background);
    controls.SendMessage(id, kPbmSetBarColor, 0, look.bar);
    controls.SendMessage(id, kPbmSetTextBkColor, 0, look.text_background);
    controls.SendMessage(id, kPbmSetTextColor, 0, look.text);
}

}  // namespace devod
