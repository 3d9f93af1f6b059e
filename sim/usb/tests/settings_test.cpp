// Settings frames through the library: what each read request gets back, what writes store, and
// which PIPE01 a reply goes to.
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

using namespace std::chrono_literals;

class SettingsTest : public UsbTest {
protected:
    void SetUp() override { OpenPipes(); }

    Bytes ReadReply(std::size_t size, const Fd& fd) {
        const ReadResult r = ReadOnce(fd.get());
        EXPECT_EQ(r.result, static_cast<ssize_t>(size)) << std::strerror(r.error);
        Bytes data = r.data;
        data.resize(size);  // so that a short reply fails the test, not the indexing
        return data;
    }
    Bytes ReadReply(std::size_t size) { return ReadReply(size, in_); }

    // Asks for the user points and checks all three reply transfers.
    void ExpectPointReply(const std::vector<UserPoint>& points, std::uint8_t count) {
        Request(2);
        Bytes expected(64, 0);
        expected[0] = count;
        EXPECT_EQ(ReadReply(64), expected);
        for (std::size_t block = 0; block < 2; ++block) {
            expected.assign(512, 0);
            for (std::size_t i = 0; i < 50 && block * 50 + i < points.size(); ++i) {
                const UserPoint& p = points[block * 50 + i];
                for (int b = 0; b < 2; ++b)
                    expected[i * 10 + b] = std::uint8_t(p.direction >> 8 * b);
                for (int b = 0; b < 4; ++b) {
                    expected[i * 10 + 2 + b] = std::uint8_t(std::uint32_t(p.latitude) >> 8 * b);
                    expected[i * 10 + 6 + b] = std::uint8_t(std::uint32_t(p.longitude) >> 8 * b);
                }
            }
            EXPECT_EQ(ReadReply(512), expected) << "block " << block;
        }
    }
};

TEST_F(SettingsTest, SettingsRecordAndUserSpeedReplies) {
    device_->SetSettingsRecord({0x01, 0x80, 0xff, 0x00, 0x7e, 0x42});
    device_->SetUserSpeeds({30, 50, 70, 90, 250});
    Request(1);
    Request(3);
    Bytes expected(64, 0);
    std::copy_n(Bytes{0x01, 0x80, 0xff, 0x00, 0x7e, 0x42}.begin(), 6, expected.begin());
    EXPECT_EQ(ReadReply(64), expected);
    expected.assign(64, 0);
    std::copy_n(Bytes{30, 50, 70, 90, 250}.begin(), 5, expected.begin());
    EXPECT_EQ(ReadReply(64), expected);
}

TEST_F(SettingsTest, UserPointRepliesForNoneTwoAndAHundred) {
    ExpectPointReply({}, 0);
    const std::vector<UserPoint> two{{359, -3386000, 15120000}, {0x1234, 4812345, -7400600}};
    device_->SetUserPoints(two);
    ExpectPointReply(two, 2);
    device_->SetUserPointCount(255);  // a claim the stored points do not back
    ExpectPointReply(two, 255);
    std::vector<UserPoint> hundred;
    for (int i = 0; i < 100; ++i) hundred.push_back({std::uint16_t(i * 3), i * 1001, -i * 77});
    device_->SetUserPoints(hundred);
    ExpectPointReply(hundred, 100);
    EXPECT_THROW(device_->SetUserPoints(std::vector<UserPoint>(101)), std::invalid_argument);
}

TEST_F(SettingsTest, WriteFramesAreStoredAndRecorded) {
    const Bytes settings = WriteFrame(1, {9, 8, 7, 6, 5, 4, 0xee});  // 7th byte is not stored
    const Bytes speeds = WriteFrame(3, {11, 22, 33, 44, 55, 0xee});
    ASSERT_EQ(Send(out_.get(), settings), 64);
    ASSERT_EQ(Send(out_.get(), speeds), 64);
    Request(1);
    EXPECT_EQ(ReadReply(64)[0], 9);
    ASSERT_TRUE(device_->WaitForFrames(3, 3s));
    EXPECT_EQ(device_->SettingsRecord(), (SettingsRecordBytes{9, 8, 7, 6, 5, 4}));
    EXPECT_EQ(device_->UserSpeeds(), (UserSpeedBytes{11, 22, 33, 44, 55}));
    EXPECT_EQ(device_->ReceivedFrames(), (std::vector<Bytes>{settings, speeds, {0x23, 1, 1}}));
    EXPECT_TRUE(device_->ReceivedStream().empty());
}

TEST_F(SettingsTest, MisframedRequestIsNotAnswered) {
    SetEnv("Z31_USB_READ_TIMEOUT_MS", "100");
    in_ = Open("PIPE01");
    Bytes padded(64, 0);  // a read request must be its 3 bytes alone
    std::copy_n(Bytes{0x23, 1, 1}.begin(), 3, padded.begin());
    ASSERT_EQ(Send(out_.get(), padded), 64);
    EXPECT_EQ(ReadOnce(in_.get()).error, EAGAIN);
    EXPECT_EQ(device_->ReceivedUnframed(), std::vector<Bytes>{padded});
    EXPECT_TRUE(device_->ReceivedFrames().empty());
    EXPECT_TRUE(device_->ReceivedStream().empty());
}

TEST_F(SettingsTest, ReplyMadeWithoutPipeInWaitsForTheNextOne) {
    in_.Reset();
    device_->SetUserSpeeds({1, 2, 3, 4, 5});
    Request(3);
    ASSERT_TRUE(device_->WaitForFrames(1, 3s));
    in_ = Open("PIPE01");
    EXPECT_EQ(ReadReply(64)[4], 5);
}

TEST_F(SettingsTest, ReplyBelongsToThePipeInOpenWhenItWasMade) {
    device_->SetUserSpeeds({1, 2, 3, 4, 5});
    Request(3);
    ASSERT_TRUE(device_->WaitForFrames(1, 3s));
    SetEnv("Z31_USB_READ_TIMEOUT_MS", "100");
    const Fd newer = Open("PIPE01");
    EXPECT_EQ(ReadOnce(newer.get()).error, EAGAIN);
    EXPECT_EQ(ReadReply(64)[0], 1);  // still there on the replaced one, and only there
    const timeval patient{3, 0};
    setsockopt(newer.get(), SOL_SOCKET, SO_RCVTIMEO, &patient, sizeof patient);
    device_->SetUserSpeeds({6, 7, 8, 9, 10});
    Request(3);
    EXPECT_EQ(ReadReply(64, newer)[0], 6);
}

}  // namespace
}  // namespace z31sim::testing
