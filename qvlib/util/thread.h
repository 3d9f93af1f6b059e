// Runs an object's Run operation on a thread of its own and collects its exit code.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace util {

class CThread {
public:
    CThread() = default;
    // Joins the thread when one is held, so the object never dies under its running thread. A
    // derived class whose Run uses its own members must stop and join in its own destructor.
    virtual ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts Run on a new thread. The thread only enters Run once the handle and identifier are
    // stored. False when the thread cannot be created or the previous one is still running.
    bool Start();
    // Waits for the thread to end and returns Run's value; 0 when no thread is held.
    uint32_t Join();

    bool HasThread() const { return thread_.joinable(); }
    bool HasEnded() const { return ended_.load(std::memory_order_acquire); }
    std::thread::id ThreadId() const { return id_; }

protected:
    virtual uint32_t Run() = 0;

private:
    std::thread thread_;
    std::thread::id id_{};
    std::atomic<bool> ended_{false};
    uint32_t exit_code_ = 0;  // written by the thread before ended_ is set, read after join
};

}  // namespace util
