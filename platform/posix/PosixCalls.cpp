#include "platform/posix/PosixCalls.h"

#include <fcntl.h>

namespace platform {
namespace {

// Each call as the system has it (open and openat take their mode always).
#define PLATFORM_POSIX_SYSTEM_CALL(name, result, parameters, arguments, failure) \
  result System_##name parameters { return ::name arguments; }
PLATFORM_POSIX_CALLS(PLATFORM_POSIX_SYSTEM_CALL)
#undef PLATFORM_POSIX_SYSTEM_CALL

}  // namespace

PosixCalls gPosixCalls = {
#define PLATFORM_POSIX_CALL_DEFAULT(name, result, parameters, arguments, failure) System_##name,
    PLATFORM_POSIX_CALLS(PLATFORM_POSIX_CALL_DEFAULT)
#undef PLATFORM_POSIX_CALL_DEFAULT
};

}  // namespace platform
