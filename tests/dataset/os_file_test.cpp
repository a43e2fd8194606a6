#include "dataset/os_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <utility>

#include "support/temp_dir.h"

namespace clipra {
namespace {

// Truncating a file that a reader has mapped would take its pages away and
// end the process at the reader's next touch.
TEST(OsFile, CreatingAFileHeldOpenForReadingIsRefused) {
  TempDir dir;
  const std::string path = dir.Path("cells");
  dir.WriteFile("cells", "abcdef");
  OsFile reader;
  ASSERT_EQ(0, reader.Open(path, FileAccess::kRead));
  OsFile writer;
  EXPECT_EQ(EBUSY, writer.Open(path, FileAccess::kCreate));
  EXPECT_EQ("abcdef", dir.ReadFile("cells"));

  // The listing follows the descriptor when it moves, and ends with it.
  OsFile moved(std::move(reader));
  reader.Close();
  EXPECT_EQ(EBUSY, writer.Open(path, FileAccess::kCreate));
  moved.Close();
  EXPECT_EQ(0, writer.Open(path, FileAccess::kCreate));
  EXPECT_EQ("", dir.ReadFile("cells"));
}

TEST(OsFile, TwoReadersOfOneFileBothHoldIt) {
  TempDir dir;
  const std::string path = dir.Path("cells");
  dir.WriteFile("cells", "xy");
  OsFile a, b, writer;
  ASSERT_EQ(0, a.Open(path, FileAccess::kRead));
  ASSERT_EQ(0, b.Open(path, FileAccess::kReadWrite));
  a.Close();
  EXPECT_EQ(EBUSY, writer.Open(path, FileAccess::kCreate));
  b.Close();
  EXPECT_EQ(0, writer.Open(path, FileAccess::kCreate));
}

}  // namespace
}  // namespace clipra
