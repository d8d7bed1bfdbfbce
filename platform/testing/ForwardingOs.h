// The doubles' pass-through: every operation of the table handed on to an
// inner backend, generated from the table's argument column, so that a new
// operation needs no body in a double unless the double simulates it.
//
// A double derives from ForwardingOs<Double> and decides what happens
// around each call in its
//   Pass(op, call, failure, arguments)
// where call() makes the inner backend's call, failure(error) fails the
// operation with error, its out-parameters left as the table's last
// column says, and
// arguments is a tuple of references to the call's arguments. The
// operations it simulates it overrides as usual.
#pragma once

#include <tuple>

#include "platform/Os.h"

namespace platform {

template <typename Double>
class ForwardingOs : public Os {
 public:
  explicit ForwardingOs(Os* inner) : inner_(inner) {}

#define PLATFORM_OS_FORWARD(name, result, parameters, arguments, cleared)            \
  result name parameters override {                                                 \
    return static_cast<Double*>(this)->Pass(                                        \
        Op::k##name, [&]() -> result { return inner_->name arguments; },            \
        [&](int error) -> result {                                                  \
          cleared;                                                                  \
          return static_cast<result>(error);                                        \
        },                                                                          \
        std::forward_as_tuple arguments);                                           \
  }
  PLATFORM_OS_OPERATIONS(PLATFORM_OS_FORWARD)
#undef PLATFORM_OS_FORWARD

 protected:
  ~ForwardingOs() = default;
  Os* inner_;
};

}  // namespace platform
