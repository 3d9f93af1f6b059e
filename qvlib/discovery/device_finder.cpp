#include "qvlib/discovery/device_finder.h"

#include "qvlib/commands/device_mode.h"
#include "qvlib/commands/get_version.h"
#include "qvlib/discovery/com_ports.h"
#include "qvlib/serial/win_codes.h"
#include "qvlib/session/device_table.h"

namespace qv {

CDeviceFinder::CDeviceFinder(ModelTable& models, PortLister list_ports)
    : models_(models), list_ports_(std::move(list_ports)) {}

CDeviceFinder::~CDeviceFinder() {
    quit_.Set();
    if (HasThread()) Join();
    CloseProbes();  // a request that failed to start its thread leaves none; this is a safeguard
}

bool CDeviceFinder::Request(const char* model_name) {
    if (State() == kFinderSearching) return false;
    if (HasThread()) Join();  // the last search's thread has ended (state 2): collect it
    models_.Load();
    std::optional<ModelInfo> row = models_.Find(model_name != nullptr ? model_name : "");
    if (!row) return false;
    std::vector<int> ports = list_ports_();
    if (ports.empty()) return false;

    found_.clear();
    model_name_ = row->name;
    id_code_ = row->id_code;
    for (int port : ports) {
        auto probe = std::make_unique<CQv>();
        // A port that is absent or already open (also by this host) fails here and is left out.
        if (probe->Open(models_, model_name_.c_str(), port)) probes_.push_back(std::move(probe));
    }
    if (probes_.empty()) return false;
    quit_.Reset();
    state_.store(kFinderSearching, std::memory_order_release);
    if (!Start()) {
        CloseProbes();
        state_.store(kFinderIdle, std::memory_order_release);
        return false;
    }
    return true;
}

int CDeviceFinder::FoundCount() const {
    return State() == kFinderSearching ? 0 : static_cast<int>(found_.size());
}

int CDeviceFinder::FoundPort(int index) const {
    if (State() == kFinderSearching) return 0;
    if (static_cast<unsigned>(index) >= found_.size()) return 0;
    return found_[static_cast<size_t>(index)];
}

uint32_t CDeviceFinder::Run() {
    PostToAll([](CQv& probe) { return probe.MakeCommand<CSetDeviceDNMode>(probe.DeviceMode()); });
    if (WaitAllDone()) {
        PostToAll([](CQv& probe) {
            return probe.MakeCommand<CGetVersion>(probe.VersionText(), kTextSize, "rimt\r");
        });
        if (WaitAllDone()) {
            for (const auto& probe : probes_) {
                if (id_code_ == probe->VersionText())
                    found_.push_back(probe->Port().GetPortNumber());
            }
        }
    }
    CloseProbes();
    state_.store(kFinderDone, std::memory_order_release);
    return 0;
}

void CDeviceFinder::PostToAll(const std::function<std::unique_ptr<CCommand>(CQv&)>& make) {
    for (const auto& probe : probes_) probe->PostCommand(make(*probe));
}

bool CDeviceFinder::WaitAllDone() {
    for (;;) {
        size_t done = 0;
        for (const auto& probe : probes_) {
            if (probe->GetQueryState() != kStateRunning) ++done;
        }
        if (done == probes_.size()) return true;
        // The 100 ms poll doubles as the wait for the finder's destruction.
        if (quit_.Wait(100) == serial::kWaitObject0) return false;
    }
}

void CDeviceFinder::CloseProbes() {
    for (auto& probe : probes_) probe->Stop();
    probes_.clear();
}

CDeviceFinder& Finder() {
    // Built when the library is loaded, destroyed when it is unloaded: the destructor ends a
    // running search before the library's code and data go away.
    static CDeviceFinder finder(Devices().Models(), EnumerateComPorts);
    return finder;
}

}  // namespace qv
