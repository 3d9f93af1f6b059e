// Calls from a worker thread into the user-interface thread that wait until the call has run, the
// way a thread sends a window message to a window. Closing the channel (when the window goes)
// makes every pending and later call return at once without running, so a worker never waits for
// a window that no longer exists and never calls into it.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace devod {

class SyncChannel {
public:
    // Puts a task on the user-interface thread's queue (it runs there later, or never).
    using Post = std::function<void(std::function<void()>)>;

    explicit SyncChannel(Post post);
    // Worker side: runs `call` on the user-interface thread and waits until it ran or the channel
    // was closed. Returns whether it ran.
    bool Call(std::function<void()> call);
    // User-interface side: no call runs any more; waiting workers are released.
    void Close();

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool closed = false;
    };
    Post post_;
    std::shared_ptr<State> state_;
};

}  // namespace devod
