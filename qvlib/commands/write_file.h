// Image writes: the firmware, the speed-camera database and the voice data go to a device in
// download mode as whole files, byte for byte, and the bootloader through its own start command.
//
// qv::CWriteFile: announces the write with its command text ("wb\r", "wd\r", "wv\r"), confirms it
// with "y" and streams the file in 4096-byte blocks, listening 100 ms after each. Everything the
// device says lands in one 4096-byte reply buffer that starts over from its beginning when full;
// after the stream a 1500 ms pause and a 300 ms read collect the rest. Success when the reply holds
// "WriteSucceed!"; every failure verdict, and none, is 2.
//
// qv::CWriteBootloader: the start command at 9600 baud, then the image at 115200 baud without
// listening, then the prompt "QV>>" within 1000 ms plus a 500 ms read as the verdict. The port is
// left at 115200 baud.
//
// Both set the progress range to 0 and the file's size and advance the position by the bytes
// sent. A file that cannot be opened ends the command with 2 before anything is sent or reopened,
// and leaves the progress as it was. A port closed under the command ends it at its next send or
// read.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "qvlib/session/command.h"

namespace qv {

class CWriteFile : public CCommand {
public:
    static constexpr uint32_t kBlockSize = 4096;

    CWriteFile(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
               std::string command_text, std::string path)
        : CCommand(port, progress, model),
          command_text_(std::move(command_text)),
          path_(std::move(path)) {}

    int Execute() override;

private:
    std::string command_text_;
    std::string path_;
};

class CWriteBootloader : public CCommand {
public:
    static constexpr const char* kStartCommand = "_D Y B01A 000F\r";
    static constexpr int kStartBaud = 9600;
    static constexpr int kTransferBaud = 115200;

    CWriteBootloader(CSerialPort* port, CProgressInfo* progress, const ModelInfo* model,
                     std::string path)
        : CCommand(port, progress, model), path_(std::move(path)) {}

    int Execute() override;

private:
    std::string path_;
};

// An image file opened for reading, closed however the command ends.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file and sets the progress range to 0 and its size (0 when the size cannot be read),
// the position to 0. Null, and the progress untouched, when it cannot be opened.
ImageFile OpenImage(const std::string& path, CProgressInfo& progress);

}  // namespace qv
