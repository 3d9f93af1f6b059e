// The outside USB library, PipeBridge, loaded by name for one operation and released when the
// object goes. It offers two functions: "open_dev" (is a device attached?) and "open_file" (open
// one of the device's two pipes). Handles are file descriptors; -1 is the invalid handle.
#pragma once

#include <string>
#include <utility>

namespace devod {

using OsHandle = int;
constexpr OsHandle kInvalidHandle = -1;

// Pipe names: the tool writes "PIPE00" and reads "PIPE01".
inline constexpr char kPipeOut[] = "PIPE00";
inline constexpr char kPipeIn[] = "PIPE01";

class PipeBridge {
public:
    // Loads "libPipeBridge.so" through the normal library search, then from the program's own
    // folder, and takes both functions. A missing library or function leaves it unloaded.
    PipeBridge();
    ~PipeBridge();
    PipeBridge(const PipeBridge&) = delete;
    PipeBridge& operator=(const PipeBridge&) = delete;

    bool IsLoaded() const { return open_dev_ != nullptr && open_file_ != nullptr; }
    // kInvalidHandle when no device is attached or the library is not loaded.
    OsHandle OpenDev();
    // Opens a pipe by name (passed in a 32-byte zero-filled buffer).
    OsHandle OpenFile(const std::string& pipe_name);
    // Whether a device is attached: open_dev, and its handle closed at once.
    bool Probe();

    // Where the library is looked for first: a full path, or empty for the normal search. Tests
    // point it at the simulator's library.
    static void SetLibraryPath(const std::string& path);
    static std::string LibraryPath();

private:
    using OpenDevFn = int (*)();
    using OpenFileFn = int (*)(char*);
    void* module_ = nullptr;
    OpenDevFn open_dev_ = nullptr;
    OpenFileFn open_file_ = nullptr;
};

// The platform's synchronous file calls on an OS handle, with the Windows meaning of success.
bool WriteFile(OsHandle handle, const void* data, size_t size, size_t* written = nullptr);
bool ReadFile(OsHandle handle, void* buffer, size_t size, size_t* received = nullptr);
void CloseHandle(OsHandle handle);
// The text of the last failed call, as the system words it.
std::string LastErrorText();

// Probes for the device: load the library, open_dev, close the handle, release the library.
bool DevicePresent();

// Owns one open pipe handle and closes it when it goes; move-only.
class UniquePipe {
public:
    UniquePipe() = default;
    explicit UniquePipe(OsHandle handle) : handle_(handle) {}
    ~UniquePipe() { reset(); }
    UniquePipe(UniquePipe&& other) noexcept : handle_(other.release()) {}
    UniquePipe& operator=(UniquePipe&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniquePipe(const UniquePipe&) = delete;
    UniquePipe& operator=(const UniquePipe&) = delete;

    OsHandle get() const { return handle_; }
    bool valid() const { return handle_ != kInvalidHandle; }
    explicit operator bool() const { return valid(); }
    // Gives the handle up without closing it.
    OsHandle release() { return std::exchange(handle_, kInvalidHandle); }
    void reset(OsHandle handle = kInvalidHandle) { CloseHandle(std::exchange(handle_, handle)); }

private:
    OsHandle handle_ = kInvalidHandle;
};

}  // namespace devod
