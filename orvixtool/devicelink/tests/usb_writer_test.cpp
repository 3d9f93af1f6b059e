// The write thread's retry rule, counted exactly with a scripted pipe: up to 3002 attempts per
// transfer, the opening message first, the body in blocks, the abort flag before each block.
#include "orvixtool/devicelink/usb_writer.h"

#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "orvixtool/testsupport/pages_harness.h"

using namespace devod;

namespace {

// A pipe that refuses the first `failures` attempts of every transfer it is scripted for.
struct ScriptedPipe {
    std::mutex mutex;
    std::vector<size_t> attempts;  // size of every attempt, in order
    std::vector<uint8_t> accepted;
    int fail_next = 0;
    // From this attempt on (counted from 1) the device has gone: every write says so.
    size_t gone_from = 0;
    UsbWriter::Attempt Write(const uint8_t* data, size_t size) {
        std::lock_guard lock(mutex);
        attempts.push_back(size);
        if (gone_from != 0 && attempts.size() >= gone_from) return UsbWriter::Attempt::kDeviceGone;
        if (fail_next > 0) {
            --fail_next;
            return UsbWriter::Attempt::kFailed;
        }
        accepted.insert(accepted.end(), data, data + size);
        return UsbWriter::Attempt::kWritten;
    }
};

class UsbWriterTest : public ::testing::Test {
protected:
    // Runs a write of a `size`-byte file to its end; the message it reported.
    unsigned Run(size_t size, UsbWriter::PresentFn present = nullptr) {
        UsbWriter w;
        file_.assign(size, 0);
        for (size_t i = 0; i < size; ++i) file_[i] = static_cast<uint8_t>(i % 253);
        std::promise<unsigned> reported;
        EXPECT_TRUE(w.Start(
            file_, UniquePipe(), [&](unsigned message) { reported.set_value(message); },
            [this](OsHandle, const uint8_t* data, size_t n) { return pipe_.Write(data, n); },
            std::move(present)));
        unsigned message = reported.get_future().get();
        w.Join();
        return message;
    }

    devod::testing::ScopedTestClock clock_;
    ScriptedPipe pipe_;
    std::vector<uint8_t> file_;
};

}  // namespace

TEST_F(UsbWriterTest, RetriesUntilTheLastAllowedAttemptSucceeds) {
    pipe_.fail_next = 3001;  // the 3002nd attempt of the opening message goes through
    EXPECT_EQ(Run(1025), kMsgWriteFinished);
    ASSERT_EQ(pipe_.attempts.size(), 3002u + 1u);
    std::vector<uint8_t> expected(file_.begin(), file_.begin() + 20);
    expected.push_back(file_[1024]);
    EXPECT_EQ(pipe_.accepted, expected);
}

TEST_F(UsbWriterTest, GivesUpAfter3002FailedAttempts) {
    pipe_.fail_next = 3002;
    EXPECT_EQ(Run(5000), kMsgWriteFailed);
    EXPECT_EQ(pipe_.attempts.size(), 3002u);
    EXPECT_TRUE(pipe_.accepted.empty());
}

TEST_F(UsbWriterTest, BlocksAreWholeExceptTheLastAndNoneIsEmpty) {
    EXPECT_EQ(Run(2048 * 2 + 1024), kMsgWriteFinished);
    EXPECT_EQ(pipe_.attempts, (std::vector<size_t>{20, 2048, 2048}));
}

TEST_F(UsbWriterTest, AbortStopsBeforeTheNextBlockButNotTheOpeningMessage) {
    UsbWriter writer;
    // The pipe raises the abort flag while the opening message is being written.
    pipe_.fail_next = 2;
    std::promise<unsigned> reported;
    file_.assign(2048 * 3 + 1024, '$');
    ASSERT_TRUE(writer.Start(
        file_, UniquePipe(), [&](unsigned message) { reported.set_value(message); },
        [&](OsHandle, const uint8_t* data, size_t n) {
            writer.Abort();
            return pipe_.Write(data, n);
        }));
    EXPECT_EQ(reported.get_future().get(), kMsgWriteFailed);
    writer.Join();
    EXPECT_EQ(pipe_.attempts, (std::vector<size_t>{20, 20, 20}));  // the opening went out
}

// A device that is gone ends the write at once instead of after five minutes of retries; one that
// is only slow keeps its retries.
TEST_F(UsbWriterTest, APipeWhoseDeviceHasGoneEndsTheWriteAtOnce) {
    pipe_.gone_from = 3;  // the opening and the first block went out
    EXPECT_EQ(Run(1024 + 3 * 2048), kMsgWriteFailed);
    EXPECT_EQ(pipe_.attempts.size(), 3u);
}

TEST_F(UsbWriterTest, FailuresAskWhetherTheDeviceIsStillThereAboutEverySecond) {
    int probes = 0;
    pipe_.fail_next = 1000;
    EXPECT_EQ(Run(1024 + 2048, [&] { return ++probes < 2; }), kMsgWriteFailed);
    // Asked after the 10th and 20th failure; gone at the second question.
    EXPECT_EQ(probes, 2);
    EXPECT_EQ(pipe_.attempts.size(), 2u * UsbWriter::kProbeAfterFailures);
}

TEST_F(UsbWriterTest, ADevicePresentButSlowIsRetriedUntilItTakesTheBlock) {
    int probes = 0;
    pipe_.fail_next = 45;
    EXPECT_EQ(Run(1025, [&] { return ++probes > 0; }), kMsgWriteFinished);
    EXPECT_EQ(probes, 4);
    EXPECT_EQ(pipe_.attempts.size(), 45u + 2u);
}
