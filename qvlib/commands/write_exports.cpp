// The image write exports: firmware, database, voice data and bootloader.
#include "qvlib/commands/write_file.h"
#include "qvlib/session/device_table.h"
#include "qvlib/session/qvlib.h"

namespace {

// The path is copied here, in the caller's thread; the file is opened when the command runs.
std::string CopyPath(const char* path) { return path != nullptr ? path : ""; }

int RequestWrite(int port, const char* command_text, const char* path) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CWriteFile>(command_text, CopyPath(path)))
               ? 1
               : 0;
}

}  // namespace

extern "C" {

QV_API int ReqWriteFW(int port, const char* path) { return RequestWrite(port, "wb\r", path); }
QV_API int ReqWriteDB(int port, const char* path) { return RequestWrite(port, "wd\r", path); }
QV_API int ReqWriteVOC(int port, const char* path) { return RequestWrite(port, "wv\r", path); }

QV_API int ReqWriteBootloader(int port, const char* path) {
    qv::CQv* session = qv::Devices().Find(port);
    if (session == nullptr) return 0;
    return session->PostCommand(session->MakeCommand<qv::CWriteBootloader>(CopyPath(path))) ? 1 : 0;
}

}  // extern "C"
