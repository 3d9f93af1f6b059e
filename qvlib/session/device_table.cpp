#include "qvlib/session/device_table.h"

namespace qv {

DeviceTable::~DeviceTable() { CloseAll(); }

CQv* DeviceTable::Find(int port) const {
    return IsValidPort(port) ? sessions_[port].get() : nullptr;
}

bool DeviceTable::Open(const char* model_name, int port) {
    if (!IsValidPort(port) || sessions_[port]) return false;
    auto session = std::make_unique<CQv>();
    if (!session->Open(models_, model_name, port)) return false;
    sessions_[port] = std::move(session);
    return true;
}

bool DeviceTable::Close(int port) {
    if (!IsValidPort(port) || !sessions_[port]) return false;
    sessions_[port]->Stop();
    sessions_[port].reset();
    return true;
}

void DeviceTable::CloseAll() {
    for (int port = 1; port <= kPortCount; ++port) Close(port);
}

// Constructed when the library is loaded (empty table, empty model table) and destroyed when it
// is unloaded, which stops every open session first.
static DeviceTable g_devices;

DeviceTable& Devices() { return g_devices; }

}  // namespace qv
