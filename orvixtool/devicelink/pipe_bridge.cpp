#include "orvixtool/devicelink/pipe_bridge.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace devod {
namespace {

constexpr char kLibraryName[] = "libPipeBridge.so";

std::mutex g_path_mutex;
std::string g_library_path;

void* LoadModule() {
    std::string preferred = PipeBridge::LibraryPath();
    if (!preferred.empty()) {
        if (void* module = dlopen(preferred.c_str(), RTLD_NOW | RTLD_LOCAL)) return module;
    }
    if (void* module = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL)) return module;
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return nullptr;
    auto beside = (self.parent_path() / kLibraryName).string();
    return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
}

}  // namespace

void PipeBridge::SetLibraryPath(const std::string& path) {
    std::lock_guard lock(g_path_mutex);
    g_library_path = path;
}

std::string PipeBridge::LibraryPath() {
    std::lock_guard lock(g_path_mutex);
    return g_library_path;
}

PipeBridge::PipeBridge() : module_(LoadModule()) {
    if (module_ == nullptr) return;
    open_dev_ = reinterpret_cast<OpenDevFn>(dlsym(module_, "open_dev"));
    open_file_ = reinterpret_cast<OpenFileFn>(dlsym(module_, "open_file"));
}

PipeBridge::~PipeBridge() {
    if (module_ != nullptr) dlclose(module_);
}

OsHandle PipeBridge::OpenDev() { return open_dev_ != nullptr ? open_dev_() : kInvalidHandle; }

OsHandle PipeBridge::OpenFile(const std::string& pipe_name) {
    if (open_file_ == nullptr) return kInvalidHandle;
    char name[32] = {};
    std::strncpy(name, pipe_name.c_str(), sizeof name - 1);
    return open_file_(name);
}

bool WriteFile(OsHandle handle, const void* data, size_t size, size_t* written) {
    if (written != nullptr) *written = 0;
    if (handle == kInvalidHandle) {
        errno = EBADF;
        return false;
    }
    ssize_t n;
    do {
        // A pipe may be a socket whose other end has gone: fail the write, do not raise SIGPIPE.
        n = send(handle, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = write(handle, data, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    if (written != nullptr) *written = static_cast<size_t>(n);
    return true;
}

bool ReadFile(OsHandle handle, void* buffer, size_t size, size_t* received) {
    if (received != nullptr) *received = 0;
    if (handle == kInvalidHandle) {
        errno = EBADF;
        return false;
    }
    ssize_t n;
    do {
        n = read(handle, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return false;
    // A pipe whose other end has gone reads as end of file: no transfer took place.
    if (n == 0 && size > 0) {
        errno = EPIPE;
        return false;
    }
    if (received != nullptr) *received = static_cast<size_t>(n);
    return true;
}

void CloseHandle(OsHandle handle) {
    if (handle != kInvalidHandle) close(handle);
}

std::string LastErrorText() { return std::strerror(errno); }

bool PipeBridge::Probe() {
    OsHandle device = OpenDev();
    if (device == kInvalidHandle) return false;
    CloseHandle(device);
    return true;
}

bool DevicePresent() { return PipeBridge().Probe(); }

}  // namespace devod
