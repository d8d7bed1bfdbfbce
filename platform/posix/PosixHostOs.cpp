#include "platform/HostOs.h"
#include "platform/PosixOs.h"

namespace platform {

Os& HostOs() {
  static PosixOs os("/");
  return os;
}

}  // namespace platform
