#include "orvixtool/devicelink/serial_search.h"

#include <algorithm>

namespace devod {

std::vector<std::string> SerialSearch::SearchOrder(const std::vector<std::string>& table,
                                                   const std::optional<std::string>& last) {
    // Each search probes every port, a few seconds a port: the model last used alone when the
    // table still has it, every model otherwise.
    if (last && std::find(table.begin(), table.end(), *last) != table.end()) return {*last};
    return table;
}

void SerialSearch::Start(std::vector<std::string> models, Status status, Done done) {
    Cancel();
    models_ = std::move(models);
    index_ = 0;
    status_ = std::move(status);
    done_ = std::move(done);
    running_ = true;
    StartNext();
}

void SerialSearch::StartNext() {
    // A model the finder does not take (unknown, or no port to probe) is passed over.
    for (; index_ < models_.size(); ++index_) {
        if (qv_.ReqFindDevice(models_[index_]) == 1) {
            if (status_) status_("Searching the serial ports for " + models_[index_]);
            timers_.SetTimer(kTimerSearch, kPollMs);
            return;
        }
    }
    Finish(std::nullopt);
}

bool SerialSearch::OnTimer(unsigned id) {
    if (id != kTimerSearch) return false;
    if (!running_) {
        timers_.KillTimer(kTimerSearch);
        return true;
    }
    if (qv_.FindDeviceState() != 2) return true;
    if (qv_.GetFoundDeviceCount() > 0) {
        Finish(Found{qv_.GetFoundDevicePort(0), models_[index_]});
        return true;
    }
    timers_.KillTimer(kTimerSearch);
    ++index_;
    StartNext();
    return true;
}

void SerialSearch::Finish(const std::optional<Found>& found) {
    timers_.KillTimer(kTimerSearch);
    running_ = false;
    Done done = std::move(done_);
    done_ = nullptr;
    status_ = nullptr;
    if (done) done(found);
}

void SerialSearch::Cancel() {
    timers_.KillTimer(kTimerSearch);
    running_ = false;
    done_ = nullptr;
    status_ = nullptr;
}

}  // namespace devod
