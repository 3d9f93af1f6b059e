// The one top-level handler of the owner's commands: a failure that escapes a command (the
// internet layer, a file that cannot be written) ends the command here and is shown in a message
// box with a stop icon, so that nothing escapes an event handler.
#pragma once

#include <exception>
#include <functional>

#include "orvixtool/shell/dialog_host.h"
#include "orvixtool/shell/main_window_link.h"

namespace devod {

inline void RunCommand(IPrompt& prompt, const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& error) {
        prompt.MessageBox(error.what(), kAppTitle, kMbOk | kMbIconStop);
    }
}

}  // namespace devod
