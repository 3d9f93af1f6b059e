// Progress reporting for qvctl's long commands: a bar on a terminal's standard error, or JSON
// progress events on standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace qvctl {

// One line of a progress bar: "[#####-----]  50%  512.0 KiB / 1.0 MiB  11.2 KiB/s  0:45 left".
// `elapsed_s` is the time since the transfer began; the rate and the time left are left out
// until it is positive and some bytes have moved.
std::string FormatProgressBar(int64_t done, int64_t total, double elapsed_s);

// "512 B", "1.5 KiB", "3.0 MiB".
std::string FormatBytes(double bytes);

// "m:ss", or "h:mm:ss" from an hour on.
std::string FormatDuration(double seconds);

// Reports the progress of one stage. On a terminal (and without JSON) it redraws a bar on
// standard error at most every 100 ms; with JSON it prints a progress event on standard output
// whenever the position moved and 200 ms have passed, and always for the first and last position.
// Otherwise it prints nothing.
class ProgressReporter {
public:
    // JSON events go to `events`.
    ProgressReporter(std::string stage, bool json, FILE* events, bool terminal);
    ~ProgressReporter();  // ends the bar's line
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    void Update(int64_t done, int64_t total);
    // A search without a known end: a line "searching ... 3 s" on the terminal only.
    void Spin(const std::string& what);

private:
    using Clock = std::chrono::steady_clock;
    std::string stage_;
    bool json_;
    bool terminal_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_draw_{};
    int64_t last_done_ = -1;
    int64_t last_total_ = -1;
    FILE* events_;
    bool drew_ = false;
};

}  // namespace qvctl
