// The device mode, reset and erase exports.
#include "qvlib/commands/device_mode.h"
#include "qvlib/commands/erase_flash.h"
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"

namespace {

template <typename Command>
int RequestModeCommand(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<Command>(session->DeviceMode())) ? 1 : 0;
}

int RequestErase(int port, const char* command_text, const char* confirmation) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CEraseFlash>(command_text, confirmation))
               ? 1
               : 0;
}

}  // namespace

extern "C" {

QV_API int ReqGetDeviceMode(int port) { return RequestModeCommand<qv::CGetDeviceMode>(port); }
QV_API int GetDeviceModeResult(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    return session != nullptr ? session->DeviceMode()->load(std::memory_order_relaxed) : 0;
}
QV_API int ReqSetDeviceDNMode(int port) { return RequestModeCommand<qv::CSetDeviceDNMode>(port); }
QV_API int ReqResetDevice(int port) { return RequestModeCommand<qv::CResetDevice>(port); }

QV_API int ReqEraseFW(int port) { return RequestErase(port, "ep\r", "y"); }
QV_API int ReqEraseDB(int port) { return RequestErase(port, "ed\r", "y"); }
QV_API int ReqEraseVOC(int port) { return RequestErase(port, "ev\r", "y"); }
QV_API int ReqEraseBootloader(int port) { return RequestErase(port, "ep\r", "b"); }
QV_API int ReqEraseAll(int port) { return RequestErase(port, "ef\r", "y"); }

}  // extern "C"
