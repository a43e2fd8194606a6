#include "dataset/os_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iterator>

#include "support/format_test.h"

namespace clipra {
namespace {

// Truncating a file that a reader has mapped would take its pages away and
// end the process at the reader's next touch.
TEST(OsFile, CreatingAFileHeldOpenForReadingIsRefused) {
  TempDir dir;
  const std::string path = dir.Path("cells");
  dir.WriteFile("cells", "abcdef");
  OsFile reader, other, writer;
  ASSERT_EQ(0, reader.Open(path, FileAccess::kRead));
  ASSERT_EQ(0, other.Open(path, FileAccess::kReadWrite));
  other.Close();  // one reader closing leaves the other's hold
  EXPECT_EQ(EBUSY, writer.Open(path, FileAccess::kCreate));
  EXPECT_EQ("abcdef", dir.ReadFile("cells"));
  // The hold follows the descriptor when it moves, and ends with it.
  OsFile moved(std::move(reader));
  reader.Close();
  EXPECT_EQ(EBUSY, writer.Open(path, FileAccess::kCreate));
  moved.Close();
  EXPECT_EQ(0, writer.Open(path, FileAccess::kCreate));
  EXPECT_EQ(0, writer.Commit());
  EXPECT_EQ("", dir.ReadFile("cells"));
}

// A creation that fails half way (a full disk) must leave the folder as it
// was: the new file takes its name, and replaces the old one, only on Commit.
TEST(OsFile, CreatedFileReplacesTheOldOneOnlyOnCommit) {
  TempDir dir;
  dir.WriteFile("target", "old");
  ASSERT_EQ(0, ::chmod(dir.Path("target").c_str(), 0640));
  ASSERT_EQ(0, ::symlink("target", dir.Path("link").c_str()));
  for (const char* name : {"new", "target", "link"}) {
    {
      OsFile abandoned;
      ASSERT_EQ(0, abandoned.Open(dir.Path(name), FileAccess::kCreate));
      ASSERT_EQ(3, ::write(abandoned.fd(), "abc", 3));
    }
    EXPECT_EQ("old", dir.ReadFile("target")) << name;
    EXPECT_EQ(2, std::distance(std::filesystem::directory_iterator(dir.path()),
                               std::filesystem::directory_iterator()))
        << name;
  }
  OsFile made;
  ASSERT_EQ(0, made.Open(dir.Path("link"), FileAccess::kCreate));
  ASSERT_EQ(3, ::write(made.fd(), "new", 3));
  ASSERT_EQ(0, made.Commit());
  made.Close();
  // The link still leads to the file it named, which keeps its permissions.
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link")));
  EXPECT_EQ("new", dir.ReadFile("target"));
  struct stat st {};
  ASSERT_EQ(0, ::stat(dir.Path("target").c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
}

}  // namespace
}  // namespace clipra
