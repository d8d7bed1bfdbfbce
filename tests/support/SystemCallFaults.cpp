#include "tests/support/SystemCallFaults.h"

namespace testing_support {

bool SystemCallFaults::Next(const char* call) {
  if (!running_ || ++calls_ != failAt_) return false;
  fired_ = true;
  failedCall_ = call;
  return true;
}

}  // namespace testing_support
