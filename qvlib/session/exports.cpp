// The exports that open and close ports and report a session's state, result and progress.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"

using qv::Devices;

extern "C" {

QV_API int IsPortValid(int port) { return qv::IsValidPort(port) ? 1 : 0; }

QV_API int IsDeviceOpened(int port) { return Devices().Find(port) != nullptr ? 1 : 0; }

QV_API int OpenDevice(const char* model_name, int port) {
    return Devices().Open(model_name, port) ? 1 : 0;
}

QV_API int CloseDevice(int port) { return Devices().Close(port) ? 1 : 0; }

QV_API int GetModelName(int index, char* buffer, int size) {
    if (buffer == nullptr || size < 1 || index < 0) return -1;
    if (index == 0) Devices().Models().Load();
    const std::vector<qv::ModelInfo> rows = Devices().Models().Rows();
    if (static_cast<size_t>(index) >= rows.size()) return -1;
    const std::string& name = rows[static_cast<size_t>(index)].name;
    const size_t copied = std::min(name.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, name.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(name.size());
}

QV_API int GetQueryState(int port) {
    qv::CQv* session = Devices().Find(port);
    return session != nullptr ? session->GetQueryState() : 0;
}

QV_API int GetQueryResult(int port) {
    qv::CQv* session = Devices().Find(port);
    return session != nullptr ? session->GetQueryResult() : 0;
}

QV_API int GetQueryProgressMin(int port) {
    qv::CQv* session = Devices().Find(port);
    return session != nullptr ? static_cast<int>(session->GetMin()) : 0;
}

QV_API int GetQueryProgressMax(int port) {
    qv::CQv* session = Devices().Find(port);
    return session != nullptr ? static_cast<int>(session->GetMax()) : 0;
}

QV_API int GetQueryProgressPos(int port) {
    qv::CQv* session = Devices().Find(port);
    return session != nullptr ? static_cast<int>(session->GetPos()) : 0;
}

}  // extern "C"
