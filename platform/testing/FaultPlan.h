// Which calls of a test double fail: the Nth call of any operation, the
// Nth call of one operation, or every call of an operation, each with the
// value the double then returns where it has a choice. Calls are counted
// from 1. Shared by the recording OS and the scripted telephony.
#pragma once

#include <stdint.h>

#include <map>
#include <utility>
#include <vector>

namespace platform {

template <typename Operation>
class FaultPlan {
 public:
  void FailNth(uint64_t n) { failAt_ = n; }
  void FailNthOf(Operation op, uint64_t n, int32_t result = -1) { failOpAt_[{op, n}] = result; }
  void FailEvery(Operation op, int32_t result = -1) { failEvery_[op] = result; }
  void Clear() {
    failAt_ = 0;
    failOpAt_.clear();
    failEvery_.clear();
    fired_ = false;
  }
  // Counting starts again, as for a fresh log.
  void ResetCounts() {
    calls_ = 0;
    perOp_.clear();
  }
  bool Fired() const { return fired_; }

  // Counts one call of op; true when it is to fail, with *result set to the
  // value given for it.
  bool Next(Operation op, int32_t* result) {
    const uint64_t nth = ++perOp_[op];
    bool fail = ++calls_ == failAt_;
    *result = -1;
    if (const auto at = failOpAt_.find({op, nth}); at != failOpAt_.end()) {
      *result = at->second;
      fail = true;
    } else if (const auto every = failEvery_.find(op); every != failEvery_.end()) {
      *result = every->second;
      fail = true;
    }
    fired_ = fired_ || fail;
    return fail;
  }

 private:
  uint64_t calls_ = 0;
  std::map<Operation, uint64_t> perOp_;
  uint64_t failAt_ = 0;
  std::map<std::pair<Operation, uint64_t>, int32_t> failOpAt_;
  std::map<Operation, int32_t> failEvery_;
  bool fired_ = false;
};

// The doubles' call logs: the calls of one operation, and the operations
// in the order they were called.
template <typename Call, typename Operation>
std::vector<Call> CallsOfOp(const std::vector<Call>& calls, Operation op) {
  std::vector<Call> result;
  for (const Call& call : calls) {
    if (call.op == op) result.push_back(call);
  }
  return result;
}

template <typename Call>
auto OpsOf(const std::vector<Call>& calls) {
  std::vector<decltype(Call::op)> result;
  for (const Call& call : calls) result.push_back(call.op);
  return result;
}

}  // namespace platform
