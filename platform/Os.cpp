#include "platform/Os.h"

#include <errno.h>
#include <stdarg.h>

#include "platform/Format.h"
#include "platform/ServiceSlot.h"
#include "platform/StandIns.h"

namespace platform {
namespace {

// The stand-in (StandIns.h): every operation fails.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
class NoOs final : public Os {
 public:
#define PLATFORM_NO_OS(name, result, parameters, arguments, cleared) \
  result name parameters override {                                    \
    cleared;                                                           \
    return static_cast<result>(ENOSYS);                                \
  }
  PLATFORM_OS_OPERATIONS(PLATFORM_NO_OS)
#undef PLATFORM_NO_OS
};
#pragma GCC diagnostic pop

NoOs gNoOs;
ServiceSlot<Os> gOs;

}  // namespace

void InstallStandInOs() {
  if (gOs.Empty()) gOs.Set(&gNoOs);
}

void InstallStandIns() {
  InstallStandInOs();
  InstallStandInTelephony();
  InstallStandInToolkit();
}

Os& GetOs() { return gOs.Get(); }
Os* SetOs(Os* os) { return gOs.Set(os); }

void PrintDiagnostic(const char* format, ...) {
  char text[kDiagnosticSize];
  va_list args;
  va_start(args, format);
  FormatText(text, sizeof text, format, args);
  va_end(args);
  gOs.Get().Print(text);
}

const char* OpName(Op op) {
  static const char* const kNames[] = {
#define PLATFORM_OS_OP_NAME(name, result, parameters, arguments, cleared) #name,
      PLATFORM_OS_OPERATIONS(PLATFORM_OS_OP_NAME)
#undef PLATFORM_OS_OP_NAME
  };
  const int index = static_cast<int>(op);
  return index >= 0 && index < static_cast<int>(Op::kCount) ? kNames[index] : "?";
}

}  // namespace platform
