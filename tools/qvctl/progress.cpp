#include "progress.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace qvctl {

std::string FormatBytes(double bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%.0f B", bytes);
    } else if (bytes < 1024.0 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
    }
    return text;
}

std::string FormatDuration(double seconds) {
    if (seconds < 0) seconds = 0;
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    }
    return text;
}

std::string FormatProgressBar(int64_t done, int64_t total, double elapsed_s) {
    constexpr int kWidth = 30;
    if (done < 0) done = 0;
    const double fraction =
        total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(total)) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d%%  ", static_cast<int>(fraction * 100));
    line += percent;
    line += FormatBytes(static_cast<double>(done)) + " / " +
            FormatBytes(static_cast<double>(total > 0 ? total : 0));
    if (elapsed_s > 0 && done > 0) {
        const double rate = static_cast<double>(done) / elapsed_s;
        line += "  " + FormatBytes(rate) + "/s";
        if (total >= done) {
            line += "  " + FormatDuration(static_cast<double>(total - done) / rate) + " left";
        }
    }
    return line;
}

ProgressReporter::ProgressReporter(std::string stage, bool json, FILE* events, bool terminal)
    : stage_(std::move(stage)), json_(json), terminal_(terminal && !json), events_(events) {}

ProgressReporter::~ProgressReporter() {
    if (drew_) std::fputs("\n", stderr);
}

void ProgressReporter::Update(int64_t done, int64_t total) {
    const auto now = Clock::now();
    const bool first = last_done_ < 0;
    const bool last = total > 0 && done >= total;
    if (json_) {
        const bool moved = done != last_done_ || total != last_total_;
        if (!moved || (!first && !last && now - last_draw_ < std::chrono::milliseconds(200))) {
            return;
        }
        nlohmann::json event = {
            {"event", "progress"}, {"stage", stage_}, {"done", done}, {"total", total}};
        std::fprintf(events_, "%s\n", event.dump().c_str());
        std::fflush(events_);
    } else if (terminal_) {
        if (!first && !last && now - last_draw_ < std::chrono::milliseconds(100)) return;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        std::fprintf(stderr, "\r%s %s\033[K", stage_.c_str(),
                     FormatProgressBar(done, total, elapsed).c_str());
        std::fflush(stderr);
        drew_ = true;
    } else {
        return;
    }
    last_draw_ = now;
    last_done_ = done;
    last_total_ = total;
}

void ProgressReporter::Spin(const std::string& what) {
    if (!terminal_) return;
    const auto now = Clock::now();
    if (drew_ && now - last_draw_ < std::chrono::milliseconds(200)) return;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::fprintf(stderr, "\r%s ... %.0f s\033[K", what.c_str(), elapsed);
    std::fflush(stderr);
    drew_ = true;
    last_draw_ = now;
}

}  // namespace qvctl
