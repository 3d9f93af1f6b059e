#include "orvixtool/devicelink/sync_channel.h"

namespace devod {

SyncChannel::SyncChannel(Post post) : post_(std::move(post)), state_(std::make_shared<State>()) {}

bool SyncChannel::Call(std::function<void()> call) {
    auto state = state_;
    auto done = std::make_shared<bool>(false);
    auto ran = std::make_shared<bool>(false);
    {
        std::lock_guard lock(state->mutex);
        if (state->closed || !post_) return false;
    }
    post_([state, done, ran, call = std::move(call)] {
        {
            std::lock_guard lock(state->mutex);
            if (state->closed) {
                *done = true;
                state->changed.notify_all();
                return;
            }
        }
        // Runs on the user-interface thread, which is also the only one that closes the channel,
        // so the window cannot go away while the call runs.
        call();
        std::lock_guard lock(state->mutex);
        *ran = true;
        *done = true;
        state->changed.notify_all();
    });
    std::unique_lock lock(state->mutex);
    state->changed.wait(lock, [&] { return *done || state->closed; });
    return *ran;
}

void SyncChannel::Close() {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    state_->changed.notify_all();
}

}  // namespace devod
