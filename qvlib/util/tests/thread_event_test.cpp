// util::CThread and util::CEvent.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qvlib/serial/win_codes.h"
#include "qvlib/util/event.h"
#include "qvlib/util/thread.h"

namespace {

class Worker : public util::CThread {
public:
    explicit Worker(uint32_t code) : code_(code) {}
    ~Worker() override { Join(); }
    util::CEvent go{util::CEvent::Kind::Manual};
    std::thread::id seen_id;
    std::thread::id id_at_start;

protected:
    uint32_t Run() override {
        id_at_start = ThreadId();
        seen_id = std::this_thread::get_id();
        go.Wait(serial::kInfinite);
        return code_;
    }

private:
    uint32_t code_;
};

}  // namespace

TEST(Thread, RunsOnItsOwnThreadAndReturnsItsExitCode) {
    Worker worker(42);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(worker.HasThread());
    EXPECT_FALSE(worker.Start());  // still running
    worker.go.Set();
    EXPECT_EQ(worker.Join(), 42u);
    EXPECT_FALSE(worker.HasThread());
    EXPECT_NE(worker.seen_id, std::this_thread::get_id());
    EXPECT_EQ(worker.id_at_start, worker.seen_id);  // identifier stored before Run began
    // A finished thread is released and a new one starts.
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.Join(), 42u);
}

TEST(Event, AutoResetSignalWakesExactlyOneWait) {
    util::CEvent e(util::CEvent::Kind::Auto);
    EXPECT_EQ(e.Wait(0), serial::kWaitTimeout);
    e.Set();
    EXPECT_EQ(e.Wait(0), serial::kWaitObject0);
    EXPECT_EQ(e.Wait(10), serial::kWaitTimeout);
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    util::CEvent e(util::CEvent::Kind::Manual, true);
    EXPECT_EQ(e.Wait(0), serial::kWaitObject0);
    EXPECT_EQ(e.Wait(0), serial::kWaitObject0);
    e.Reset();
    EXPECT_EQ(e.Wait(0), serial::kWaitTimeout);
}

TEST(Event, WaitAnyPrefersTheLowestSignalledIndex) {
    util::CEvent a(util::CEvent::Kind::Auto), b(util::CEvent::Kind::Auto);
    b.Set();
    a.Set();
    EXPECT_EQ(util::CEvent::WaitAny({&a, &b}, 0), serial::kWaitObject0);
    EXPECT_EQ(util::CEvent::WaitAny({&a, &b}, 0), serial::kWaitObject0 + 1);
    EXPECT_EQ(util::CEvent::WaitAny({&a, &b}, 0), serial::kWaitTimeout);
}

TEST(Event, SignalFromAnotherThreadWakesAnEndlessWait) {
    util::CEvent e(util::CEvent::Kind::Auto);
    std::thread t([&] { e.Set(); });
    EXPECT_EQ(e.Wait(serial::kInfinite), serial::kWaitObject0);
    t.join();
}
