#include "orvixtool/devicelink/qv_link.h"

#include "qvlib/session/qvlib.h"

namespace devod {

std::vector<std::string> QvLibLink::ModelNames() {
    std::vector<std::string> names;
    char name[256];
    for (int i = 0; ::GetModelName(i, name, sizeof name) >= 0; ++i) names.emplace_back(name);
    return names;
}

int QvLibLink::OpenDevice(const std::string& model, int port) {
    return ::OpenDevice(model.c_str(), port);
}
int QvLibLink::CloseDevice(int port) { return ::CloseDevice(port); }
int QvLibLink::GetQueryState(int port) { return ::GetQueryState(port); }
int QvLibLink::GetQueryResult(int port) { return ::GetQueryResult(port); }
int QvLibLink::GetQueryProgressMin(int port) { return ::GetQueryProgressMin(port); }
int QvLibLink::GetQueryProgressMax(int port) { return ::GetQueryProgressMax(port); }
int QvLibLink::GetQueryProgressPos(int port) { return ::GetQueryProgressPos(port); }
int QvLibLink::ReqGetDeviceMode(int port) { return ::ReqGetDeviceMode(port); }
int QvLibLink::GetDeviceModeResult(int port) { return ::GetDeviceModeResult(port); }
int QvLibLink::ReqSetDeviceDNMode(int port) { return ::ReqSetDeviceDNMode(port); }
int QvLibLink::ReqEraseDB(int port) { return ::ReqEraseDB(port); }
int QvLibLink::ReqWriteDB(int port, const std::string& path) {
    return ::ReqWriteDB(port, path.c_str());
}
int QvLibLink::ReqGetFWVersion(int port) { return ::ReqGetFWVersion(port); }
int QvLibLink::ReqGetDBVersion(int port) { return ::ReqGetDBVersion(port); }
int QvLibLink::ReqGetSerialNumber(int port) { return ::ReqGetSerialNumber(port); }
std::string QvLibLink::GetVersionResult(int port) {
    const char* text = ::GetVersionResult(port);
    return text != nullptr ? text : "";
}
int QvLibLink::ReqFindDevice(const std::string& model) { return ::ReqFindDevice(model.c_str()); }
int QvLibLink::FindDeviceState() { return ::FindDeviceState(); }
int QvLibLink::GetFoundDeviceCount() { return ::GetFoundDeviceCount(); }
int QvLibLink::GetFoundDevicePort(int index) { return ::GetFoundDevicePort(index); }

}  // namespace devod
