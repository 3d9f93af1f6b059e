// qv::CDeviceFinder: searches every COM port for a device of one model. A search opens a probe
// session on each port the machine lists, then its own thread puts every probed device into
// download mode, asks each for its device ID and keeps the ports whose ID equals the model's ID
// code exactly. The probe sessions run in parallel and are closed when the search ends.
//
// Publication: the search thread fills the found list, then stores state 2 with release ordering;
// State, FoundCount and FoundPort read the state with acquire ordering and touch the list only when
// it is 2. The list is emptied only by Request, when no search runs. Requests and queries come from
// one caller thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "qvlib/session/model_table.h"
#include "qvlib/session/qv.h"
#include "qvlib/util/event.h"
#include "qvlib/util/thread.h"

namespace qv {

enum FinderState : int { kFinderIdle = 0, kFinderSearching = 1, kFinderDone = 2 };

class CDeviceFinder : public util::CThread {
public:
    using PortLister = std::function<std::vector<int>()>;

    // `models` is reloaded and read only in the caller's thread (at Request); `list_ports` gives
    // the ports to probe, in probe order.
    explicit CDeviceFinder(ModelTable& models, PortLister list_ports);
    // Ends a running search at once: the probes' commands fail at their next read or write, the
    // sessions close and the thread is joined before anything of the finder goes away.
    ~CDeviceFinder() override;

    // Starts a search for the named model: false while a search runs, for an unknown model, when
    // no port is listed or none could be opened, or when the thread cannot start.
    bool Request(const char* model_name);
    int State() const { return state_.load(std::memory_order_acquire); }
    // 0 while searching.
    int FoundCount() const;
    // The port at `index` of the found list; 0 out of range or while searching.
    int FoundPort(int index) const;

protected:
    uint32_t Run() override;

private:
    // Hands each probe a command made by `make`; a probe that refuses it counts as done.
    void PostToAll(const std::function<std::unique_ptr<CCommand>(CQv&)>& make);
    // Polls every 100 ms until every probe has finished its command; false when the finder is
    // being destroyed.
    bool WaitAllDone();
    void CloseProbes();

    ModelTable& models_;
    PortLister list_ports_;
    std::vector<std::unique_ptr<CQv>> probes_;  // the search thread's while state is 1
    std::vector<int> found_;
    std::atomic<int> state_{kFinderIdle};
    std::string model_name_;
    std::string id_code_;  // the searched model's ID code, copied at the request
    util::CEvent quit_{util::CEvent::Kind::Manual};
};

// The library's one finder, over the device table's model table and the machine's COM ports.
CDeviceFinder& Finder();

}  // namespace qv
