// qv::CGetVersion: reads one text value (firmware, database or voice version, device ID or serial
// number) from a device in download mode into the session's version text.
#pragma once

#include <string>

#include "qvlib/session/command.h"

namespace qv {

class CGetVersion : public CCommand {
public:
    // The reply is read into a 4096-byte buffer; the value lands in `destination` (its size bytes,
    // terminated) only when the reply holds "OK!" and a value between "$" and "\r".
    CGetVersion(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                char* destination, uint32_t destination_size, std::string command_text)
        : CCommand(port, progress, model),
          destination_(destination),
          destination_size_(destination_size),
          command_text_(std::move(command_text)) {}

    int Execute() override;

    // Judges a reply of `length` bytes (NUL bytes already counted in): copies the value into the
    // destination and returns true, or returns false and leaves the destination as it was.
    static bool ExtractValue(char* reply, uint32_t length, char* destination,
                             uint32_t destination_size);

private:
    char* destination_;
    uint32_t destination_size_;
    std::string command_text_;
};

}  // namespace qv
