// The diagnostics' one formatter: what every backend prints.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdarg.h>

#include <string>

#include "platform/Format.h"

namespace {

std::string Format(size_t size, const char* format, ...) {
  char text[64];
  va_list args;
  va_start(args, format);
  const size_t length = platform::FormatText(text, size, format, args);
  va_end(args);
  EXPECT_EQ(length, std::string(text).size());
  return text;
}

TEST(FormatText, TheConversionsOfTheDiagnosticsAndNothingMore) {
  EXPECT_EQ("stat fail \"a b\" : 13\n", Format(64, "stat fail \"%s\" : %d\n", "a b", 13));
  EXPECT_EQ("-2147483648 0 4294967295 ff x 100%", Format(64, "%d %d %u %x %c 100%%", INT_MIN, 0,
                                                         UINT_MAX, 255u, 'x'));
  EXPECT_EQ("(null)", Format(64, "%s", static_cast<const char*>(nullptr)));
  // A name in the customer's code page: bytes above 0x7F are text too.
  EXPECT_EQ("open file Donn\xE9""es fail\n", Format(64, "open file %s fail\n", "Donn\xE9""es"));
  // Anything else stands as written, rather than reading an argument.
  EXPECT_EQ("%lld %5s %", Format(64, "%lld %5s %"));
  // Cut to the buffer, always terminated.
  EXPECT_EQ("data.s", Format(7, "%s file not found", "data.sec"));
  EXPECT_EQ("", Format(1, "%d", 7));
}

}  // namespace
