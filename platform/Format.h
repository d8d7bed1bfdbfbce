// The one formatter of the installer's diagnostics, on every platform:
// the product's Windows backend, the native one and the test doubles all
// write text made here, so what the tests see is what the product prints.
#pragma once

#include <stdarg.h>
#include <stddef.h>

namespace platform {

// printf-style, for %s, %d, %u, %x, %c and %% (a null %s is "(null)");
// any other conversion is copied as it stands. Writes at most size - 1
// characters and the zero (size at least 1), cutting what does not fit.
// Returns the length written.
size_t FormatText(char* out, size_t size, const char* format, va_list args);

}  // namespace platform
