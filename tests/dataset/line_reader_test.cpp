#include "dataset/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace clipra {
namespace {

const std::string kEnd(1, kEndOfFileChar);

class LineReaderTest : public ::testing::Test {
 protected:
  // The first `count` results of ReadLine over a file holding `bytes`.
  std::vector<std::string> Lines(const std::string& bytes, int count) {
    dir_.WriteFile("t.txt", bytes);
    LineReader reader(dir_.Path("t.txt"));
    std::vector<std::string> lines;
    std::string line;
    for (int i = 0; i < count; ++i) {
      const std::string& returned = reader.ReadLine(line);
      EXPECT_EQ(&line, &returned);
      lines.push_back(line);
    }
    return lines;
  }
  TempDir dir_;
};

using Strings = std::vector<std::string>;

TEST_F(LineReaderTest, SplitsOnLineFeedsAndEndsForever) {
  EXPECT_EQ((Strings{"A", "B", kEnd, kEnd, kEnd}), Lines("A\r\nB", 5));
  EXPECT_EQ((Strings{"A", "B", kEnd}), Lines("A\nB\n", 3));
}

TEST_F(LineReaderTest, EmptyLineIsNotTheEnd) {
  EXPECT_EQ((Strings{"one", "", "two", kEnd}), Lines("one\r\n\r\ntwo\r\n", 4));
  EXPECT_EQ((Strings{"", kEnd}), Lines("\n", 2));
}

TEST_F(LineReaderTest, CarriageReturnsAreDroppedAnywhere) {
  EXPECT_EQ((Strings{"xy", kEnd}), Lines("x\ry\n", 2));
  EXPECT_EQ((Strings{"ab", kEnd}), Lines("\ra\rb\r", 2));
}

TEST_F(LineReaderTest, NothingElseIsTranslatedOrTrimmed) {
  const std::string line = "  a\tb \x01\xE9\xFF ";
  EXPECT_EQ((Strings{line, kEnd}), Lines(line + "\r\n", 2));
}

TEST_F(LineReaderTest, ControlZEndsALineOrTheFile) {
  // Mid-line it ends the line like a line feed; reading goes on after it.
  EXPECT_EQ((Strings{"ab", "cd", kEnd}), Lines("ab\x1A"
                                               "cd\n",
                                               3));
  // At the start of a line it gives the end, though bytes follow.
  EXPECT_EQ((Strings{"x", kEnd, "yz", kEnd}), Lines("x\n\x1Ayz", 4));
}

TEST_F(LineReaderTest, ReadCharAnswersTheEndPastTheLastByte) {
  dir_.WriteFile("t.txt", "ab");
  LineReader reader(dir_.Path("t.txt"));
  EXPECT_EQ(-1, reader.Index);
  char ch = 0;
  EXPECT_EQ('a', reader.ReadChar(ch));
  EXPECT_EQ('a', ch);
  EXPECT_EQ('b', reader.ReadChar(ch));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(kEndOfFileChar, reader.ReadChar(ch));
    EXPECT_EQ(kEndOfFileChar, reader.LastChar);
  }
}

TEST_F(LineReaderTest, ResetStartsAgainFromTheFirstByte) {
  dir_.WriteFile("t.txt", "first\nsecond\n");
  LineReader reader(dir_.Path("t.txt"));
  std::string line;
  EXPECT_EQ("first", reader.ReadLine(line));
  EXPECT_EQ("second", reader.ReadLine(line));
  EXPECT_TRUE(LineReader::IsEndOfFile(reader.ReadLine(line)));
  reader.Reset();
  EXPECT_EQ(-1, reader.Index);
  EXPECT_EQ(0, reader.LastChar);
  EXPECT_EQ("first", reader.ReadLine(line));
}

TEST_F(LineReaderTest, FilesThatCannotBeMappedRaiseOpenReadError) {
  dir_.WriteFile("empty.txt", "");
  for (const std::string& name : {dir_.Path("empty.txt"), dir_.Path("missing.txt"), dir_.path()}) {
    try {
      LineReader reader(name);
      ADD_FAILURE() << "no exception for " << name;
    } catch (const LineReaderError& e) {
      EXPECT_STREQ("Open read error", e.what()) << name;
    }
  }
}

TEST_F(LineReaderTest, EmptyNameRaisesNoFileName) {
  try {
    LineReader reader("");
    FAIL() << "no exception";
  } catch (const LineReaderError& e) {
    EXPECT_STREQ("ReadLine error No file name", e.what());
  }
}

}  // namespace
}  // namespace clipra
