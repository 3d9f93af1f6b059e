// The database stream on PIPE00: recorded byte-exact, and what the stall and unplug faults do
// to the writes that carry it; the order in which several PIPE00 connections are read.
#include <sys/socket.h>

#include <cstring>

#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

using namespace std::chrono_literals;

class StreamTest : public UsbTest {
protected:
    // A 20-byte opening message, `blocks` 2048-byte body blocks and a last one of 777 bytes; each
    // byte depends on its position, so that a lost or doubled block shows.
    static std::vector<Bytes> MakeStream(std::size_t blocks) {
        std::vector<Bytes> transfers{Bytes(20, 0)};
        std::memcpy(transfers[0].data(), "$DB open", 8);
        for (std::size_t b = 0; b <= blocks; ++b) {
            Bytes block(b < blocks ? 2048 : 777);
            for (std::size_t i = 0; i < block.size(); ++i) block[i] = std::uint8_t(b * 7 + i / 3);
            transfers.push_back(block);
        }
        return transfers;
    }

    void ExpectReceived(const std::vector<Bytes>& transfers) {
        Bytes all;
        std::vector<std::size_t> sizes;
        for (const Bytes& t : transfers) {
            all.insert(all.end(), t.begin(), t.end());
            sizes.push_back(t.size());
        }
        ASSERT_TRUE(device_->WaitForStreamBytes(all.size(), 5s));
        EXPECT_EQ(device_->ReceivedTransferSizes(), sizes);
        EXPECT_TRUE(device_->ReceivedStream() == all) << "stream differs";
    }

    // Sends transfers from `next` on until one fails; returns the index of the failed one.
    std::size_t SendUntilFailure(const std::vector<Bytes>& transfers, std::size_t next) {
        while (next < transfers.size() && Send(out_.get(), transfers[next]) > 0) ++next;
        return next;
    }

    void SetWriteTimeoutMs(int ms) {
        const timeval tv{ms / 1000, (ms % 1000) * 1000};
        ASSERT_EQ(setsockopt(out_.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv), 0);
    }
};

TEST_F(StreamTest, RecordedByteExactBetweenSettingsExchanges) {
    OpenPipes();
    Request(1);  // out_ carries settings frames
    const Fd stream = Open("PIPE00");
    const std::vector<Bytes> transfers = MakeStream(3);
    for (const Bytes& t : transfers) ASSERT_EQ(Send(stream.get(), t), ssize_t(t.size()));
    Request(3);
    ExpectReceived(transfers);
    EXPECT_TRUE(device_->WaitForFrames(2, 3s));
    device_->ClearReceived();
    EXPECT_TRUE(device_->ReceivedStream().empty() && device_->ReceivedTransferSizes().empty() &&
                device_->ReceivedFrames().empty() && device_->ReceivedUnframed().empty());
}

TEST_F(StreamTest, StallFailsWritesAndLosesNothing) {
    SetEnv("Z31_USB_WRITE_TIMEOUT_MS", "50");
    OpenPipes();
    const std::vector<Bytes> transfers = MakeStream(400);  // far more than a socket holds
    device_->StallWrites(60s);
    std::size_t next = SendUntilFailure(transfers, 0);
    ASSERT_LT(next, transfers.size()) << "every write was taken during the stall";
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(Send(out_.get(), transfers[next]), -1);  // still stalled: fails again
    EXPECT_TRUE(device_->ReceivedStream().empty());

    device_->StallWrites(0ms);
    SetWriteTimeoutMs(5000);  // from here on nothing may fail
    ASSERT_EQ(SendUntilFailure(transfers, next), transfers.size()) << std::strerror(errno);
    ExpectReceived(transfers);
}

TEST_F(StreamTest, StallEndsByItself) {
    SetEnv("Z31_USB_WRITE_TIMEOUT_MS", "50");
    OpenPipes();
    const std::vector<Bytes> transfers = MakeStream(400);
    device_->StallWrites(300ms);
    const std::size_t failed = SendUntilFailure(transfers, 0);
    ASSERT_LT(failed, transfers.size());
    bool taken = false;  // retried as a patient program would, at most 50 ms a try
    for (int attempt = 0; attempt < 100 && !taken; ++attempt) {
        taken = Send(out_.get(), transfers[failed]) > 0;
    }
    ASSERT_TRUE(taken);
    SetWriteTimeoutMs(5000);
    ASSERT_EQ(SendUntilFailure(transfers, failed + 1), transfers.size());
    ExpectReceived(transfers);
}

TEST_F(StreamTest, OlderPipeOutIsReadFirst) {
    OpenPipes();
    const Bytes older_speeds = WriteFrame(3, {1, 2, 3, 4, 5});
    const Bytes older_settings = WriteFrame(1, {6, 5, 4, 3, 2, 1});
    const Bytes newer_speeds = WriteFrame(3, {9, 9, 9, 9, 9});
    device_->StallWrites(60s);  // keeps both connections queued until the end
    ASSERT_EQ(Send(out_.get(), older_speeds), 64);
    ASSERT_EQ(Send(out_.get(), older_settings), 64);
    const Fd newer = Open("PIPE00");
    ASSERT_EQ(Send(newer.get(), newer_speeds), 64);
    device_->StallWrites(0ms);
    ASSERT_TRUE(device_->WaitForFrames(3, 3s));
    EXPECT_EQ(device_->ReceivedFrames(),
              (std::vector<Bytes>{older_speeds, older_settings, newer_speeds}));
    EXPECT_EQ(device_->UserSpeeds(), (UserSpeedBytes{9, 9, 9, 9, 9}));
}

TEST_F(StreamTest, UnplugFailsWritesAtOnce) {
    SetEnv("Z31_USB_WRITE_TIMEOUT_MS", "10000");  // a write that waited would fail with EAGAIN
    OpenPipes();
    const std::vector<Bytes> transfers = MakeStream(1);
    ASSERT_EQ(Send(out_.get(), transfers[0]), 20);
    ASSERT_TRUE(device_->WaitForStreamBytes(20, 3s));
    device_->SetWritesUnplugged(true);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Send(out_.get(), transfers[1]), -1);
        EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << std::strerror(errno);
    }
    EXPECT_EQ(lib_.OpenFile("PIPE00"), -1);
    EXPECT_TRUE(Fd(lib_.OpenFile("PIPE01")).valid());  // reading is not affected

    // Plugged in again, a new write starts a new stream with its own opening message.
    device_->SetWritesUnplugged(false);
    out_ = Open("PIPE00");
    ASSERT_EQ(Send(out_.get(), transfers[0]), 20);
    ASSERT_EQ(Send(out_.get(), transfers[1]), 2048);
    ExpectReceived({transfers[0], transfers[0], transfers[1]});
}

}  // namespace
}  // namespace z31sim::testing
