// Every request of the library against a device that answers with the input: the version
// replies and their markers, the mode check, the download switch and the reset, the erase, serial
// number and QC replies, an image write, and the settings and user point transfers, each run by
// its session thread exactly as a host runs it, in virtual time.
//
// Input: the first byte picks the request (its low six bits), the model (bit 6) and whether the
// line hangs up once the answers are spent (bit 7); then the device's answers, one per read of the host: a
// length byte and that many bytes, a length of 0 being a read that times out. Reads after the
// last answer time out, or fail at once on a line that hung up.
//
// Checked besides crashes, leaks and undefined behaviour: every request ends (a hang is reported
// by libFuzzer's time-out), with result 1 or 2, the session takes the next request, and what a
// request leaves for the host (version text, QC view, lists) stays within its bounds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvlib/serial/line_stand_in.h"
#include "qvlib/session/qvlib.h"
#include "qvlib/util/clock.h"

namespace {

// Virtual time for the session threads: pauses and read time-outs cost nothing.
class FuzzClock : public util::Clock {
public:
    uint64_t NowMs() override {
        std::lock_guard lock(mutex_);
        return ++now_;
    }
    void SleepMs(uint32_t ms) override {
        std::lock_guard lock(mutex_);
        now_ += ms;
    }

private:
    std::mutex mutex_;
    uint64_t now_ = 0;
};

class FuzzLine : public serial::LineStandIn {
public:
    void Load(std::deque<std::string> answers, bool hang_up) {
        std::lock_guard lock(mutex_);
        answers_ = std::move(answers);
        hang_up_ = hang_up;
    }
    bool Open(int) override {
        std::lock_guard lock(mutex_);
        open_ = true;
        return true;
    }
    void Close() override {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    bool IsOpen() const override {
        std::lock_guard lock(mutex_);
        return open_;
    }
    bool Write(const void*, uint32_t size, uint32_t* written) override {
        std::lock_guard lock(mutex_);
        if (!open_ || (hang_up_ && answers_.empty())) return false;
        *written = size;
        return true;
    }
    bool Read(void* buffer, uint32_t capacity, uint32_t* received, uint32_t timeout_ms) override {
        *received = 0;
        std::unique_lock lock(mutex_);
        if (!open_) return false;
        if (answers_.empty() && hang_up_) return false;
        if (answers_.empty() || answers_.front().empty()) {
            if (!answers_.empty()) answers_.pop_front();
            lock.unlock();
            util::SleepMs(timeout_ms);
            return false;
        }
        std::string& next = answers_.front();
        uint32_t count = std::min<uint32_t>(capacity, static_cast<uint32_t>(next.size()));
        std::memcpy(buffer, next.data(), count);
        next.erase(0, count);
        if (next.empty()) answers_.pop_front();
        *received = count;
        return true;
    }
    bool Purge() override { return IsOpen(); }

private:
    mutable std::mutex mutex_;
    std::deque<std::string> answers_;
    bool hang_up_ = false;
    bool open_ = false;
};

constexpr int kPorts[2] = {61, 62};                       // two models: rates apart, rates equal
constexpr const char* kModels[2] = {"Z31STD", "Z40PRO"};  // the built-in rows
FuzzClock g_clock;
FuzzLine g_lines[2];
std::string g_image;

int WriteImage(int port) { return ReqWriteDB(port, g_image.c_str()); }
int SetSerial(int port) { return ReqSetSerialNumber(port, "Z31-000123"); }
int SetSettings(int port) {
    DeleteAllUserSpeeds(port);
    for (int speed : {30, 50, 80, 100, 120}) AddUserSpeed(port, speed);
    DeleteAllWarningBySeconds(port);
    AddWarningBySecond(port, 15);
    DeleteAllSpeedUnit(port);
    AddSpeedUnit(port, 1);
    AddGMT(port, -5);
    AddSummerTime(port, 0);
    AddTimeSet(port, 1);
    return ReqSetUserSetting(port);
}
int SetPoints(int port) {
    DeleteAllUserDBs(port);
    for (int i = 0; i < 3; ++i) {
        UserPointEntry entry{};
        entry.w0Bits0to3 = 1 + i;
        entry.latitude = 4812345 + i;
        entry.longitude = -12345 - i;
        entry.direction = static_cast<int16_t>(90 * i);
        AddUserDB(port, &entry);
    }
    return ReqSetUserDB(port);
}

int (*const kRequests[])(int) = {
    ReqGetFWVersion,  ReqGetDBVersion,    ReqGetVOCVersion, ReqGetDeviceID,    ReqGetSerialNumber,
    ReqGetDeviceMode, ReqSetDeviceDNMode, ReqResetDevice,   ReqEraseFW,        ReqEraseDB,
    ReqEraseVOC,      ReqEraseBootloader, ReqEraseAll,      SetSerial,         ReqEraseSerialNumber,
    ReqViewQC,        ReqQCTestResult,    WriteImage,       ReqGetUserSetting, SetSettings,
    ReqGetUserDB,     SetPoints,
};
constexpr size_t kRequestCount = sizeof(kRequests) / sizeof(kRequests[0]);

int Await(int port) {
    while (GetQueryState(port) != 2) std::this_thread::yield();
    return GetQueryResult(port);
}

void CheckBounds(int port) {
    const char* version = GetVersionResult(port);
    if (version == nullptr || std::strlen(version) >= 4096) std::abort();
    const char* view = GetViewQC(port);
    if (view == nullptr || std::strlen(view) >= 1024) std::abort();
    int qc = GetQCTestResult(port);
    if (qc < 0 || qc > 3) std::abort();
    int mode = GetDeviceModeResult(port);
    if (mode < 0 || mode > 2) std::abort();
    if (GetUserDBCount(port) > 20480 / 40 || GetUserSpeedCount(port) > 5) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    util::InstallClock(&g_clock);
    char image[] = "/tmp/qvfuzz-image-XXXXXX";
    int fd = mkstemp(image);
    if (fd < 0) std::abort();
    std::string bytes(5000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    close(fd);
    g_image = image;
    std::atexit([] { std::remove(g_image.c_str()); });
    for (int i = 0; i < 2; ++i) {
        serial::InstallLineStandIn(kPorts[i], &g_lines[i]);
        if (OpenDevice(kModels[i], kPorts[i]) != 1) std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t head = data[0];
    const int which = (head >> 6) & 1;
    const int port = kPorts[which];
    std::deque<std::string> answers;
    for (size_t at = 1; at < size;) {
        size_t length = data[at++];
        length = std::min(length, size - at);
        answers.emplace_back(reinterpret_cast<const char*>(data + at), length);
        at += length;
    }
    g_lines[which].Load(std::move(answers), (head & 0x80) != 0);
    if (kRequests[(head & 63) % kRequestCount](port) != 1) std::abort();
    int result = Await(port);
    if (result != 1 && result != 2) std::abort();
    CheckBounds(port);

    // The session takes the next request, whatever the last one left on the line.
    g_lines[which].Load({}, false);
    if (ReqGetDeviceMode(port) != 1) std::abort();
    if (Await(port) != 2) std::abort();  // a silent line is no device
    return 0;
}
