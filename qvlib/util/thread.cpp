#include "qvlib/util/thread.h"

#include <future>
#include <system_error>

namespace util {

CThread::~CThread() {
    if (thread_.joinable()) Join();
}

bool CThread::Start() {
    if (thread_.joinable()) {
        // A finished thread's handle is released before the new start; a running one is kept.
        if (!HasEnded()) return false;
        Join();
    }
    ended_.store(false, std::memory_order_relaxed);
    // The new thread waits for this promise, so that Run never starts before the handle and the
    // identifier are stored (the "created suspended, then resumed" start).
    std::promise<void> resume;
    std::shared_future<void> resumed = resume.get_future().share();
    try {
        thread_ = std::thread([this, resumed] {
            resumed.wait();
            exit_code_ = Run();
            ended_.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return false;
    }
    id_ = thread_.get_id();
    resume.set_value();
    return true;
}

uint32_t CThread::Join() {
    if (!thread_.joinable()) return 0;
    thread_.join();
    id_ = std::thread::id{};
    return exit_code_;
}

}  // namespace util
