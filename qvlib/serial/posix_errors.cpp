// errno → result code, in one place for the whole POSIX layer.
#include <cerrno>

#include "qvlib/serial/comm_platform.h"
#include "qvlib/serial/win_codes.h"

namespace serial::platform {

int32_t ErrnoToCode(int err) {
    switch (err) {
        case 0: return kSuccess;
        case ENOENT:
        case ENXIO:
        case ENODEV: return kErrorFileNotFound;  // no such device
        case ENOTDIR: return kErrorPathNotFound;
        case EMFILE:
        case ENFILE: return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EBUSY: return kErrorAccessDenied;  // also "in use by somebody else"
        case EBADF: return kErrorInvalidHandle;
        case ENOMEM: return kErrorNotEnoughMemory;
        case EIO: return kErrorGenFailure;  // the device stopped answering (line hung up)
        case ENOTSUP: return kErrorNotSupported;
        case EINVAL: return kErrorInvalidParameter;
        case ENAMETOOLONG: return kErrorFilenameTooLong;
        case ECANCELED: return kErrorOperationAborted;
        case ETIMEDOUT: return kErrorTimeout;
        default: return kErrnoFlag | err;
    }
}

int32_t LastErrorCode() { return ErrnoToCode(errno); }

}  // namespace serial::platform
