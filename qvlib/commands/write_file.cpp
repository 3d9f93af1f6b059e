#include "qvlib/commands/write_file.h"

#include <sys/stat.h>

#include <vector>

namespace qv {

ImageFile OpenImage(const std::string& path, CProgressInfo& progress) {
    ImageFile file(std::fopen(path.c_str(), "rb"));
    if (!file) return file;
    struct stat info {};
    uint32_t size = 0;
    if (fstat(fileno(file.get()), &info) == 0) {
        // A folder opens for reading here but yields no bytes: it is no image.
        if (S_ISDIR(info.st_mode)) return nullptr;
        if (S_ISREG(info.st_mode)) size = static_cast<uint32_t>(info.st_size);
    }
    progress.SetRange(0, size);
    progress.SetPos(0);
    return file;
}

namespace {

// Sends the image in blocks of CWriteFile::kBlockSize through `send_block`, keeping the progress
// at the bytes sent.
template <typename SendBlock>
void StreamImage(std::FILE* file, CProgressInfo& progress, SendBlock send_block) {
    std::vector<char> block(CWriteFile::kBlockSize);
    uint32_t sent = 0;
    for (;;) {
        size_t count = std::fread(block.data(), 1, block.size(), file);
        if (count == 0) break;
        send_block(block.data(), static_cast<uint32_t>(count));
        sent += static_cast<uint32_t>(count);
        progress.SetPos(sent);
    }
}

}  // namespace

int CWriteFile::Execute() {
    ImageFile file = OpenImage(path_, *progress_);
    if (!file) return kResultFailure;

    ReplyBuffer<kBlockSize> reply;
    SendText(command_text_.c_str());
    Pause(100);
    AppendReply(reply, 100);
    SendText("y");
    Pause(100);
    AppendReply(reply, 100);

    StreamImage(file.get(), *progress_, [&](const char* data, uint32_t size) {
        SendText(data, size);
        Pause(0);
        AppendReply(reply, 100);
        if (reply.Full()) reply.fill = 0;  // later replies overwrite the buffer from its start
    });
    Pause(1500);
    AppendReply(reply, 300);
    return HasMarker(reply.text, "WriteSucceed!") ? kResultSuccess : kResultFailure;
}

int CWriteBootloader::Execute() {
    ImageFile file = OpenImage(path_, *progress_);
    if (!file) return kResultFailure;

    SwitchBaudRate(kStartBaud);
    SendText(kStartCommand);
    Pause(100);
    SwitchBaudRate(kTransferBaud);

    StreamImage(file.get(), *progress_, [&](const char* data, uint32_t size) {
        SendText(data, size);
        Pause(0);
    });
    Pause(1000);
    ReplyBuffer<4096> reply;
    ReadReply(reply, 500);
    return HasMarker(reply.text, "QV>>") ? kResultSuccess : kResultFailure;
}

}  // namespace qv
