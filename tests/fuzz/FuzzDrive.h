// A scratch drive for fuzz targets: one directory per process, emptied
// between inputs, on tmpfs when there is one.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>

namespace fuzz_drive {

[[noreturn]] void Die(const char* what, const std::string& name);

class Drive {
 public:
  Drive();   // empty; the current directory is restored on destruction
  ~Drive();
  const std::string& Root() const { return root_; }
  void Write(const char* name, const uint8_t* data, size_t size) const;
  // Writes the input as "data.sec" and unpacks it, as the installer does,
  // into "c:\ZUV_tmp" with the reader on the POSIX backend, the root as
  // the drive and the current directory; ExtractPackage's result.
  int Extract(const uint8_t* data, size_t size) const;
  // Every entry below the root (links not followed), with its path and
  // its name relative to the root ('/' separators).
  void Walk(const std::function<void(const std::string&, const std::string&, bool)>& visit) const;

 private:
  std::string root_;
  std::string cwd_;
};

}  // namespace fuzz_drive
