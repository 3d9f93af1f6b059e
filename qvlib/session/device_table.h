// The process-wide state of the library: the table of open sessions by port number and the model
// table. It lives as long as the library is loaded; unloading closes every open port before
// anything else is destroyed.
#pragma once

#include <array>
#include <memory>

#include "qvlib/session/model_table.h"
#include "qvlib/session/qv.h"

namespace qv {

constexpr int kPortCount = 256;

inline bool IsValidPort(int port) { return static_cast<unsigned>(port) - 1u < kPortCount; }

class DeviceTable {
public:
    DeviceTable() = default;
    ~DeviceTable();
    DeviceTable(const DeviceTable&) = delete;
    DeviceTable& operator=(const DeviceTable&) = delete;

    // The session of a valid port, or null.
    CQv* Find(int port) const;
    bool Open(const char* model_name, int port);
    bool Close(int port);
    void CloseAll();

    ModelTable& Models() { return models_; }

private:
    // Declaration order is destruction order in reverse: the sessions go first, the models last.
    ModelTable models_;
    std::array<std::unique_ptr<CQv>, kPortCount + 1> sessions_;  // entry 0 never used
};

// The library's one table.
DeviceTable& Devices();

}  // namespace qv
