// qv::CSetSerialNumber: writes the device's serial number ("wsmt\r", "y", the number and "\r").
// A device that already holds one refuses with "EraseFirst!", which decides even when the reply
// also says "Completed!"; the stored number is erased with ReqEraseSerialNumber (qv::CEraseFlash).
#pragma once

#include <string>

#include "qvlib/session/command.h"

namespace qv {

class CSetSerialNumber : public CCommand {
public:
    CSetSerialNumber(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                     const char* serial_number)
        : CCommand(port, progress, model), serial_line_(std::string(serial_number) + "\r") {}

    int Execute() override;

private:
    std::string serial_line_;  // the number with "\r" appended
};

}  // namespace qv
