// Faults seen from the reading side and at open: no reply, closed PIPE01, short replies, refused
// pipes, a detached device.
#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

class ReadFaultTest : public UsbTest {
protected:
    void SetUp() override {
        SetEnv("Z31_USB_READ_TIMEOUT_MS", "100");  // only failing reads wait that long
        OpenPipes();
        device_->SetSettingsRecord({1, 2, 3, 4, 5, 6});
    }
};

TEST_F(ReadFaultTest, NoReplyMakesTheReadTimeOutAndNothingComesLate) {
    device_->SetReadFault(ReadFault::kNoReply);
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).error, EAGAIN);
    EXPECT_EQ(device_->ReceivedFrames().size(), 1u);  // the request itself was taken
    device_->SetReadFault(ReadFault::kNone);
    device_->SetSettingsRecord({7, 7, 7, 7, 7, 7});
    Request(1);
    const ReadResult late = ReadOnce(in_.get());
    ASSERT_EQ(late.result, 64);
    EXPECT_EQ(late.data[0], 7);
}

TEST_F(ReadFaultTest, ClosePipeGivesEndOfFile) {
    device_->SetReadFault(ReadFault::kClosePipe);
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).result, 0);
    device_->SetReadFault(ReadFault::kNone);
    in_ = Open("PIPE01");
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).result, 64);
}

TEST_F(ReadFaultTest, ShortRepliesCutEveryTransfer) {
    device_->SetShortReplies(10);
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).data, (Bytes{1, 2, 3, 4, 5, 6, 0, 0, 0, 0}));
    Request(2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ReadOnce(in_.get()).result, 10);
    device_->SetShortReplies(std::nullopt);
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).result, 64);
}

TEST_F(ReadFaultTest, RefusedPipeDoesNotOpenUntilAllowed) {
    device_->SetPipeRefused(Pipe::kIn, true);
    EXPECT_EQ(lib_.OpenFile("PIPE01"), -1);
    EXPECT_EQ(errno, ENODEV);
    EXPECT_TRUE(Fd(lib_.OpenFile("PIPE00")).valid());
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).result, 64);  // the pipe already open still works
    device_->SetPipeRefused(Pipe::kIn, false);
    EXPECT_TRUE(Fd(lib_.OpenFile("PIPE01")).valid());
}

TEST_F(ReadFaultTest, DetachingClosesOpenPipes) {
    device_->SetAttached(false);
    EXPECT_EQ(ReadOnce(in_.get()).result, 0);
    EXPECT_EQ(Send(out_.get(), Bytes{0x23, 1, 1}), -1);
    EXPECT_EQ(lib_.OpenFile("PIPE01"), -1);
    device_->SetAttached(true);
    OpenPipes();
    Request(1);
    EXPECT_EQ(ReadOnce(in_.get()).result, 64);
}

}  // namespace
}  // namespace z31sim::testing
