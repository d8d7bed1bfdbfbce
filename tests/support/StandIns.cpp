// Linked into every test program as an object of its own, so that it runs:
// each test program starts with the stand-ins in every slot it does not
// fill itself (platform/StandIns.h).
#include "platform/StandIns.h"

namespace {

struct StandInsFirst {
  StandInsFirst() { platform::InstallStandIns(); }
} gStandInsFirst;

}  // namespace
