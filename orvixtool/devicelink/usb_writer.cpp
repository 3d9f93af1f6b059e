#include "orvixtool/devicelink/usb_writer.h"

#include <algorithm>
#include <cerrno>

#include "qvlib/util/clock.h"

namespace devod {

bool IsDatabaseFile(const std::vector<uint8_t>& file) {
    return file.size() > UsbWriter::kHeaderSize && file[0] == '$';
}

UsbWriter::~UsbWriter() {
    Shutdown();
    Join();
}

void UsbWriter::Shutdown() {
    shutdown_.store(true, std::memory_order_release);
    Abort();
}

void UsbWriter::Join() {
    if (thread_.joinable()) thread_.join();
}

UsbWriter::Attempt UsbWriter::WritePipe(OsHandle pipe, const uint8_t* data, size_t size) {
    if (WriteFile(pipe, data, size)) return Attempt::kWritten;
    switch (errno) {
        case EPIPE:  // the device closed its end
        case ECONNRESET:
        case ENOTCONN:
        case ECONNREFUSED:
        case ENODEV:  // the device vanished under the handle
        case ENXIO:
        case EBADF: return Attempt::kDeviceGone;
        default:  // busy or slow (a send time-out): worth another attempt
            return Attempt::kFailed;
    }
}

bool UsbWriter::Start(std::vector<uint8_t> file, UniquePipe pipe, NotifyFn notify, WriteFn write,
                      PresentFn present) {
    if (thread_.joinable() || file.size() <= kHeaderSize) return false;
    file_ = std::move(file);
    pipe_ = std::move(pipe);
    notify_ = std::move(notify);
    write_ = write ? std::move(write) : WriteFn(&UsbWriter::WritePipe);
    present_ = std::move(present);
    body_length_ = static_cast<uint32_t>(file_.size() - kHeaderSize);
    sent_.store(0, std::memory_order_release);
    shutdown_.store(false, std::memory_order_release);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        pipe_.reset();
        std::vector<uint8_t>().swap(file_);
        return false;
    }
    return true;
}

// One transfer with its retries: every attempt is followed by a 100 ms pause, a failed one also
// by `retry_pause_ms` before the next. False once kAttempts attempts in a row have failed, when
// the device has gone, or when the write is stopped.
bool UsbWriter::WriteWithRetries(const uint8_t* data, size_t size, uint32_t retry_pause_ms,
                                 bool check_abort) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (check_abort && abort_.load(std::memory_order_acquire)) return false;
        if (shutdown_.load(std::memory_order_acquire)) return false;
        if (attempt > 0) util::SleepMs(retry_pause_ms);
        Attempt outcome = write_(pipe_.get(), data, size);
        if (outcome == Attempt::kDeviceGone) return false;
        util::SleepMs(100);
        if (outcome == Attempt::kWritten) return true;
        if (present_ && (attempt + 1) % kProbeAfterFailures == 0 && !present_()) return false;
    }
    return false;
}

int UsbWriter::Run() {
    abort_.store(false, std::memory_order_release);
    bool ok = WriteWithRetries(file_.data(), kOpeningSize, 5, false);
    while (ok && sent_.load(std::memory_order_relaxed) < body_length_) {
        uint32_t sent = sent_.load(std::memory_order_relaxed);
        size_t block = std::min<size_t>(kBlockSize, body_length_ - sent);
        ok = WriteWithRetries(file_.data() + kHeaderSize + sent, block, 1, true);
        if (ok) sent_.store(sent + static_cast<uint32_t>(block), std::memory_order_release);
    }
    if (ok) {
        std::vector<uint8_t>().swap(file_);
        pipe_.reset();
        if (notify_) notify_(kMsgWriteFinished);
        return 1;
    }
    if (notify_) notify_(kMsgWriteFailed);
    std::vector<uint8_t>().swap(file_);
    pipe_.reset();
    return 0;
}

}  // namespace devod
