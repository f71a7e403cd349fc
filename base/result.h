// Result codes: 0 for success, otherwise a Win32 error number. Only the front ends turn
// them into text.
#pragma once

#include <cstdint>

namespace quelvar {

using Result = uint32_t;

constexpr Result kSuccess = 0;
constexpr Result kErrorFileNotFound = 2;             // ERROR_FILE_NOT_FOUND
constexpr Result kErrorPathNotFound = 3;             // ERROR_PATH_NOT_FOUND
constexpr Result kErrorAccessDenied = 5;             // ERROR_ACCESS_DENIED
constexpr Result kErrorBadFormat = 11;               // ERROR_BAD_FORMAT
constexpr Result kErrorInvalidData = 13;             // ERROR_INVALID_DATA
constexpr Result kErrorOutOfMemory = 14;             // ERROR_OUTOFMEMORY
constexpr Result kErrorWriteFault = 29;              // ERROR_WRITE_FAULT
constexpr Result kErrorReadFault = 30;               // ERROR_READ_FAULT
constexpr Result kErrorSharingViolation = 32;        // ERROR_SHARING_VIOLATION
constexpr Result kErrorLockViolation = 33;           // ERROR_LOCK_VIOLATION
constexpr Result kErrorNotSupported = 50;            // ERROR_NOT_SUPPORTED
constexpr Result kErrorFileExists = 80;              // ERROR_FILE_EXISTS
constexpr Result kErrorInvalidParameter = 87;        // ERROR_INVALID_PARAMETER
constexpr Result kErrorOpenFailed = 110;             // ERROR_OPEN_FAILED
constexpr Result kErrorDiskFull = 112;               // ERROR_DISK_FULL
constexpr Result kErrorFilenameExcedRange = 206;     // ERROR_FILENAME_EXCED_RANGE
constexpr Result kErrorFileInvalid = 1006;           // ERROR_FILE_INVALID
constexpr Result kErrorCancelled = 1223;             // ERROR_CANCELLED
constexpr Result kErrorResourceDataNotFound = 1812;  // ERROR_RESOURCE_DATA_NOT_FOUND

}  // namespace quelvar
