// Files as every backend reads them: reading ahead must not show.
#include <errno.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/HostOs.h"
#include "tests/support/Bytes.h"
#include "tests/support/Sha256Of.h"
#include "tests/support/TestDrive.h"

namespace {

using platform::SeekFrom;
using testing_support::TestDrive;

// Reads and seeks of every kind against the same bytes held in memory:
// positions and contents agree whether a request falls inside, across or
// beyond the block read ahead.
TEST(BackendFiles, ReadsAndSeeksSeeTheFileAsItIs) {
  TestDrive drive;
  std::string content(300 * 1024 + 123, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + (i >> 9));
  drive.WriteFile("f", content);
  platform::Os& os = drive.backend();
  platform::File file;
  ASSERT_EQ(0, os.OpenRead("f", &file));
  const int64_t size = static_cast<int64_t>(content.size());
  int64_t position = 0;
  uint32_t random = 12345;
  std::string buffer(200 * 1024, '\0');
  for (int step = 0; step < 400; ++step) {
    random = random * 1103515245 + 12345;
    const uint32_t pick = random >> 8;
    if (pick % 3 == 0) {
      const SeekFrom from = static_cast<SeekFrom>(pick % 9 / 3);
      const int64_t base = from == SeekFrom::kStart ? 0 : from == SeekFrom::kCurrent ? position : size;
      const int64_t offset = static_cast<int64_t>(pick >> 4) % (size + 1) - base;
      int64_t now = -1;
      ASSERT_EQ(0, os.Seek(file, offset, from, &now)) << "step " << step;
      ASSERT_EQ(base + offset, now) << "step " << step;
      position = base + offset;
    } else {
      const int32_t want = static_cast<int32_t>((pick >> 3) % (pick % 2 ? 300 : 150 * 1024));
      const int32_t expected = static_cast<int32_t>(std::min<int64_t>(want, size - position));
      int32_t got = -1;
      ASSERT_EQ(0, os.Read(file, &buffer[0], want, &got)) << "step " << step;
      ASSERT_EQ(expected, got) << "step " << step;
      ASSERT_EQ(0, content.compare(position, expected, buffer, 0, expected)) << "step " << step;
      position += expected;
    }
  }
  int64_t now = -1;
  EXPECT_EQ(EINVAL, os.Seek(file, -1, SeekFrom::kStart, &now));
  EXPECT_EQ(0, now);
  EXPECT_EQ(0, os.Seek(file, 0, SeekFrom::kCurrent, &now));
  EXPECT_EQ(position, now);
  os.Close(file);
}

// The copy and its digest are of the whole file whatever was read before
// (the backend's digest against Sha256.h's of its bytes), and reading goes
// on after a seek.
TEST(BackendFiles, DigestCopyIsOfTheWholeFileAndReadingGoesOnAfterASeek) {
  TestDrive drive;
  platform::Os& os = drive.backend();
  for (const std::string& content : {std::string(), testing_support::BytePattern(300 * 1024 + 5, 9)}) {
    drive.WriteFile("f", content);
    platform::File file;
    platform::File copy;
    ASSERT_EQ(0, os.OpenRead("f", &file));
    ASSERT_EQ(0, os.OpenWrite("g", &copy));
    char head[100];
    int32_t got = -1;
    EXPECT_EQ(0, os.Read(file, head, sizeof head, &got));
    EXPECT_EQ(std::min<int32_t>(100, content.size()), got);
    unsigned char digest[32];
    ASSERT_EQ(0, os.DigestCopy(file, copy, digest));
    os.Close(copy);
    EXPECT_EQ(testing_support::Hex(testing_support::Sha256Of(content)),
              testing_support::Hex(std::string(reinterpret_cast<char*>(digest), sizeof digest)));
    std::string copied;
    ASSERT_TRUE(drive.ReadFile("g", &copied));
    EXPECT_TRUE(copied == content);
    int64_t position = -1;
    ASSERT_EQ(0, os.Seek(file, 1000, SeekFrom::kStart, &position));
    ASSERT_EQ(1000, position);
    std::string next(200, '\0');
    ASSERT_EQ(0, os.Read(file, &next[0], 200, &got));
    next.resize(got);
    EXPECT_EQ(content.substr(std::min<size_t>(1000, content.size()), 200), next);
    os.Close(file);
  }
}

// The process's backend as the build chose it, for the tools: it takes the
// host's own absolute paths.
TEST(BackendFiles, HostOsTakesTheHostsOwnPaths) {
  TestDrive drive;
  drive.WriteFile("f", "host");
  platform::Os& os = platform::HostOs();
  platform::File file;
  ASSERT_EQ(0, os.OpenRead(drive.Native("f").c_str(), &file));
  char text[8];
  int32_t got = -1;
  EXPECT_EQ(0, os.Read(file, text, sizeof text, &got));
  EXPECT_EQ(4, got);
  EXPECT_EQ("host", std::string(text, 4));
  os.Close(file);
}

}  // namespace
