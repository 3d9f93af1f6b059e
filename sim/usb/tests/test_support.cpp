#include "sim/usb/tests/test_support.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace z31sim::testing {

namespace fs = std::filesystem;

constexpr const char* kEnvNames[] = {"Z31_USB_SOCKET", "Z31_USB_READ_TIMEOUT_MS",
                                     "Z31_USB_WRITE_TIMEOUT_MS", "Z31_USB_OPEN_TIMEOUT_MS"};

BridgeLib::BridgeLib() : handle_(dlopen(PIPEBRIDGE_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) return;
    open_dev_ = reinterpret_cast<int (*)(void)>(dlsym(handle_, "open_dev"));
    open_file_ = reinterpret_cast<int (*)(char*)>(dlsym(handle_, "open_file"));
}

BridgeLib::~BridgeLib() {
    if (handle_ != nullptr) dlclose(handle_);
}

int BridgeLib::OpenFile(const std::string& name) const {
    char buffer[32] = {};
    std::strncpy(buffer, name.c_str(), sizeof buffer - 1);
    return open_file_(buffer);
}

TempDir::TempDir() {
    std::string templ = (fs::temp_directory_path() / "z31usb-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

void SetEnv(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

ssize_t Send(int fd, const Bytes& transfer) {
    return send(fd, transfer.data(), transfer.size(), MSG_NOSIGNAL);
}

ReadResult ReadOnce(int fd) {
    ReadResult r;
    r.data.resize(4096);
    r.result = read(fd, r.data.data(), r.data.size());
    r.error = r.result < 0 ? errno : 0;
    r.data.resize(r.result > 0 ? static_cast<std::size_t>(r.result) : 0);
    return r;
}

int CountOpenFds() {
    const fs::directory_iterator fds("/proc/self/fd");
    return static_cast<int>(std::distance(fs::begin(fds), fs::end(fds)));
}

bool WaitForFdCount(int count) {
    for (int i = 0; i < 300 && CountOpenFds() != count; ++i) usleep(10000);
    return CountOpenFds() == count;
}

UsbTest::UsbTest() : socket_(dir_.path() + "/usb.sock") {
    SetEnv(kEnvNames[0], socket_);
    for (const char* timeout : {kEnvNames[1], kEnvNames[2], kEnvNames[3]}) SetEnv(timeout, "3000");
    device_ = std::make_unique<UsbDevice>(socket_);
}

UsbTest::~UsbTest() {
    for (const char* name : kEnvNames) unsetenv(name);
}

void UsbTest::OpenPipes() {
    ASSERT_TRUE(lib_.Loaded());
    out_ = Open("PIPE00");
    in_ = Open("PIPE01");
    ASSERT_TRUE(out_.valid() && in_.valid()) << std::strerror(errno);
}

void UsbTest::Request(std::uint8_t kind) {
    ASSERT_EQ(Send(out_.get(), Bytes{0x23, kind, 0x01}), 3) << std::strerror(errno);
}

Bytes UsbTest::WriteFrame(std::uint8_t kind, const Bytes& payload) {
    Bytes frame(64, 0);
    frame[0] = 0x23;
    frame[1] = kind;
    frame[2] = 0x02;
    std::copy(payload.begin(), payload.end(), frame.begin() + 3);
    return frame;
}

}  // namespace z31sim::testing
