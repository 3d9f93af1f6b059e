// qv::CEraseFlash: erases one memory area (or the serial number) of a device in download mode: the
// command text, then its one-character confirmation, then the device's "Completed!". A reply
// without it is printed to standard output as "dump: <reply>".
#pragma once

#include <string>

#include "qvlib/session/command.h"

namespace qv {

class CEraseFlash : public CCommand {
public:
    CEraseFlash(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                std::string command_text, std::string confirmation)
        : CCommand(port, progress, model),
          command_text_(std::move(command_text)),
          confirmation_(std::move(confirmation)) {}

    int Execute() override;

private:
    std::string command_text_;
    std::string confirmation_;
};

}  // namespace qv
