// Stands in for the vendor's setup program inside test and demo packages.
// It records that it ran, with its command line and current directory, in
// c:\standin-log.txt (outside the extraction directory, which the
// installer removes); after a delay it "loads the driver" by making the
// device "\\.\ADSLUSB" exist, and ends. The scripts read that record
// through scripts/shell-lib.sh (standin_...), the process tests directly.
//
// "standin.ini" beside it, in the package, can change that:
//   [standin]
//   delay=3000     milliseconds before the device is made
//   device=1       0: make no device
//   linger=0       milliseconds to keep running afterwards
#include <windows.h>

namespace {

const char kLog[] = "c:\\standin-log.txt";

void Record(const char* text) {
  HANDLE log = CreateFileA(kLog, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, text, lstrlenA(text), &written, nullptr);
  CloseHandle(log);
}

struct UnicodeString {
  USHORT length;
  USHORT maximumLength;
  const wchar_t* buffer;
};

struct ObjectAttributes {
  ULONG length;
  HANDLE rootDirectory;
  UnicodeString* objectName;
  ULONG attributes;
  void* securityDescriptor;
  void* securityQualityOfService;
};

using CreateSymbolicLink = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, ObjectAttributes*, UnicodeString*);

UnicodeString Counted(const wchar_t* text) {
  const USHORT bytes = static_cast<USHORT>(lstrlenW(text) * sizeof(wchar_t));
  return UnicodeString{bytes, bytes, text};
}

// A permanent link \DosDevices\ADSLUSB -> \Device\Null, as a loaded driver
// would leave its device; it outlives this program. (DefineDosDevice would
// do, but crashes its caller under Wine 8.) Returns the NT status.
LONG MakeDevice() {
  const auto create = reinterpret_cast<CreateSymbolicLink>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtCreateSymbolicLinkObject")));
  if (create == nullptr) return -1;
  UnicodeString name = Counted(L"\\DosDevices\\ADSLUSB");
  UnicodeString target = Counted(L"\\Device\\Null");
  const ULONG kPermanent = 0x10, kCaseInsensitive = 0x40;
  ObjectAttributes attributes = {sizeof attributes, nullptr, &name, kPermanent | kCaseInsensitive,
                                 nullptr, nullptr};
  HANDLE link = nullptr;
  const LONG status = create(&link, 0xF0001 /* SYMBOLIC_LINK_ALL_ACCESS */, &attributes, &target);
  if (status >= 0) CloseHandle(link);
  return status;
}

// Waits on the message queue, as a setup program showing its window does:
// the installer's WinExec returns only once the program it started waits
// for input like that (or has ended, or after 30 s).
void Pause(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (DWORD spent = 0; spent < milliseconds; spent = GetTickCount() - start) {
    if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT) ==
        WAIT_OBJECT_0) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char directory[MAX_PATH + 1] = "?";
  const DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) lstrcpyA(directory, "?");
  // One write, so that a reader never sees half of it.
  char record[1024];
  wsprintfA(record, "ran\r\ncommand line: %.600s\r\ncurrent directory: %s\r\n", GetCommandLineA(),
            directory);
  Record(record);

  // The knobs, beside the program itself.
  char ini[MAX_PATH + 16];
  const DWORD size = GetModuleFileNameA(nullptr, ini, MAX_PATH);
  if (size == 0 || size >= MAX_PATH) return 1;
  char* slash = ini + size;
  while (slash > ini && slash[-1] != '\\') --slash;
  lstrcpyA(slash, "standin.ini");
  const UINT delay = GetPrivateProfileIntA("standin", "delay", 3000, ini);
  const bool device = GetPrivateProfileIntA("standin", "device", 1, ini) != 0;
  const UINT linger = GetPrivateProfileIntA("standin", "linger", 0, ini);

  if (device) {
    Pause(delay);
    const LONG status = MakeDevice();
    char line[64];
    wsprintfA(line, status >= 0 ? "device made\r\n" : "device failed: 0x%08lx\r\n", status);
    Record(line);
  }
  Pause(linger);
  Record("ended\r\n");
  return 0;
}
