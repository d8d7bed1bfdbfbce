// The process-wide slot of one service (the OS, the telephony, the
// toolkit): the backend the host installed, or a stand-in whose every
// call fails until it does.
#pragma once

namespace platform {

template <typename Service>
class Installed {
 public:
  // constexpr: the slots are set up before any code runs, with no static
  // constructor (Install.exe has no C runtime start-up to run one).
  constexpr explicit Installed(Service* standIn) : standIn_(standIn), current_(standIn) {}
  Service& Get() const { return *current_; }
  // Installs service (nullptr: the stand-in again); returns the previous one.
  Service* Set(Service* service) {
    Service* previous = current_;
    current_ = service != nullptr ? service : standIn_;
    return previous;
  }

 private:
  Service* standIn_;
  Service* current_;
};

}  // namespace platform
