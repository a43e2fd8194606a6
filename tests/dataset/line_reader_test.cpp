#include "dataset/line_reader.h"

#include "support/format_test.h"

namespace clipra {
namespace {

const std::string kEnd(1, kEndOfFileChar);
using Strings = std::vector<std::string>;

TEST(LineReader, SplitsLinesDropsCarriageReturnsEndsForeverAndResets) {
  const struct {
    std::string bytes;
    Strings lines;
  } cases[] = {
      {"A\r\nB", {"A", "B", kEnd, kEnd}},
      {"A\nB\n", {"A", "B", kEnd}},
      {"one\r\n\r\ntwo\r\n", {"one", "", "two", kEnd}},  // an empty line is not the end
      {"\ra\rb\r", {"ab", kEnd}},
      {"  a\tb \x01\xE9\xFF \r\n", {"  a\tb \x01\xE9\xFF ", kEnd}},  // nothing else trimmed
      {"ab\x1A"
       "cd\n",
       {"ab", "cd", kEnd}},                    // control-Z mid-line ends the line
      {"x\n\x1Ayz", {"x", kEnd, "yz", kEnd}},  // at a line's start it is the end
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    dir.WriteFile("t.txt", c.bytes);
    LineReader reader(dir.Path("t.txt"));
    std::string line;
    for (const std::string& want : c.lines) EXPECT_EQ(want, reader.ReadLine(line));
    reader.Reset();  // back to the first byte
    EXPECT_EQ(c.lines[0], reader.ReadLine(line));
  }
}

TEST(LineReader, FilesThatCannotBeMappedRaiseTheirError) {
  TempDir dir;
  dir.WriteFile("empty.txt", "");
  const std::pair<std::string, const char*> cases[] = {{dir.Path("empty.txt"), "Open read error"},
                                                       {dir.Path("missing.txt"), "Open read error"},
                                                       {dir.path(), "Open read error"},
                                                       {"", "ReadLine error No file name"}};
  for (const auto& [name, message] : cases) {
    EXPECT_EQ(message, ThrownText<LineReaderError>([&] { LineReader reader(name); })) << name;
  }
}

}  // namespace
}  // namespace clipra
