#include "app/core/job.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <map>

#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

// Runs one job on this thread and returns its status text.
std::string RunJob(const std::string& source, const std::string& output, ExtractOptions o,
                   bool cell_by_cell = false, std::function<void(ExtractJob&)> prepare = {}) {
  AbortRequested = false;
  ExtractJob job(source, output, o, nullptr);
  job.CellByCell = cell_by_cell;
  if (prepare) prepare(job);
  job.Run();
  EXPECT_FALSE(Busy);
  return job.StatusText;
}

// Every file in `folder` with its bytes.
std::map<std::string, std::string> Snapshot(const TempDir& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    files[entry.path().filename().string()] = folder.ReadFile(entry.path().filename().string());
  return files;
}

// Runs `body` in a forked child so that process limits set there stay there.
int ExitCodeOfChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

ExtractOptions Rect(double tlx, double tly, double brx, double bry, uint32_t bgr = 0) {
  ExtractOptions o;
  o.TopLeftX = tlx;
  o.TopLeftY = tly;
  o.BotRightX = brx;
  o.BotRightY = bry;
  o.BgrColor = bgr;
  return o;
}

class JobTest : public ::testing::Test {
 protected:
  // A 6 x 4 source of cell size 10 whose cell (0, 0) lies at (1000, 2000).
  std::string MakeSource(uint32_t bands = 1, const std::string& cell_type = "Unsigned8BitInteger",
                         const std::string& cell_x = "10", const std::string& cell_y = "10") {
    ErsSource s;
    s.width = 6;
    s.lines = 4;
    s.bands = bands;
    s.cell_type = cell_type;
    s.cell_size_x = cell_x;
    s.cell_size_y = cell_y;
    s.eastings = "1000";
    s.northings = "2000";
    s.data = MakeCells(s, Pattern);
    const std::string base = dir_.Path("src" + std::to_string(counter_++));
    s.Write(base);
    return base + ".ers";
  }

  std::vector<float> Cells(const std::string& path, uint32_t* w = nullptr, uint32_t* h = nullptr,
                           uint32_t* b = nullptr) {
    return ReadAllCells(path, w, h, b);
  }

  TempDir dir_;
  int counter_ = 0;
};

TEST_F(JobTest, GridSizeTruncatesAndAddsOne) {
  const std::string src = MakeSource();
  uint32_t w = 0, h = 0;
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("a.ers"), Rect(1000, 2000, 1100, 2000)));
  Cells(dir_.Path("a.ers"), &w, &h);
  EXPECT_EQ(11u, w);
  EXPECT_EQ(1u, h);
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("b.ers"), Rect(1000, 2000, 1099.9, 1990)));
  Cells(dir_.Path("b.ers"), &w, &h);
  EXPECT_EQ(10u, w);
  EXPECT_EQ(2u, h);
}

TEST_F(JobTest, NearestCellWithUncoveredCellsZero) {
  const std::string src = MakeSource();
  // From one cell left of the source to one cell past its right edge.
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("o.ers"), Rect(990, 2000, 1060, 1990)));
  uint32_t w = 0;
  const std::vector<float> c = Cells(dir_.Path("o.ers"), &w);
  ASSERT_EQ(8u, w);
  const std::vector<float> want = {0, 1, 2, 3, 4, 5, 6, 0, 0, 17, 18, 19, 20, 21, 22, 0};
  EXPECT_EQ(want, c);
}

TEST_F(JobTest, ReversedCornersStillStartTopLeft) {
  const std::string src = MakeSource();
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("r.ers"), Rect(1010, 1990, 990, 2010)));
  uint32_t w = 0, h = 0;
  const std::vector<float> c = Cells(dir_.Path("r.ers"), &w, &h);
  ASSERT_EQ(3u, w);
  ASSERT_EQ(3u, h);
  // Runs towards increasing X and decreasing Y from (1010, 1990).
  EXPECT_EQ((std::vector<float>{18, 19, 20, 34, 35, 36, 50, 51, 52}), c);
}

TEST_F(JobTest, ColourPathFillsBackgroundAllAround) {
  const std::string src = MakeSource(3);
  const uint32_t bgr = 10 | (20 << 8) | (30 << 16);
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("c.ers"), Rect(990, 2010, 1060, 1960, bgr)));
  uint32_t w = 0, h = 0;
  const std::vector<float> c = Cells(dir_.Path("c.ers"), &w, &h);
  ASSERT_EQ(8u, w);
  ASSERT_EQ(6u, h);
  auto at = [&](uint32_t x, uint32_t y, uint32_t b) { return c[(y * 3 + b) * w + x]; };
  for (uint32_t b = 0; b < 3; ++b) {
    const float bg = 10.0f * (b + 1);
    EXPECT_EQ(bg, at(0, 0, b));  // above and left
    EXPECT_EQ(bg, at(7, 3, b));  // right
    EXPECT_EQ(bg, at(3, 5, b));  // below
    EXPECT_EQ(Pattern(0, 0, b), at(1, 1, b));
    EXPECT_EQ(Pattern(5, 3, b), at(6, 4, b));
  }
}

TEST_F(JobTest, NonSquareCellsSkipSourceLines) {
  // Cells 2 wide and 1 high: the output has cells of 2 both ways.
  const std::string src = MakeSource(1, "Unsigned8BitInteger", "2", "1");
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("n.ers"), Rect(1000, 2000, 1004, 1996)));
  uint32_t w = 0, h = 0;
  const std::vector<float> c = Cells(dir_.Path("n.ers"), &w, &h);
  ASSERT_EQ(3u, w);
  ASSERT_EQ(3u, h);
  // Lines 0 and 2 of the source (line 4 lies outside it).
  EXPECT_EQ((std::vector<float>{1, 2, 3, 33, 34, 35, 0, 0, 0}), c);
}

TEST_F(JobTest, ARectangleThatFindsNoSourceCellIsFlagged) {
  // Cell centres run from 1000 to 1050 across and 2000 to 1970 down.
  const struct {
    ExtractOptions rect;
    bool misses;
  } kRows[] = {
      {Rect(1060, 2000, 1100, 1990), true},
      {Rect(1055, 2000, 1100, 1990), true},  // 5.5 cells rounds to 6, past the last
      {Rect(1054.9, 2000, 1100, 1990), false},
      {Rect(990, 2030, 1000, 2010), true},
      {Rect(990, 2010, 1000, 2000), false},
      {Rect(900, 2100, 1100, 1900), false},
  };
  const std::string src = MakeSource(3);
  for (const auto& row : kRows) {
    AbortRequested = false;
    ExtractJob job(src, dir_.Path("m.ers"), row.rect, nullptr);
    job.Run();
    EXPECT_EQ("Successful Finish", job.StatusText);
    EXPECT_EQ(row.misses, job.MissesSource) << row.rect.TopLeftX << " " << row.rect.TopLeftY;
  }
}

TEST_F(JobTest, CellSizeStoredAsZeroIsOne) {
  const std::string src = MakeSource(1, "Unsigned8BitInteger", "0", "0");
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("z.ers"), Rect(1000, 2000, 1002, 1999)));
  uint32_t w = 0, h = 0;
  const std::vector<float> c = Cells(dir_.Path("z.ers"), &w, &h);
  ASSERT_EQ(3u, w);
  EXPECT_EQ((std::vector<float>{1, 2, 3, 17, 18, 19}), c);
}

TEST_F(JobTest, OutputChecksRefuseBeforeAnyFileIsCreated) {
  const std::string four = MakeSource(4);
  EXPECT_EQ("TIFF files do not support more than 3 bands",
            RunJob(four, dir_.Path("x.tif"), Rect(1000, 2000, 1010, 1990)));
  EXPECT_FALSE(FileExists(dir_.Path("x.tif")));
  EXPECT_EQ("BMP files do not support more than 3 bands",
            RunJob(four, dir_.Path("x.bmp"), Rect(1000, 2000, 1010, 1990)));
  const std::string shorts = MakeSource(1, "Signed16BitInteger");
  EXPECT_EQ("BMP files support only byte data",
            RunJob(shorts, dir_.Path("x.bmp"), Rect(1000, 2000, 1010, 1990)));
  EXPECT_FALSE(FileExists(dir_.Path("x.bmp")));
  EXPECT_EQ("No output file name", RunJob(four, "", Rect(1000, 2000, 1010, 1990)));
  EXPECT_EQ("No file: " + dir_.Path("missing.ers"),
            RunJob(dir_.Path("missing.ers"), dir_.Path("y.ers"), Rect(0, 0, 0, 0)));
}

TEST_F(JobTest, OversizedOrNonFiniteWindowsAreRefused) {
  const std::string src = MakeSource();
  const std::string status = RunJob(src, dir_.Path("big.ers"), Rect(0, 0, 655360, 0));
  EXPECT_EQ("Output window too large: 65537 x 1 cells (at most 65535 x 65535)", status);
  EXPECT_FALSE(FileExists(dir_.Path("big.ers")));
  EXPECT_EQ("Successful Finish", RunJob(src, dir_.Path("edge.ers"), Rect(0, 0, 655340, 0)));
  EXPECT_EQ("The rectangle's corners must be finite numbers",
            RunJob(src, dir_.Path("nan.ers"), Rect(NAN, 0, 10, 0)));
}

TEST_F(JobTest, AbortFinishesTheLineAndClosesTheFiles) {
  const std::string src = MakeSource();
  int lines_seen = 0;
  const std::string status = RunJob(
      src, dir_.Path("abort.ers"), Rect(1000, 2000, 1050, 1970), false, [&](ExtractJob& job) {
        job.OnProgress = [&](int, const std::string&, const std::string&) {
          ++lines_seen;
          AbortRequested = true;
        };
      });
  EXPECT_EQ("User Abort", status);
  EXPECT_EQ(1, lines_seen);
  // The first two lines were written; the header is complete.
  const std::vector<float> c = Cells(dir_.Path("abort.ers"));
  ASSERT_EQ(24u, c.size());
  EXPECT_EQ(1, c[0]);
  EXPECT_EQ(17, c[6]);
  EXPECT_EQ(0, c[12]);
  AbortRequested = false;
}

TEST_F(JobTest, ProgressReportsPercentOfLines) {
  const std::string src = MakeSource();
  std::vector<int> percents;
  RunJob(src, dir_.Path("p.ers"), Rect(1000, 2000, 1050, 1970), false, [&](ExtractJob& job) {
    job.OnProgress = [&](int p, const std::string&, const std::string&) { percents.push_back(p); };
  });
  EXPECT_EQ((std::vector<int>{0, 33, 67, 100}), percents);
  percents.clear();
  RunJob(src, dir_.Path("q.ers"), Rect(1000, 2000, 1050, 2000), false, [&](ExtractJob& job) {
    job.OnProgress = [&](int p, const std::string&, const std::string&) { percents.push_back(p); };
  });
  EXPECT_TRUE(percents.empty());  // one line: no progress
}

// An ER Mapper "e.ers" keeps its cells in "e", and an OrthoSetData "o.osd"
// in "o". Cells that spell the header's signature let "o" itself be opened.
void MakeRasters(const TempDir& dir, const std::string& source) {
  ASSERT_EQ("Successful Finish", RunJob(source, dir.Path("e.ers"), Rect(1000, 2000, 1050, 1970)));
  ASSERT_EQ("Successful Finish", RunJob(source, dir.Path("o.osd"), Rect(1000, 2000, 1050, 1970)));
  dir.WriteFile("o", "ORTH" + dir.ReadFile("o").substr(4));
}

TEST_F(JobTest, OutputOverAnyFileOfTheSourceIsRefusedBeforeAnythingIsCreated) {
  MakeRasters(dir_, MakeSource());
  struct Case {
    const char* source;
    const char* output;
    const char* file;  // the source's file that the message names
  };
  const Case cases[] = {
      {"e.ers", "e.ers", "e.ers"}, {"e.ers", "e.osd", "e"}, {"e.ers", "e", "e"},
      {"o.osd", "o", "o.osd"},     {"o.osd", "o.ers", "o"}, {"o", "o.osd", "o"},
      {"o", "o.ers", "o"},
  };
  const auto before = Snapshot(dir_);
  for (const Case& c : cases) {
    EXPECT_EQ("The output would overwrite the source's file: " + dir_.Path(c.file),
              RunJob(dir_.Path(c.source), dir_.Path(c.output), Rect(1000, 1960, 1010, 1950)))
        << c.source << " -> " << c.output;
    EXPECT_EQ(before, Snapshot(dir_)) << c.source << " -> " << c.output;
  }
}

// A writer that cannot create its data file writes no header: its header's
// path may be the header of the raster that holds the data file busy.
TEST_F(JobTest, WriterWithoutItsDataFileWritesNoHeader) {
  MakeRasters(dir_, MakeSource());
  struct Case {
    const char* held;  // opened for reading
    const char* output;
    const char* message;
  };
  const Case cases[] = {
      {"o.osd", "o", "Open map write error=16 Device or resource busy"},
      {"o", "o.osd", "Open map write error=16 Device or resource busy"},
      {"e.ers", "e.ers", "Open Map write error 16 Device or resource busy"},
  };
  const auto before = Snapshot(dir_);
  for (const Case& c : cases) {
    Source held;
    ASSERT_TRUE(held.Open(dir_.Path(c.held))) << held.GetErrorText();
    try {
      Output out(dir_.Path(c.output), 3, 3, kCellUnsigned8, 1, 1);
      ADD_FAILURE() << c.output << " was created";
    } catch (const DatasetError& e) {
      EXPECT_EQ(c.message, std::string(e.what())) << c.output;
    }
    EXPECT_EQ(before, Snapshot(dir_)) << c.held << " -> " << c.output;
  }
}

// A file-size limit stands in for a full disk: every writer fails half way
// through creating its output, which leaves no new file and changes none.
TEST_F(JobTest, OutputThatCannotBeCreatedLeavesEveryFileAsItWas) {
  const std::string src = MakeSource();
  struct Case {
    const char* output;
    const char* status;
  };
  const Case cases[] = {
      {"x.ers", "Open Map write error 27 File too large"},
      {"x.osd", "Open map write error=27 File too large"},
      {"y", "Open map write error=27 File too large"},
      {"x.tif", "Open write error 27 File too large"},
      {"x.bmp", "Open write error 27 File too large"},
      {"x.dtm", "Open map write error=27 File too large"},
      {"x.001", "Open map write error=27 File too large"},
  };
  for (const bool existing : {false, true}) {
    for (const Case& c : cases) {
      const std::string output = dir_.Path(c.output);
      if (existing) {
        ASSERT_EQ("Successful Finish", RunJob(src, output, Rect(1000, 2000, 1050, 1970)));
      }
      const auto before = Snapshot(dir_);
      const int code = ExitCodeOfChild([&] {
        const rlimit limit{65536, 65536};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 100;
        // 401 x 401 cells: more than the limit in every format.
        const std::string status = RunJob(src, output, Rect(0, 4000, 4000, 0));
        if (status == c.status) return 0;
        std::cerr << status << "\n";
        return 1;
      });
      EXPECT_EQ(0, code) << c.output << (existing ? " over an existing output" : "");
      EXPECT_EQ(before, Snapshot(dir_)) << c.output << (existing ? " over an existing output" : "");
    }
  }
}

TEST_F(JobTest, MoreBandsThanAHeaderHoldsAreRefused) {
  ErsSource s;
  s.bands = 65536;
  s.data = MakeCells(s, Pattern);
  s.Write(dir_.Path("wide"));
  EXPECT_EQ("Output of 65536 bands is too large: at most 65535 bands",
            RunJob(dir_.Path("wide.ers"), dir_.Path("w.ers"), Rect(0, 0, 0, 0)));
}

TEST(FormatTimeSpan, HoursMinutesSecondsWithoutLeadingZeros) {
  EXPECT_EQ("1:2:5", FormatTimeSpan(3725.0 / 86400));
  EXPECT_EQ("0:0:59", FormatTimeSpan(59.0 / 86400));
  EXPECT_EQ("0:0:0", FormatTimeSpan(0));
}

}  // namespace
}  // namespace clipra
