// Looks for a device on the serial ports with QVLib's finder, one model after the other, polled
// from a page timer so that the window keeps running while the ports are probed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "orvixtool/devicelink/qv_link.h"
#include "orvixtool/shell/dialog_host.h"

namespace devod {

class SerialSearch {
public:
    enum : unsigned { kTimerSearch = 4103 };
    static constexpr unsigned kPollMs = 100;

    struct Found {
        int port = 0;
        std::string model;
    };
    // What is being searched, for the status line.
    using Status = std::function<void(const std::string& text)>;
    // The first port found, with its model; nothing when no model was found on any port.
    using Done = std::function<void(const std::optional<Found>& found)>;

    SerialSearch(ITimers& timers, IQvLink& qv) : timers_(timers), qv_(qv) {}

    // The models to search for, in order: the one last used alone (when the table still has it),
    // or else every model of the table.
    static std::vector<std::string> SearchOrder(const std::vector<std::string>& table,
                                                const std::optional<std::string>& last);

    // Searches for each model in turn until one is found. `done` runs once, also at once when no
    // search can start (no port to probe).
    void Start(std::vector<std::string> models, Status status, Done done);
    bool OnTimer(unsigned id);
    bool Running() const { return running_; }
    // Stops polling; nothing is reported. The library's finder ends on its own.
    void Cancel();

private:
    void StartNext();
    void Finish(const std::optional<Found>& found);

    ITimers& timers_;
    IQvLink& qv_;
    std::vector<std::string> models_;
    size_t index_ = 0;
    Status status_;
    Done done_;
    bool running_ = false;
};

}  // namespace devod
