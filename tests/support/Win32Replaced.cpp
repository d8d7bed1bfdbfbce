#include "tests/support/Win32Replaced.h"

#include <gtest/gtest.h>
#include <string.h>

namespace testing_support {
namespace {

const char* const kNames[] = {
#define CALL_NAME(name, result, parameters, arguments, failure) #name,
    PLATFORM_WIN32_CALLS(CALL_NAME)
#undef CALL_NAME
};

// The import address table's entry for name in this program: the loader
// filled it, and every call of the import in the program goes through it.
FARPROC* ImportSlot(const char* name) {
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       dll->Name != 0; ++dll) {
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; dll->OriginalFirstThunk != 0 && names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0) {
        return reinterpret_cast<FARPROC*>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

}  // namespace

const char* NameOf(platform::Win32Call call) { return kNames[call]; }

FARPROC* SlotOf(platform::Win32Call call) {
  if (call < platform::kLookedUpCallCount) return &platform::SystemCalls()[call];
  FARPROC* slot = ImportSlot(NameOf(call));
  if (slot == nullptr) ADD_FAILURE() << NameOf(call) << " is not imported by this program";
  return slot;
}

void WriteSlot(FARPROC* slot, FARPROC value) {
  if (slot == nullptr) return;
  DWORD protection;
  VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection);
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
}

}  // namespace testing_support
