// What a PIPE00 transfer is follows from its connection, not from its bytes: a connection that
// opens with a database opening message carries the database until it closes, whatever its
// blocks look like; settings frames come on connections of their own.
#include <cstring>

#include "sim/usb/tests/test_support.h"

namespace z31sim::testing {
namespace {

using namespace std::chrono_literals;

const SettingsRecordBytes kSettings{0x00, 0x01, 0x00, 0x01, 0x89, 0x03};
const UserSpeedBytes kSpeeds{50, 60, 70, 80, 90};

class ClassifyTest : public UsbTest {
protected:
    void SetUp() override {
        device_->SetSettingsRecord(kSettings);
        device_->SetUserSpeeds(kSpeeds);
    }

    static Bytes Opening() {
        Bytes opening(20, 0);
        std::memcpy(opening.data(), "$Z31 DB 2026-11", 15);
        return opening;
    }

    // A body block of `size` bytes that begins with `head` and then counts.
    static Bytes Block(const Bytes& head, std::size_t size, std::uint8_t seed) {
        Bytes block(size);
        for (std::size_t i = 0; i < size; ++i) block[i] = std::uint8_t(seed + i * 5);
        std::copy(head.begin(), head.end(), block.begin());
        return block;
    }

    // Streams `transfers` on a PIPE00 of their own, closes it, and checks that they arrived as
    // sent, one stream transfer each, and that nothing else was taken for a frame.
    void StreamAndExpectWhole(const std::vector<Bytes>& transfers) {
        Bytes all;
        std::vector<std::size_t> sizes;
        {
            const Fd stream = Open("PIPE00");
            ASSERT_TRUE(stream.valid());
            for (const Bytes& t : transfers) {
                ASSERT_EQ(Send(stream.get(), t), ssize_t(t.size()));
                all.insert(all.end(), t.begin(), t.end());
                sizes.push_back(t.size());
            }
        }
        ASSERT_TRUE(device_->WaitForStreamBytes(all.size(), 5s));
        EXPECT_TRUE(device_->ReceivedStream() == all) << "stream differs";
        EXPECT_EQ(device_->ReceivedTransferSizes(), sizes);
        EXPECT_TRUE(device_->ReceivedFrames().empty());
        EXPECT_TRUE(device_->ReceivedUnframed().empty());
        EXPECT_EQ(device_->SettingsRecord(), kSettings);
        EXPECT_EQ(device_->UserSpeeds(), kSpeeds);
    }

    // A read of the settings record over fresh pipes, as the program does it.
    Bytes ReadSettings() {
        const Fd out = Open("PIPE00"), in = Open("PIPE01");
        EXPECT_EQ(Send(out.get(), Bytes{0x23, 1, 1}), 3);
        const ReadResult r = ReadOnce(in.get());
        EXPECT_EQ(r.result, 64) << std::strerror(r.error);
        Bytes data = r.data;
        data.resize(64);  // so that a short reply fails the test, not the indexing
        return data;
    }
};

TEST_F(ClassifyTest, LastBlockShapedLikeASettingsWriteStaysInTheDatabase) {
    // 2 full blocks, then a 64-byte last block that would set the record to 09 08 07 06 05 04.
    const Bytes last = Block({0x23, 0x01, 0x02, 9, 8, 7, 6, 5, 4}, 64, 0x40);
    StreamAndExpectWhole({Opening(), Block({}, 2048, 1), Block({}, 2048, 2), last});
    EXPECT_EQ(ReadSettings()[4], 0x89);  // the device still answers with its own record
}

TEST_F(ClassifyTest, BlocksThatAllLookLikeFramesStayInTheDatabase) {
    SetEnv("Z31_USB_READ_TIMEOUT_MS", "200");
    in_ = Open("PIPE01");  // a reply to a block taken for a request would show up here
    std::vector<Bytes> transfers{Opening()};
    std::uint8_t seed = 0;
    for (std::uint8_t kind = 0; kind <= 4; ++kind) {
        for (std::uint8_t dir = 0; dir <= 3; ++dir) {
            transfers.push_back(Block({0x23, kind, dir}, 2048, ++seed));
        }
    }
    // Shapes that are exactly a read request and a write frame of every kind.
    for (std::uint8_t kind = 1; kind <= 3; ++kind) {
        transfers.push_back(Bytes{0x23, kind, 0x01});
        transfers.push_back(Block({0x23, kind, 0x02, 1, 2, 3, 4, 5, 6}, 64, ++seed));
    }
    transfers.push_back(Block({0x23, 0x03, 0x02, 1, 1, 1, 1, 1}, 64, ++seed));
    StreamAndExpectWhole(transfers);
    EXPECT_EQ(ReadOnce(in_.get()).error, EAGAIN) << "a block was answered";
}

TEST_F(ClassifyTest, SettingsExchangesOnTheirOwnPipesWorkBeforeDuringAndAfterAStream) {
    EXPECT_EQ(ReadSettings()[5], 0x03);
    Fd stream = Open("PIPE00");
    ASSERT_EQ(Send(stream.get(), Opening()), 20);
    ASSERT_EQ(Send(stream.get(), Block({0x23, 0x01, 0x02}, 64, 7)), 64);
    {  // a speed write and a settings read while the stream's pipe is open
        const Fd out = Open("PIPE00");
        ASSERT_EQ(Send(out.get(), WriteFrame(3, {11, 22, 33, 44, 55})), 64);
    }
    EXPECT_EQ(ReadSettings()[4], 0x89);
    ASSERT_EQ(Send(stream.get(), Block({0x23, 0x03, 0x02}, 64, 8)), 64);  // still the stream
    stream.Reset();
    {  // the stream has ended: a new pipe carries frames again
        const Fd out = Open("PIPE00");
        ASSERT_EQ(Send(out.get(), WriteFrame(1, {9, 8, 7, 6, 5, 4})), 64);
    }
    ASSERT_TRUE(device_->WaitForFrames(4, 3s));
    EXPECT_EQ(device_->SettingsRecord(), (SettingsRecordBytes{9, 8, 7, 6, 5, 4}));
    EXPECT_EQ(device_->UserSpeeds(), (UserSpeedBytes{11, 22, 33, 44, 55}));
    EXPECT_EQ(device_->ReceivedTransferSizes(), (std::vector<std::size_t>{20, 64, 64}));
    EXPECT_TRUE(device_->ReceivedUnframed().empty());
}

TEST_F(ClassifyTest, OnlyADatabaseOpeningAsTheFirstTransferStartsAStream) {
    OpenPipes();
    // Settings connection first: an opening message arriving later on it is no stream.
    Request(1);
    ASSERT_EQ(ReadOnce(in_.get()).result, 64);
    ASSERT_EQ(Send(out_.get(), Opening()), 20);
    Bytes dollar_but_long = Opening();
    dollar_but_long.push_back(0);
    Bytes twenty_without_dollar = Opening();
    twenty_without_dollar[0] = '#';
    for (const Bytes& first : {dollar_but_long, twenty_without_dollar}) {
        const Fd out = Open("PIPE00");
        ASSERT_EQ(Send(out.get(), first), ssize_t(first.size()));
        // ...and what follows on such a pipe is judged frame by frame.
        ASSERT_EQ(Send(out.get(), WriteFrame(3, {1, 2, 3, 4, 5})), 64);
    }
    ASSERT_TRUE(device_->WaitForFrames(3, 3s));
    EXPECT_EQ(device_->ReceivedUnframed(),
              (std::vector<Bytes>{Opening(), dollar_but_long, twenty_without_dollar}));
    EXPECT_TRUE(device_->ReceivedStream().empty());
    EXPECT_EQ(device_->UserSpeeds(), (UserSpeedBytes{1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace z31sim::testing
