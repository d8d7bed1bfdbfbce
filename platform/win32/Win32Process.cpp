// The Win32 backend's claim and processes: what another process holds,
// the installers' machine-wide lock, the launch of the setup program and
// the probe for the driver's device.
#include <errno.h>
#include <windows.h>
#include <sddl.h>

#include "platform/win32/Win32Calls.h"
#include "platform/win32/Win32Os.h"
#include "platform/win32/Win32OsInternal.h"

namespace platform {

// Whether another process keeps what failed to open from being deleted
// now (InUse's answer): a file open without delete sharing, a directory
// that is its current one (SetCurrentDirectory's page: locked while
// current), or a running program's file, which refuses to be opened for
// writing. Nothing there is nothing held; any other refusal, access denied
// among them (a running program's file may be read-only), cannot tell.
int HeldElsewhere(DWORD error, HANDLE handle, bool* held) {
  *held = false;
  if (error == 0) {
    osCloseHandle(handle);
    return 0;
  }
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
    *held = true;
    return 0;
  }
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : ErrnoOf(error);
}

int Win32Os::InUse(const char* path, bool* held) {
  // Delete access is refused while anyone holds it without delete sharing,
  // and write access to a running program's file.
  const HANDLE handle = OpenNoFollow(path, DELETE | FILE_WRITE_DATA, kShareAll);
  return HeldElsewhere(handle == INVALID_HANDLE_VALUE ? osGetLastError() : 0, handle, held);
}

// The installers' lock: a mutex in a private namespace whose boundary is
// the Administrators group. Only a caller within that boundary (an
// elevated administrator) may create the namespace, and its descriptor lets
// only the Administrators and SYSTEM open it, so no standard user can
// create, hold or squat a name inside it, whatever they made in the global
// namespace. A namespace is named by its alias and boundary; this boundary
// holds no session, so the installers of every session name the same one.
namespace {

const char kLockNamespace[] = "UsbAdslModemInstaller";
const char kLockNamespaceSddl[] = "D:P(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace

const char* Win32Os::LockName() {
  FARPROC* calls = SystemCalls();
  for (int call = kCreateBoundaryDescriptorA; call <= kOpenPrivateNamespaceA; ++call) {
    // A system without private namespaces (Wine 8, whose are stubs; every
    // Windows that runs Install.exe has them): the global namespace, where
    // a squatter can only make installers refuse.
    if (calls[call] == nullptr) return "Global\\UsbAdslModemInstaller.ZUV_tmp";
  }
  if (lockNamespace_ == nullptr) {
    // S-1-5-32-544, the Administrators group, laid out as a SID.
    static const struct {
      BYTE revision;
      BYTE count;
      SID_IDENTIFIER_AUTHORITY authority;
      DWORD rids[2];
    } kAdministrators = {SID_REVISION, 2, SECURITY_NT_AUTHORITY,
                         {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}};
    PSID sid = const_cast<void*>(static_cast<const void*>(&kAdministrators));  // only read
    HANDLE boundary = osCreateBoundaryDescriptorA(kLockNamespace, 0);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (boundary != nullptr && osAddSIDToBoundaryDescriptor(&boundary, sid) &&
        osConvertStringSecurityDescriptorToSecurityDescriptorA(kLockNamespaceSddl, SDDL_REVISION_1,
                                                             &descriptor, nullptr)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
      lockNamespace_ =
          osCreatePrivateNamespaceA(&attributes, boundary, kLockNamespace);
      // Another installer made it: the same boundary and alias name it.
      if (lockNamespace_ == nullptr && osGetLastError() == ERROR_ALREADY_EXISTS) {
        lockNamespace_ = osOpenPrivateNamespaceA(boundary, kLockNamespace);
      }
      osLocalFree(descriptor);
    }
    if (boundary != nullptr) osDeleteBoundaryDescriptor(boundary);
  }
  // Held until the process ends, never closed before: once its creator's
  // handle is closed, nobody can open the namespace any more. Where it can
  // be neither made nor opened, no lock is had: the global name would not
  // meet the installers that use the namespace.
  return lockNamespace_ != nullptr ? "UsbAdslModemInstaller\\ZUV_tmp" : nullptr;
}

int Win32Os::LockInstall() {
  if (installLock_ != nullptr) return 0;
  const char* name = LockName();
  HANDLE mutex = name != nullptr ? osCreateMutexA(nullptr, FALSE, name) : nullptr;
  if (mutex == nullptr) return LastErrno();
  // Held only while another installer changes the tree, which it ends
  // soon. Abandoned: its holder ended without its clean-up; what it left is
  // examined like any leftover.
  const DWORD wait = osWaitForSingleObject(mutex, kLockWait);
  if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
    osCloseHandle(mutex);
    return EBUSY;
  }
  installLock_ = mutex;
  return 0;
}

void Win32Os::UnlockInstall() {
  if (installLock_ == nullptr) return;
  osReleaseMutex(installLock_);
  osCloseHandle(installLock_);
  installLock_ = nullptr;
}

int Win32Os::Launch(const char* commandLine) {
  // WinExec documents values above 31 as success; below, the error (0:
  // out of memory or resources).
  const UINT started = osWinExec(commandLine, SW_SHOWNORMAL);
  if (started > 31) return 0;
  return ErrnoOf(started != 0 ? started : ERROR_NOT_ENOUGH_MEMORY);
}

int Win32Os::OpenDevice(const char* name) {
  HANDLE device = osCreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
  if (device == INVALID_HANDLE_VALUE) return LastErrno();
  osCloseHandle(device);
  return 0;
}

}  // namespace platform
