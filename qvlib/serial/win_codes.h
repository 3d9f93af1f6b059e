// Result codes, event bits and wait outcomes of the serial layer. The values are those of the
// Windows communications API, so that callers and diagnostics keep one meaning for every code
// whatever platform layer sits underneath.
#pragma once

#include <cstdint>

namespace serial {

constexpr int32_t kSuccess = 0;
constexpr int32_t kErrorInvalidFunction = 1;        // ERROR_INVALID_FUNCTION
constexpr int32_t kErrorFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
constexpr int32_t kErrorPathNotFound = 3;           // ERROR_PATH_NOT_FOUND
constexpr int32_t kErrorTooManyOpenFiles = 4;       // ERROR_TOO_MANY_OPEN_FILES
constexpr int32_t kErrorAccessDenied = 5;           // ERROR_ACCESS_DENIED
constexpr int32_t kErrorInvalidHandle = 6;          // ERROR_INVALID_HANDLE
constexpr int32_t kErrorNotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
constexpr int32_t kErrorGenFailure = 31;            // ERROR_GEN_FAILURE (device stopped working)
constexpr int32_t kErrorNotSupported = 50;          // ERROR_NOT_SUPPORTED
constexpr int32_t kErrorInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
constexpr int32_t kErrorFilenameTooLong = 206;      // ERROR_FILENAME_EXCED_RANGE
constexpr int32_t kErrorOperationAborted = 995;     // ERROR_OPERATION_ABORTED
constexpr int32_t kErrorIoIncomplete = 996;         // ERROR_IO_INCOMPLETE
constexpr int32_t kErrorIoPending = 997;            // ERROR_IO_PENDING
constexpr int32_t kErrorAlreadyInitialized = 1247;  // ERROR_ALREADY_INITIALIZED
constexpr int32_t kErrorTimeout = 1460;             // ERROR_TIMEOUT
constexpr int32_t kErrorInvalidArg = static_cast<int32_t>(0x80070057u);  // E_INVALIDARG

// Platform errors without a Windows counterpart are reported as errno with this bit set, so that
// they never collide with the codes above.
constexpr int32_t kErrnoFlag = 0x20000000;

// Communication events (event mask and received events).
constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvRxFlag = 0x0002;
constexpr uint32_t kEvBreak = 0x0040;
constexpr uint32_t kEvErr = 0x0080;

// Time-out meaning "wait for ever".
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Outcomes of a wait on an event.
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;

}  // namespace serial
