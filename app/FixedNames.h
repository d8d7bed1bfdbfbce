// The installer's fixed names, in one place for app/ and for secpack, which
// checks a package for the setup program the installer will start.
#pragma once

// Where the package is unpacked, and where the clean-up leaves the current
// directory before removing it.
inline constexpr char kExtractDirectory[] = "c:\\ZUV_tmp";
inline constexpr char kDriveRoot[] = "c:\\";
// The package archive, looked up in the directory the installer started in.
inline constexpr char kArchiveName[] = "data.sec";
// Appended to kExtractDirectory to name the vendor's setup program.
inline constexpr char kSetupProgram[] = "\\Setup.exe";
// The modem driver's device; it can be opened once the driver is loaded.
inline constexpr char kDeviceName[] = "\\\\.\\ADSLUSB";
