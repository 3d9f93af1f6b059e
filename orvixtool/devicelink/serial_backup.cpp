#include "orvixtool/devicelink/serial_backup.h"

#include <fstream>
#include <memory>
#include <sstream>

#include "common/userpoints/points_file.h"

namespace devod {

namespace {

struct ListField {
    const char* name;
    std::vector<int> SerialSettings::*list;
};
constexpr ListField kLists[] = {
    {"speeds", &SerialSettings::speeds}, {"warning", &SerialSettings::warning},
    {"unit", &SerialSettings::unit},     {"gmt", &SerialSettings::gmt},
    {"summer", &SerialSettings::summer}, {"clock", &SerialSettings::clock},
};

std::string Join(const std::vector<int>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i)
        text += (i > 0 ? "," : "") + std::to_string(values[i]);
    return text;
}

std::optional<std::vector<int>> Split(const std::string& text) {
    std::vector<int> values;
    if (text.empty()) return values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        size_t used = 0;
        int value = 0;
        try {
            value = std::stoi(item, &used);
        } catch (...) {
            return std::nullopt;
        }
        if (used != item.size() || value < -32768 || value > 65535) return std::nullopt;
        values.push_back(value);
    }
    if (text.back() == ',') return std::nullopt;
    return values;
}

}  // namespace

std::string FormatSerialBackup(const SerialDeviceData& data, int port, const std::string& model,
                               const std::string& time_utc) {
    qvpoints::Attributes backup = {
        {"link", "serial"}, {"port", std::to_string(port)}, {"model", model}, {"time", time_utc}};
    for (const ListField& f : kLists) backup.emplace_back(f.name, Join(data.settings.*f.list));
    return qvpoints::WriteGpx(data.points, backup);
}

std::optional<SerialDeviceData> ParseSerialBackup(const std::string& text, std::string* error) {
    const qvpoints::PointsParseResult parsed = qvpoints::ParseGpx(text);
    if (!parsed.ok()) {
        *error = "line " + std::to_string(parsed.error_line) + ": " + parsed.error;
        return std::nullopt;
    }
    auto attribute = [&](const char* name) -> const std::string* {
        for (const auto& [key, value] : parsed.backup) {
            if (key == name) return &value;
        }
        return nullptr;
    };
    const std::string* link = attribute("link");
    if (link == nullptr) {
        *error = "a GPX file, but no DevodTool backup";
        return std::nullopt;
    }
    if (*link != "serial") {
        *error = "a backup of a device on another link";
        return std::nullopt;
    }
    SerialDeviceData data;
    for (const ListField& f : kLists) {
        const std::string* value = attribute(f.name);
        const auto list = value != nullptr ? Split(*value) : std::nullopt;
        if (!list) {
            *error = std::string("the backup's ") + f.name + " list is missing or damaged";
            return std::nullopt;
        }
        data.settings.*f.list = *list;
    }
    data.points = parsed.points;
    return data;
}

std::optional<SerialDeviceData> LoadSerialBackup(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "the file cannot be read";
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    if (text.str().size() > (32u << 20)) {
        *error = "the file is too large for a backup";
        return std::nullopt;
    }
    return ParseSerialBackup(text.str(), error);
}

void SerialBackup::Read(int port, ReadDone done) {
    port_ = port;
    auto data = std::make_shared<SerialDeviceData>();
    auto why = std::make_shared<std::string>();
    std::deque<Step> steps;
    steps.push_back({[this] { return qv_.ReqGetDeviceMode(port_); },
                     [this](bool) {
                         // Not in download mode: switch it there before the reads.
                         if (qv_.GetDeviceModeResult(port_) != 2) {
                             steps_.push_front({[this] { return qv_.ReqSetDeviceDNMode(port_); },
                                                [](bool) { return true; }});
                         }
                         return true;
                     }});
    steps.push_back({[this] { return qv_.ReqGetUserSetting(port_); },
                     [this, data, why](bool ok) {
                         if (!ok) *why = "the device did not send its settings";
                         if (ok) data->settings = qv_.GetSettings(port_);
                         return ok;
                     }});
    steps.push_back({[this] { return qv_.ReqGetUserDB(port_); },
                     [this, data, why](bool ok) {
                         if (!ok) *why = "the device did not send its user points";
                         if (ok) data->points = qv_.GetUserPoints(port_);
                         return ok;
                     }});
    Run(std::move(steps), [data, why, done](bool completed) {
        if (completed) {
            done(*data, "");
        } else {
            done(std::nullopt, why->empty() ? "the device did not answer" : *why);
        }
    });
}

void SerialBackup::Write(int port, const SerialDeviceData& data, bool settings, bool points,
                         WriteDone done) {
    port_ = port;
    auto why = std::make_shared<std::string>();
    std::deque<Step> steps;
    if (settings) {
        steps.push_back({[this, data] {
                             qv_.SetSettings(port_, data.settings);
                             return qv_.ReqSetUserSetting(port_);
                         },
                         [why](bool ok) {
                             if (!ok) *why = "the device did not take the settings";
                             return ok;
                         }});
    }
    if (points) {
        steps.push_back({[this, data] {
                             qv_.SetUserPoints(port_, data.points);
                             return qv_.ReqSetUserDB(port_);
                         },
                         [why](bool ok) {
                             if (!ok) *why = "the device did not take the user points";
                             return ok;
                         }});
    }
    Run(std::move(steps), [why, done](bool completed) { done(completed, *why); });
}

void SerialBackup::Run(std::deque<Step> steps, std::function<void(bool)> finished) {
    Cancel();
    steps_ = std::move(steps);
    finished_ = std::move(finished);
    running_ = true;
    StartNext();
}

void SerialBackup::StartNext() {
    if (steps_.empty()) {
        Finish(true);
        return;
    }
    if (steps_.front().request() != 1) {
        // The session took no request: the device is gone.
        Step step = std::move(steps_.front());
        steps_.pop_front();
        step.end(false);
        Finish(false);
        return;
    }
    timers_.SetTimer(kTimerBackup, kPollMs);
}

bool SerialBackup::OnTimer(unsigned id) {
    if (id != kTimerBackup) return false;
    if (!running_) {
        timers_.KillTimer(kTimerBackup);
        return true;
    }
    if (qv_.GetQueryState(port_) != 2) return true;
    timers_.KillTimer(kTimerBackup);
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (!step.end(qv_.GetQueryResult(port_) == 1)) {
        Finish(false);
        return true;
    }
    StartNext();
    return true;
}

void SerialBackup::Finish(bool completed) {
    timers_.KillTimer(kTimerBackup);
    running_ = false;
    steps_.clear();
    auto finished = std::move(finished_);
    finished_ = nullptr;
    if (finished) finished(completed);
}

void SerialBackup::Cancel() {
    timers_.KillTimer(kTimerBackup);
    running_ = false;
    steps_.clear();
    finished_ = nullptr;
}

}  // namespace devod
