// The SHA-256 of the "data.sec" an Install.exe was made for, from the
// build (INSTALLER_PACKAGE_SHA256, see app/CMakeLists.txt); nullptr in a
// build made without one. Defined in a source the build generates and
// links into Install.exe alone: the logic and its tests take the digest
// from InstallerState, where the process entry puts this one. A function,
// not a pointer constant: the 64-bit build would spend 32 bytes of its
// budget on the constant and the indirection to it.
#pragma once

const unsigned char* BuiltInPackageDigest();
