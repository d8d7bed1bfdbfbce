// The process-wide slot of one service (the OS, the telephony, the
// toolkit): the backend the host installed. Empty until it does: the host
// installs its backends, or the stand-ins (InstallStandIns, StandIns.h),
// before any logic runs.
#pragma once

namespace platform {

template <typename Service>
class ServiceSlot {
 public:
  // constexpr: the slots are set up before any code runs, with no static
  // constructor (Install.exe has no C runtime start-up to run one).
  constexpr ServiceSlot() = default;
  Service& Get() const { return *current_; }
  bool Empty() const { return current_ == nullptr; }
  // Installs service; returns the previous one.
  Service* Set(Service* service) {
    Service* previous = current_;
    current_ = service;
    return previous;
  }

 private:
  Service* current_ = nullptr;
};

}  // namespace platform
