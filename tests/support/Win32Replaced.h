// One entry of the Win32 backend's system-call table (platform/win32/
// Win32Calls.h) replaced for a scope: an import, in this program's import
// address table, or a looked-up call, in SystemCalls().
#pragma once

#include <windows.h>

#include <cstddef>

#include "platform/win32/Win32Calls.h"

namespace testing_support {

// Where the process takes the call from; nullptr (with a test failure)
// when this program does not import it.
FARPROC* SlotOf(platform::Win32Call call);

// The name of a call of the table.
const char* NameOf(platform::Win32Call call);

// Writes an entry, import address table or not.
void WriteSlot(FARPROC* slot, FARPROC value);

class Replaced {
 public:
  template <typename Fn>
  Replaced(platform::Win32Call call, Fn replacement) : Replaced(call) {
    WriteSlot(slot_, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(replacement)));
  }
  // As a system that lacks the call.
  Replaced(platform::Win32Call call, std::nullptr_t) : Replaced(call) { WriteSlot(slot_, nullptr); }
  ~Replaced() { WriteSlot(slot_, saved_); }
  Replaced(const Replaced&) = delete;
  Replaced& operator=(const Replaced&) = delete;

  // What the entry held before: the system's own call, for a replacement
  // that passes the call on (calling it by name would come back here).
  template <platform::Win32Call call>
  static typename platform::Win32CallType<call>::Fn Original(const Replaced& replaced) {
    return reinterpret_cast<typename platform::Win32CallType<call>::Fn>(
        reinterpret_cast<void (*)()>(replaced.saved_));
  }

 private:
  explicit Replaced(platform::Win32Call call)
      : slot_(SlotOf(call)), saved_(slot_ != nullptr ? *slot_ : nullptr) {}
  FARPROC* slot_;
  FARPROC saved_;
};

}  // namespace testing_support
