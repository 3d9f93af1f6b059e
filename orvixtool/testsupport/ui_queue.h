// The page's thread in tests: calls that a worker posts wait here until the test runs them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace devod::testing {

class UiQueue {
public:
    void Post(std::function<void()> call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
        posted_.notify_all();
    }
    // Runs posted calls until `done` holds; false after ~20 s without it.
    bool RunUntil(const std::function<bool()>& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            std::function<void()> call;
            {
                std::unique_lock lock(mutex_);
                posted_.wait_for(lock, std::chrono::milliseconds(10),
                                 [&] { return !calls_.empty(); });
                if (calls_.empty()) continue;
                call = std::move(calls_.front());
                calls_.pop_front();
            }
            call();
        }
        return done();
    }
    // Drops what is queued, as the window system does for a window that has gone.
    void Drop() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
};

}  // namespace devod::testing
