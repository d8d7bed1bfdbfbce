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
// Fails the test too when fewer than atLeast points (and always when no
// point) were reached: a sweep whose faults never fire passes every check
// of every run, so each sweep states how many points its work is known to
// have. Returns how many points were reached.
template <typename Run>
uint64_t SweepPoints(uint64_t atLeast, uint64_t limit, Run run) {
  uint64_t n = 1;
  for (; n <= limit; ++n) {
    SCOPED_TRACE(n);
    if (!run(n)) break;
  }
  const uint64_t points = n - 1;
  EXPECT_LE(n, limit) << "the work did not end within " << limit << " points";
  EXPECT_GE(points, atLeast > 0 ? atLeast : 1)
      << "the sweep reached fewer points than its work is known to have: did its faults fire?";
  printf("%llu points swept\n", static_cast<unsigned long long>(points));
  return points;
}

}  // namespace testing_support
