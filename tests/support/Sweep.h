// The sweeps' loop: one run per point n = 1, 2, ... (the call after which
// a fault or a swap comes), until a run never reaches its point, which
// means every point of the work has had its run.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>

namespace testing_support {

// run(n) returns whether it reached point n. Stops after limit runs at the
// most, failing the test then: the work should have ended long before.
// Returns how many points were reached.
template <typename Run>
uint64_t SweepPoints(uint64_t limit, Run run) {
  uint64_t n = 1;
  for (; n <= limit; ++n) {
    SCOPED_TRACE(n);
    if (!run(n)) break;
  }
  EXPECT_LE(n, limit) << "the work did not end within " << limit << " points";
  printf("%llu points swept\n", static_cast<unsigned long long>(n - 1));
  return n - 1;
}

}  // namespace testing_support
