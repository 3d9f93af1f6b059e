// A database file on its way to the device over USB: the check that it is one, then the writer
// thread's opening message and body blocks, through a pipe whose attempts succeed, fail or find
// the device gone as the input says, in virtual time.
//
// Input: the first byte's low four bits count the attempt outcomes that follow (each byte: 0 a
// written block, 1 a failed attempt, 2 the device gone, by its value modulo 3); later attempts
// are written. The rest is the file. Checked: a write that is reported finished delivered the
// opening message and then exactly the body, in blocks of at most 2048 bytes; a failed one was
// failed by the pipe; nothing is written from a file the check refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "orvixtool/devicelink/usb_writer.h"
#include "qvlib/util/clock.h"

namespace {

class FreeClock : public util::Clock {
public:
    uint64_t NowMs() override { return now_.fetch_add(1) + 1; }
    void SleepMs(uint32_t ms) override { now_.fetch_add(ms); }

private:
    std::atomic<uint64_t> now_{0};
};
FreeClock g_clock;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    util::InstallClock(&g_clock);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t outcomes = std::min<size_t>(data[0] & 15, size - 1);
    std::vector<uint8_t> script(data + 1, data + 1 + outcomes);
    std::vector<uint8_t> file(data + 1 + outcomes, data + size);
    if (!devod::IsDatabaseFile(file)) return 0;

    std::mutex mutex;
    std::vector<uint8_t> delivered;
    size_t attempts = 0;
    bool pipe_failed = false;
    size_t largest = 0;
    unsigned message = 0;
    devod::UsbWriter writer;
    auto write = [&](devod::OsHandle, const uint8_t* bytes, size_t count) {
        std::lock_guard lock(mutex);
        const int outcome = attempts < script.size() ? script[attempts] % 3 : 0;
        ++attempts;
        if (outcome == 1) {
            pipe_failed = true;
            return devod::UsbWriter::Attempt::kFailed;
        }
        if (outcome == 2) {
            pipe_failed = true;
            return devod::UsbWriter::Attempt::kDeviceGone;
        }
        delivered.insert(delivered.end(), bytes, bytes + count);
        largest = std::max(largest, count);
        return devod::UsbWriter::Attempt::kWritten;
    };
    const std::vector<uint8_t> copy = file;
    if (!writer.Start(
            std::move(file), devod::UniquePipe(), [&](unsigned m) { message = m; }, write)) {
        std::abort();  // a file that passed the check is always taken
    }
    writer.Join();

    std::lock_guard lock(mutex);
    if (message == devod::kMsgWriteFinished) {
        std::vector<uint8_t> expected(copy.begin(), copy.begin() + devod::UsbWriter::kOpeningSize);
        expected.insert(expected.end(), copy.begin() + devod::UsbWriter::kHeaderSize, copy.end());
        if (delivered != expected || largest > devod::UsbWriter::kBlockSize) std::abort();
        if (writer.BytesSent() != copy.size() - devod::UsbWriter::kHeaderSize) std::abort();
    } else if (message != devod::kMsgWriteFailed || !pipe_failed) {
        std::abort();
    }
    return 0;
}
