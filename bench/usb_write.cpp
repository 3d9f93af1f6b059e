// DevodTool's database write over USB: 1 MiB of database body through our PipeBridge to the
// simulated device, on real time. The write is paced at one 2048-byte block per 100 ms, so at best
// it moves 20480 bytes a second; this reports the share of that pace the whole write reaches,
// from the start of the write thread to its "finished" message, the opening message included
// (goal: at least 0.99). The device must have received the stream byte for byte.
//
// usage: bench_usb_write [body KiB]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "bench/result.h"
#include "orvixtool/devicelink/pipe_bridge.h"
#include "orvixtool/devicelink/usb_writer.h"
#include "sim/usb/z31usb.h"

int main(int argc, char** argv) {
    using Clock = std::chrono::steady_clock;
    const size_t body = (argc > 1 ? std::max(1, std::atoi(argv[1])) : 1024) * size_t{1024};
    const std::string socket = "/tmp/bench-usb-" + std::to_string(getpid()) + ".sock";
    setenv("Z31_USB_SOCKET", socket.c_str(), 1);
    devod::PipeBridge::SetLibraryPath(PIPEBRIDGE_LIBRARY);
    z31sim::UsbDevice device(socket);

    std::vector<uint8_t> file(devod::UsbWriter::kHeaderSize + body);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 7 + i / 251);
    file[0] = '$';
    std::vector<uint8_t> expected(file.begin(), file.begin() + devod::UsbWriter::kOpeningSize);
    expected.insert(expected.end(), file.begin() + devod::UsbWriter::kHeaderSize, file.end());

    devod::PipeBridge bridge;
    devod::UniquePipe pipe(bridge.OpenFile(devod::kPipeOut));
    if (!bridge.IsLoaded() || !pipe) {
        std::fprintf(stderr, "cannot open PIPE00 of the simulated device\n");
        return 1;
    }
    std::mutex mutex;
    std::condition_variable ended;
    unsigned message = 0;
    Clock::time_point end;
    devod::UsbWriter writer;
    const Clock::time_point start = Clock::now();
    if (!writer.Start(std::move(file), std::move(pipe), [&](unsigned m) {
            std::lock_guard lock(mutex);
            end = Clock::now();
            message = m;
            ended.notify_all();
        })) {
        std::fprintf(stderr, "the write thread did not start\n");
        return 1;
    }
    {
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return message != 0; });
    }
    writer.Join();
    const bool whole = device.WaitForStreamBytes(expected.size(), std::chrono::seconds(5)) &&
                       device.ReceivedStream() == expected;
    const double seconds = std::chrono::duration<double>(end - start).count();
    const double limit_s = static_cast<double>(body) / (devod::UsbWriter::kBlockSize * 10.0);
    const double ratio = limit_s / seconds;
    std::printf(
        "usb database write of %zu body bytes: %.2f s (the pace allows %.2f s): %.4f of "
        "the pacing limit, stream %s\n",
        body, seconds, limit_s, ratio, whole ? "received whole" : "NOT received whole");
    const bool pass = message == devod::kMsgWriteFinished && whole && ratio >= 0.99;
    bench::Result("usb db write 1 MiB / pacing limit", ">= 0.99", pass, "%.3f%s", ratio,
                  message == devod::kMsgWriteFinished && whole ? "" : " (write failed)");
    return pass ? 0 : 1;
}
