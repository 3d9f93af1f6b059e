// qv::CGetUserSetting and qv::CSetUserSetting: the user settings between the session's six
// settings lists and the device, as one settings line (see records.h). Both talk at the port's
// current rate: the device is put into download mode first.
//
// Read: "ra\r", "y", then one read of up to 1000 ms. Only a reply holding "Completed!" and a
// settings line of exactly 80 characters replaces the lists; any other leaves them as they were.
// Write: "wa\r", "y", the settings line and the end line in one write, then one read of 100 ms
// that must hold "WriteSucceed!". The write sends copies of the lists taken at the request.
#pragma once

#include "qvlib/session/command.h"
#include "qvlib/settings/records.h"

namespace qv {

class CGetUserSetting : public CCommand {
public:
    CGetUserSetting(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                    SessionLists* lists)
        : CCommand(port, progress, model), lists_(lists) {}

    int Execute() override;

private:
    SessionLists* lists_;  // the session's
};

class CSetUserSetting : public CCommand {
public:
    CSetUserSetting(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                    SettingsLists copies)
        : CCommand(port, progress, model), copies_(std::move(copies)) {}

    int Execute() override;

private:
    SettingsLists copies_;
};

}  // namespace qv
