// The serial number and quality-control exports.
#include "qvlib/commands/erase_flash.h"
#include "qvlib/commands/quality_control.h"
#include "qvlib/commands/serial_number.h"
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"

extern "C" {

QV_API int ReqSetSerialNumber(int port, const char* serial_number) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr || serial_number == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CSetSerialNumber>(serial_number)) ? 1 : 0;
}

QV_API int ReqEraseSerialNumber(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CEraseFlash>("esmt\r", "y")) ? 1 : 0;
}

QV_API int ReqViewQC(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    // The text is emptied only when the request can be handed over: a running command may be the
    // one writing it.
    if (session == nullptr || session->GetQueryState() == qv::kStateRunning) return 0;
    session->QcViewText()[0] = '\0';
    return session->PostCommand(session->MakeCommand<qv::CReqViewQC>(session->QcViewText())) ? 1
                                                                                             : 0;
}

QV_API const char* GetViewQC(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    return session != nullptr ? session->QcViewText() : nullptr;
}

QV_API int ReqQCTestResult(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CReqQCTestResult>(session->QcTestResult()))
               ? 1
               : 0;
}

QV_API int GetQCTestResult(int port) {
    qv::CQv* session = qv::Devices().Find(port);
    return session != nullptr ? session->QcTestResult()->load(std::memory_order_relaxed)
                              : qv::kQcUnknown;
}

}  // extern "C"
