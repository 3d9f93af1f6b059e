// Descriptor ownership and the few socket operations the device thread needs. Every operation
// here is non-blocking.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "sim/unique_fd.h"

namespace z31sim::usb {

// The simulator's descriptor owner, under the name this folder uses.
using Fd = UniqueFd;

// Which file a path named when we made it, so that we only ever remove our own.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
};

// A non-blocking, close-on-exec SOCK_SEQPACKET socket listening at `path`. A socket file left
// there by a simulator that is gone is replaced; a live one, or any other kind of file, is not.
// Throws std::runtime_error saying why it failed. `id` receives the identity of the new file.
Fd ListenAt(const std::string& path, FileId* id);

// Removes `path` if it is still the file `id` names.
void RemoveIfSame(const std::string& path, const FileId& id);

// True when the other end of a connected socket has closed or shut down.
bool PeerGone(int fd);

enum class SendResult { kSent, kFull, kGone };
// Sends one transfer without blocking and without raising SIGPIPE.
SendResult SendTransfer(int fd, std::span<const std::uint8_t> transfer);

}  // namespace z31sim::usb
