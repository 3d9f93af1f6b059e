// The device finder exports.
#include "qvlib/discovery/device_finder.h"
#include "qvlib/session/qvlib.h"

extern "C" {

QV_API int ReqFindDevice(const char* model_name) {
    return qv::Finder().Request(model_name) ? 1 : 0;
}

QV_API int FindDeviceState(void) { return qv::Finder().State(); }

QV_API int GetFoundDeviceCount(void) { return qv::Finder().FoundCount(); }

QV_API int GetFoundDevicePort(int index) { return qv::Finder().FoundPort(index); }

}  // extern "C"
