// The version and identity query exports.
#include "qvlib/commands/get_version.h"
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"

namespace {

int RequestVersion(int port, const char* command_text) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CGetVersion>(session->VersionText(),
                                                                      qv::kTextSize, command_text))
               ? 1
               : 0;
}

}  // namespace

extern "C" {

QV_API int ReqGetFWVersion(int port) { return RequestVersion(port, "rvfw\r"); }
QV_API int ReqGetDBVersion(int port) { return RequestVersion(port, "rvdb\r"); }
QV_API int ReqGetVOCVersion(int port) { return RequestVersion(port, "rvvo\r"); }
QV_API int ReqGetDeviceID(int port) { return RequestVersion(port, "rimt\r"); }
QV_API int ReqGetSerialNumber(int port) { return RequestVersion(port, "rsmt\r"); }

QV_API const char* GetVersionResult(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    return session != nullptr ? session->VersionText() : nullptr;
}

}  // extern "C"
