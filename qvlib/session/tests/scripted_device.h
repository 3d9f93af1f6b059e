// A device that answers by script on a PtyLine: each command (bytes up to a "\r") gets the reply
// the test set for it, after an optional delay. Unknown commands get no answer.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qvlib/serial/tests/pty_line.h"

class ScriptedDevice {
public:
    explicit ScriptedDevice(int port = 7) : line_(port), thread_([this] { Loop(); }) {}
    ~ScriptedDevice() {
        stop_ = true;
        thread_.join();
    }

    void Answer(const std::string& command, const std::string& reply, int delay_ms = 0) {
        std::lock_guard lock(mutex_);
        script_[command] = {reply, delay_ms};
    }
    std::vector<std::string> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    PtyLine& line() { return line_; }
    int port() const { return line_.port(); }

private:
    struct Reply {
        std::string text;
        int delay_ms;
    };
    void Loop() {
        std::string pending;
        while (!stop_) {
            std::string got = line_.Receive(20);
            pending += got;
            size_t end;
            while ((end = pending.find('\r')) != std::string::npos) {
                std::string command = pending.substr(0, end + 1);
                pending.erase(0, end + 1);
                Reply reply{"", -1};
                {
                    std::lock_guard lock(mutex_);
                    received_.push_back(command);
                    auto it = script_.find(command);
                    if (it != script_.end()) reply = it->second;
                }
                if (reply.delay_ms < 0) continue;
                for (int waited = 0; waited < reply.delay_ms && !stop_; waited += 10) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                line_.Send(reply.text);
            }
        }
    }

    PtyLine line_;
    std::mutex mutex_;
    std::map<std::string, Reply> script_;
    std::vector<std::string> received_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Polls the query state until the command has finished; false after `limit_ms`.
inline bool WaitUntilDone(int (*state)(int), int port, int limit_ms = 10000) {
    for (int waited = 0; waited < limit_ms; waited += 5) {
        if (state(port) == 2) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}
