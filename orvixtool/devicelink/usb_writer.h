// The database write to the device: a worker thread that streams a database file into the pipe
// "PIPE00" — first the file's 20-byte opening message, then the body from offset 1024 in blocks
// of at most 2048 bytes, each write followed by a 100 ms pause and retried on failure — and tells
// the page how it ended through a synchronous call (0x2402 finished, 0x2403 failed).
//
// The retries are for a device that is slow to take a block. A device that has gone (the pipe
// reports that its other end closed or the device vanished, or open_dev no longer finds it, asked
// after every kProbeAfterFailures failed attempts in a row) ends the write at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "orvixtool/devicelink/pipe_bridge.h"

namespace devod {

enum WriteMessage : unsigned { kMsgWriteFinished = 0x2402, kMsgWriteFailed = 0x2403 };

// Whether a file can be written to the device: a body after the 1024-byte header, and the header
// starting with '$'.
bool IsDatabaseFile(const std::vector<uint8_t>& file);

class UsbWriter {
public:
    static constexpr size_t kHeaderSize = 1024;
    static constexpr size_t kOpeningSize = 20;
    static constexpr size_t kBlockSize = 2048;
    static constexpr int kAttempts = 3002;  // the first attempt and 3001 retries
    // About one second of failed attempts (each takes at least 101 ms) before open_dev is asked.
    static constexpr int kProbeAfterFailures = 10;

    enum class Attempt { kWritten, kFailed, kDeviceGone };
    // How a write attempt is made; the pipe's WriteFile unless a test replaces it.
    using WriteFn = std::function<Attempt(OsHandle, const uint8_t*, size_t)>;
    // Whether the device is still attached (open_dev); nothing means "assume it is".
    using PresentFn = std::function<bool()>;
    // Delivers 0x2402 or 0x2403 to the page and returns once the page has handled it.
    using NotifyFn = std::function<void(unsigned message)>;

    UsbWriter() = default;
    // Stops a running thread at its next attempt and waits for it.
    ~UsbWriter();
    UsbWriter(const UsbWriter&) = delete;
    UsbWriter& operator=(const UsbWriter&) = delete;

    // Takes the whole file and the open pipe; the thread frees the one and closes the other.
    // False when a thread could not be started (the pipe is then closed here).
    bool Start(std::vector<uint8_t> file, UniquePipe pipe, NotifyFn notify, WriteFn write = nullptr,
               PresentFn present = nullptr);
    // The pipe's write, with a failure that means the device has gone told apart.
    static Attempt WritePipe(OsHandle pipe, const uint8_t* data, size_t size);
    uint32_t BytesSent() const { return sent_.load(std::memory_order_acquire); }
    uint32_t BodyLength() const { return body_length_; }
    // The page's abort flag: the thread fails before its next body block.
    void Abort() { abort_.store(true, std::memory_order_release); }
    // Also ends the opening message's retries: for a window that goes away.
    void Shutdown();
    bool Running() const { return thread_.joinable(); }
    void Join();

private:
    int Run();
    bool WriteWithRetries(const uint8_t* data, size_t size, uint32_t retry_pause_ms,
                          bool check_abort);

    std::vector<uint8_t> file_;
    UniquePipe pipe_;
    NotifyFn notify_;
    WriteFn write_;
    PresentFn present_;
    uint32_t body_length_ = 0;
    std::atomic<uint32_t> sent_{0};
    std::atomic<bool> abort_{false};
    std::atomic<bool> shutdown_{false};
    std::thread thread_;
};

}  // namespace devod
