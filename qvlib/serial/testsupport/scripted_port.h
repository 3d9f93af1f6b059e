// ScriptedPort: an in-memory device line for one port number, in virtual time. Every CSerialPort
// opened on that number talks to it instead of the platform (OpenDevice included), and its reads
// wait on the installed clock, so with a util::testing::TestClock a command's pauses, time-outs
// and retries cost no real time.
//
//   util::testing::ScopedTestClock clock(0);     // exact virtual milliseconds
//   ScriptedPort device(7);                      // stands in for port 7 while it lives
//   device.Answer("rvfw\r", "OK!$1.02\r", 50);   // one host write of exactly "rvfw\r" gets this
//                                                // reply 50 ms later
//   device.Answer("\r\n", "QV>>", 0, 115200);    // ... only while the port is at 115200 baud
//   device.Stream("$GPGGA,...\r\n", 200, 4800);  // a sentence every 200 ms at 4800 baud
//   device.Send("noise", 30);                    // bytes 30 ms from now, unasked
//   device.When("$dnmode\r", [&] { device.StopStream(); });  // change the device on a command
//   ... OpenDevice("Z31STD", 7); ReqGetDeviceMode(7); WaitUntilDone(...) ...
//   device.Writes();     // every host write, in order
//   device.Opens();      // the baud rate of every open, in order
//   device.FailOpens(true);  // later opens (and reopens) fail
//   device.HangUpAfterWrites(2);  // two more writes go through, then the line hangs up
//   device.Reconnect();           // ... until it is connected again
//   device.Forget();              // no more answers, actions, stream or bytes still to come
//
// The host's writes are judged whole: an answer matches a write that equals its command exactly
// (a later Answer for the same command and rate replaces the earlier one); other writes are only
// recorded. Bytes are sent by the device at the rate they are tagged with (0: any rate) and are
// lost when the port is at another rate when they arrive, or closed. Opening the port discards
// what had arrived, as the platform open purges. Answer, When and their actions may be called
// from any thread; an action runs on the thread that wrote, outside the port's lock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qvlib/serial/line_stand_in.h"
#include "qvlib/util/clock.h"

class ScriptedPort : public serial::LineStandIn {
public:
    explicit ScriptedPort(int port_number) : port_number_(port_number) {
        serial::InstallLineStandIn(port_number_, this);
    }
    ~ScriptedPort() override { serial::InstallLineStandIn(port_number_, nullptr); }
    ScriptedPort(const ScriptedPort&) = delete;
    ScriptedPort& operator=(const ScriptedPort&) = delete;

    int port() const { return port_number_; }

    void Answer(const std::string& command, const std::string& reply, uint32_t delay_ms = 0,
                int baud = 0) {
        std::lock_guard lock(mutex_);
        answers_[{command, baud}] = {reply, delay_ms};
    }
    // Runs `action` after every host write of exactly `command` (after its answer is scheduled).
    void When(const std::string& command, std::function<void()> action) {
        std::lock_guard lock(mutex_);
        actions_[command] = std::move(action);
    }
    void Send(const std::string& bytes, uint32_t delay_ms = 0, int baud = 0) {
        std::lock_guard lock(mutex_);
        Schedule(util::NowMs() + delay_ms, bytes, baud);
    }
    // Sends `text` every `period_ms` from now on (first after one period) until StopStream.
    void Stream(const std::string& text, uint32_t period_ms, int baud = 0) {
        std::lock_guard lock(mutex_);
        Settle(util::NowMs());
        stream_ = {text, std::max<uint32_t>(period_ms, 1), baud, util::NowMs(), true};
    }
    void StopStream() {
        std::lock_guard lock(mutex_);
        Settle(util::NowMs());  // what was sent until now stays sent
        stream_.on = false;
    }

    // Makes every later open fail (a device unplugged, a port taken by another program).
    void FailOpens(bool fail) {
        std::lock_guard lock(mutex_);
        fail_opens_ = fail;
    }

    // The line hangs up once `writes` more host writes have gone through (0: now). From then on
    // every write and read fails at once and what the device sends is lost, while the port stays
    // open, as a descriptor does after a hang-up; opens still succeed. Reconnect ends it.
    void HangUpAfterWrites(int writes) {
        std::lock_guard lock(mutex_);
        Settle(util::NowMs());
        writes_before_hang_up_ = writes;
        if (writes <= 0) HangUp();
    }
    void Reconnect() {
        std::lock_guard lock(mutex_);
        writes_before_hang_up_ = -1;
        hung_up_ = false;
    }
    // The device forgets its script: no answer, action or stream from now on, and of what it
    // scheduled only what has arrived by now stays (in the receive buffer, for the host to read).
    void Forget() {
        std::lock_guard lock(mutex_);
        Settle(util::NowMs());
        answers_.clear();
        actions_.clear();
        arrivals_.clear();
        stream_.on = false;
    }

    std::vector<std::string> Writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    std::vector<int> Opens() const {
        std::lock_guard lock(mutex_);
        return opens_;
    }
    int Purges() const {
        std::lock_guard lock(mutex_);
        return purges_;
    }
    int Baud() const {
        std::lock_guard lock(mutex_);
        return baud_;
    }

    // serial::LineStandIn
    bool Open(int baud_rate) override {
        std::lock_guard lock(mutex_);
        if (fail_opens_) return false;
        open_ = true;
        baud_ = baud_rate;
        opens_.push_back(baud_rate);
        uint64_t now = util::NowMs();
        Settle(now);
        received_.clear();
        return true;
    }
    void Close() override {
        std::lock_guard lock(mutex_);
        open_ = false;
        received_.clear();
    }
    bool IsOpen() const override {
        std::lock_guard lock(mutex_);
        return open_;
    }
    bool Write(const void* data, uint32_t size, uint32_t* written) override {
        std::function<void()> action;
        {
            std::lock_guard lock(mutex_);
            if (!open_ || hung_up_) return false;
            std::string text(static_cast<const char*>(data), size);
            writes_.push_back(text);
            if (writes_before_hang_up_ > 0 && --writes_before_hang_up_ == 0) {
                // This write still reaches the device; its answer and action are lost with the
                // line.
                *written = size;
                HangUp();
                return true;
            }
            auto answer = answers_.find({text, baud_});
            if (answer == answers_.end()) answer = answers_.find({text, 0});
            if (answer != answers_.end()) {
                Schedule(util::NowMs() + answer->second.delay_ms, answer->second.text, baud_);
            }
            auto found = actions_.find(text);
            if (found != actions_.end()) action = found->second;
            *written = size;
        }
        if (action) action();
        return true;
    }
    bool Read(void* buffer, uint32_t capacity, uint32_t* received, uint32_t timeout_ms) override {
        *received = 0;
        std::unique_lock lock(mutex_);
        if (!open_ || hung_up_) return false;
        uint64_t now = util::NowMs();
        Settle(now);
        if (received_.empty()) {
            uint64_t next = NextArrival(now);
            uint64_t wait = next != kNever && next - now <= timeout_ms ? next - now : timeout_ms;
            lock.unlock();
            util::SleepMs(static_cast<uint32_t>(wait));
            lock.lock();
            if (!open_ || hung_up_) return false;
            Settle(now + wait);
            if (received_.empty()) return false;
        }
        uint32_t count = std::min<uint32_t>(capacity, static_cast<uint32_t>(received_.size()));
        std::copy_n(received_.begin(), count, static_cast<char*>(buffer));
        received_.erase(received_.begin(), received_.begin() + count);
        *received = count;
        return true;
    }
    bool Purge() override {
        std::lock_guard lock(mutex_);
        if (!open_ || hung_up_) return false;
        Settle(util::NowMs());
        received_.clear();
        ++purges_;
        return true;
    }

private:
    static constexpr uint64_t kNever = ~uint64_t{0};
    struct Reply {
        std::string text;
        uint32_t delay_ms;
    };
    struct Arrival {
        uint64_t at;
        std::string bytes;
        int baud;
    };
    struct StreamState {
        std::string text;
        uint32_t period_ms = 1;
        int baud = 0;
        uint64_t last = 0;  // time of the last sentence sent (or the start)
        bool on = false;
    };

    // What was buffered and what is still on its way is lost with the line.
    void HangUp() {
        hung_up_ = true;
        writes_before_hang_up_ = -1;
        received_.clear();
        arrivals_.clear();
    }
    void Schedule(uint64_t at, const std::string& bytes, int baud) {
        Arrival arrival{at, bytes, baud};
        auto place = std::upper_bound(arrivals_.begin(), arrivals_.end(), at,
                                      [](uint64_t t, const Arrival& a) { return t < a.at; });
        arrivals_.insert(place, std::move(arrival));
    }
    // Everything sent up to `now` reaches the receive buffer, or is lost on a closed port or at
    // another rate.
    void Settle(uint64_t now) {
        while (stream_.on && stream_.last + stream_.period_ms <= now) {
            stream_.last += stream_.period_ms;
            Schedule(stream_.last, stream_.text, stream_.baud);
        }
        while (!arrivals_.empty() && arrivals_.front().at <= now) {
            const Arrival& a = arrivals_.front();
            if (open_ && !hung_up_ && (a.baud == 0 || a.baud == baud_)) {
                received_.insert(received_.end(), a.bytes.begin(), a.bytes.end());
            }
            arrivals_.pop_front();
        }
    }
    uint64_t NextArrival(uint64_t now) const {
        uint64_t next = kNever;
        for (const Arrival& a : arrivals_) {
            if (a.baud == 0 || a.baud == baud_) {
                next = a.at;
                break;
            }
        }
        if (stream_.on && (stream_.baud == 0 || stream_.baud == baud_)) {
            next = std::min(next, std::max(now, stream_.last + stream_.period_ms));
        }
        return next;
    }

    const int port_number_;
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, Reply> answers_;
    std::map<std::string, std::function<void()>> actions_;
    std::deque<Arrival> arrivals_;
    StreamState stream_;
    std::deque<char> received_;
    std::vector<std::string> writes_;
    std::vector<int> opens_;
    int purges_ = 0;
    bool open_ = false;
    bool fail_opens_ = false;
    bool hung_up_ = false;
    int writes_before_hang_up_ = -1;  // writes left before the hang-up; -1 none planned
    int baud_ = 0;
};
