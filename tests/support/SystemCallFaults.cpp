#include "tests/support/SystemCallFaults.h"

namespace testing_support {

void SystemCallFaults::Start(uint64_t failAt) {
  failAt_ = failAt;
  calls_ = 0;
  running_ = false;
  fired_ = false;
  failedCall_ = "";
  held_ = 0;
  startDescriptors_ = OpenDescriptors();
}

int64_t SystemCallFaults::Held() const { return held_ + OpenDescriptors() - startDescriptors_; }

bool SystemCallFaults::Next(const char* call) {
  if (!running_ || ++calls_ != failAt_) return false;
  fired_ = true;
  failedCall_ = call;
  return true;
}

}  // namespace testing_support
