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
    bool Write(const uint8_t* data, size_t size) {
        std::lock_guard lock(mutex);
        attempts.push_back(size);
        if (fail_next > 0) {
            --fail_next;
            return false;
        }
        accepted.insert(accepted.end(), data, data + size);
        return true;
    }
};

class UsbWriterTest : public ::testing::Test {
protected:

    // Runs a write of a `size`-byte file to its end; the message it reported.
    unsigned Run(size_t size, UsbWriter* writer = nullptr) {
        UsbWriter local;
        UsbWriter& w = writer != nullptr ? *writer : local;
        file_.assign(size, 0);
        for (size_t i = 0; i < size; ++i) file_[i] = static_cast<uint8_t>(i % 253);
        std::promise<unsigned> reported;
        EXPECT_TRUE(w.Start(
            file_, kInvalidHandle, [&](unsigned message) { reported.set_value(message); },
            [this](OsHandle, const uint8_t* data, size_t n) { return pipe_.Write(data, n); }));
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
        file_, kInvalidHandle, [&](unsigned message) { reported.set_value(message); },
        [&](OsHandle, const uint8_t* data, size_t n) {
            writer.Abort();
            return pipe_.Write(data, n);
        }));
    EXPECT_EQ(reported.get_future().get(), kMsgWriteFailed);
    writer.Join();
    EXPECT_EQ(pipe_.attempts, (std::vector<size_t>{20, 20, 20}));  // the opening went out
}
