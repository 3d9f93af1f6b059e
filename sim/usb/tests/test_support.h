// What the USB tests share: libPipeBridge loaded the way the desktop program loads it, a device on
// a socket in a fresh folder, and single transfers in and out of pipe descriptors.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "sim/usb/socket_util.h"
#include "sim/usb/z31usb.h"

namespace z31sim::testing {

using usb::Fd;

// libPipeBridge through dlopen/dlsym, closed with dlclose.
class BridgeLib {
public:
    BridgeLib();
    ~BridgeLib();
    BridgeLib(const BridgeLib&) = delete;
    BridgeLib& operator=(const BridgeLib&) = delete;

    bool Loaded() const { return open_dev_ != nullptr && open_file_ != nullptr; }
    int OpenDev() const { return open_dev_(); }
    // Passes `name` in a 32-byte zero-filled buffer, as the program does.
    int OpenFile(const std::string& name) const;
    int OpenFileRaw(char* buffer) const { return open_file_(buffer); }

private:
    void* handle_ = nullptr;
    int (*open_dev_)(void) = nullptr;
    int (*open_file_)(char*) = nullptr;
};

// A folder made with mkdtemp, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void SetEnv(const char* name, const std::string& value);
// One send with MSG_NOSIGNAL; -1 with errno on failure.
ssize_t Send(int fd, const Bytes& transfer);
// One read(2) of up to 4096 bytes: what it returned, its errno and the bytes.
struct ReadResult {
    ssize_t result = -1;
    int error = 0;
    Bytes data;
};
ReadResult ReadOnce(int fd);
int CountOpenFds();
// Polls until this process has `count` open descriptors; false if it still has not after 3 s.
bool WaitForFdCount(int count);

// A device on <tmp>/usb.sock with Z31_USB_SOCKET pointing at it and library time-outs of 3 s;
// tests that expect a time-out shorten them with SetEnv before opening.
class UsbTest : public ::testing::Test {
protected:
    UsbTest();
    ~UsbTest() override;

    Fd Open(const std::string& name) const { return Fd(lib_.OpenFile(name)); }
    void OpenPipes();                 // out_ and in_
    void Request(std::uint8_t kind);  // a 3-byte read request on out_
    // A 64-byte write frame of `kind` carrying `payload` from byte 3.
    static Bytes WriteFrame(std::uint8_t kind, const Bytes& payload);

    TempDir dir_;
    const std::string socket_;
    BridgeLib lib_;
    std::unique_ptr<UsbDevice> device_;
    Fd out_;
    Fd in_;
};

}  // namespace z31sim::testing
