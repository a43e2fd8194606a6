// clipra-cli: single clips, sheet lists and grids, messages and exit statuses.
#include "app/core/cli.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "app/core/batch.h"
#include "app/core/command_line.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"
#include "support/tools.h"

namespace clipra {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return (1 + x + 7 * y + 50 * b) % 251;
}

// Every file under `folder` in `dir`, by its path inside it, with header time stamps left out.
std::map<std::string, std::string> Files(const TempDir& dir, const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(dir.Path(folder))) {
    if (!entry.is_regular_file()) continue;
    const std::string name = fs::relative(entry.path(), dir.Path(folder)).string();
    std::string text = dir.ReadFile(folder + "/" + name);
    const size_t stamp = text.find("LastUpdated");
    if (stamp != std::string::npos) text.erase(stamp, text.find('\n', stamp) - stamp);
    files[name] = text;
  }
  return files;
}

// The built clipra-cli run with Ctrl-C pending before it starts; its exit
// status. The shell inherits SIGINT blocked, and exec keeps the signal pending.
int RunInterrupted(const Strings& args) {
  sigset_t set, old;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, &old);
  std::string command = "kill -INT $$; exec " CLIPRA_CLI;
  for (const std::string& a : args) command += " " + ShellQuote(a);
  const int code = RunCommand(command + " >/dev/null 2>&1");
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return code;
}

class Cli : public ::testing::Test {
 protected:
  TempDir dir_;
  // 40 x 30 cells of 10 map units; cell (0, 0) at (1000, 2000).
  const std::string src_ =
      WriteSource(dir_, "src", Grid(40, 30, 3, "10", "10", "1000", "2000"), Pattern);
};

// The area and unattended flags, the rectangle's corners, and "|" before each file name.
std::string Summary(const CommandLine& c) {
  std::string text = std::to_string(c.has_area) + std::to_string(c.auto_run);
  for (double v : {c.top_left_x, c.top_left_y, c.bot_right_x, c.bot_right_y})
    text += " " + FormatGeneral(v);
  text += "|" + c.in_file + "|" + c.out_name;
  for (const std::string& f : c.extra_files) text += "|" + f;
  return text;
}

TEST(CommandLine, OptionsAndAbsolutePaths) {
  auto exists = [](const std::string& p) { return p == "/F"; };
  // "/F" names an existing file here, so it is a file name, not an option.
  EXPECT_EQ(
      "11 100 200 300 100|/data/maps/ortho.ers|out.ers|/F|third",
      Summary(ParseCommandLine(
          {"/a100:200:300:100", "/data/maps/ortho.ers", "-f", "out.ers", "/F", "third"}, exists)));
  // Missing fields are 0, empty ones are skipped, malformed ones read as 0.
  EXPECT_EQ("10 100.5 200.25 0 0||", Summary(ParseCommandLine({"-A100.5:200,25"}, nullptr)));
  EXPECT_EQ("10 1 0 3 4||", Summary(ParseCommandLine({"-A::1:x:3:4"}, nullptr)));
}

TEST_F(Cli, ClipsAndReportsTheStatus) {
  const CliResult r = RunClipra({"/a990:2000:1010:1990", "-b1:2:3", src_, dir_.Path("o.ers")});
  EXPECT_EQ(kExitSuccess, r.code) << r.err;
  EXPECT_EQ("Successful Finish: " + dir_.Path("o.ers") + "\n", r.out);
  // Each line: background red, green and blue to the left of the source.
  EXPECT_EQ("1 1 2/2 51 52/3 101 102|1 8 9/2 58 59/3 108 109", CellText(dir_.Path("o.ers")));
  const std::string warning = "clipra-cli: warning: the rectangle lies outside the source\n";
  EXPECT_EQ(std::string::npos, r.err.find(warning));

  const CliResult missed = RunClipra({"/a0:0:10:-10", src_, dir_.Path("m.ers")});
  EXPECT_EQ(kExitSuccess, missed.code);
  EXPECT_NE(std::string::npos, missed.err.find(warning)) << missed.err;

  const CliResult info = RunClipra({"--info", src_});
  ASSERT_EQ(kExitSuccess, info.code) << info.err;
  EXPECT_EQ(
      "Format:          ERS\nWidth:           40\nLines:           30\nBands:           3\n"
      "Cell type:       UNSIGNED8BITINTEGER\nByte order:      LSBFirst\nCell size X:     10\n"
      "Cell size Y:     10\nFirst cell X Y:  1000 2000\nLast cell X Y:   1390 1710\n"
      "Datum:           \"WGS84\"\nProjection:      \"SUTM33\"\nSpheroid:        \n"
      "EPSG code:       32733\nControl points:  0\n",
      info.out);
  EXPECT_EQ(kExitFailure, RunClipra({"--info", dir_.Path("none")}).code);
  const CliResult missing = RunClipra({"-A0:0:1:1", dir_.Path("none.ers"), dir_.Path("o.ers")});
  EXPECT_EQ(kExitFailure, missing.code);
  EXPECT_EQ("No file: " + dir_.Path("none.ers") + "\n", missing.err);
  EXPECT_EQ(kExitSuccess, RunClipra({"--help"}).code);
  EXPECT_EQ("Clipra Utility ver 1.00\n", RunClipra({"--version"}).out);
}

TEST_F(Cli, UsageErrors) {
  const std::string out = dir_.Path("o.ers"), list = dir_.Path("list.txt");
  dir_.WriteFile("list.txt", "a.ers 1 2 3 4\nb.ers 1 2 3\n");
  const std::string colour = "-B takes <red>:<green>:<blue>, each from 0 to 255";
  const struct {
    std::vector<std::string> args;
    std::string message;  // errors naming a sheet list do not point to --help
  } rows[] = {
      {{src_}, "give a SOURCE and an OUTPUT"},
      {{src_, out}, "give the rectangle with -A"},
      {{"-A0:0:1:1", "-B1:2", src_, out}, colour},
      {{"-A0:0:1:1", "-B1:2:256", src_, out}, colour},
      {{"-A0:0:1:1", "-Qx", src_, out}, "unknown option -Qx"},
      {{"-A0:5005OO:1:1", src_, out}, "TopLeftY is not a number: 5005OO"},
      {{"-A0:0:1", src_, out}, "-A takes <TopLeftX>:<TopLeftY>:<BotRightX>:<BotRightY>"},
      {{"-A0:0:1:1", "/nonexistent.ers", src_, out},
       "unknown option /nonexistent.ers (no file of that name exists)"},
      {{"-A0:0:1:1", src_, out, "x"}, "too many file names: x"},
      {{"--bogus"}, "unknown option --bogus"},
      {{"--sheets", list, src_},
       list + " line 2: expected an output name and four corners, found 4 fields"},
      {{"--sheets", dir_.Path("none.txt"), src_},
       dir_.Path("none.txt") + ": No such file or directory"},
      {{"-A0:0:1:1", "--sheets", "l", src_}, "the sheet list gives the rectangles: no -A"},
      {{"-j2", "-A0:0:1:1", src_, out}, "-j and --shard go with --sheets or --grid"},
      {{"--shard", "4/3", "--sheets", "l", src_}, "--shard takes K/N with K from 1 to N"},
      {{"-j", "0", "--sheets", "l", src_}, "-j takes a number of workers from 1 to 1024"},
      {{"--grid", "10", src_, out}, "--grid takes DX:DY, two positive sizes in map units"},
      {{"--grid", "15:10", src_, "o{row}{col}.ers"},
       "DX and DY must each be a whole number of cells, 1 to 65535, of 10 map units"},
      {{"--grid", "100:100", src_, "o{row}.ers"},
       "PATTERN must tell the sheets apart with {row} and {col}, or {x} and {y}: o{row}.ers"},
      {{"--grid", "100:100", src_, "o{row}{column}.ers"},
       "PATTERN knows only {row}, {col}, {x} and {y}: o{row}{column}.ers"},
  };
  for (const auto& row : rows) {
    const CliResult r = RunClipra(row.args);
    EXPECT_EQ(kExitUsage, r.code) << row.message;
    const bool list = row.message.rfind(dir_.path(), 0) == 0;
    EXPECT_EQ("clipra-cli: " + row.message + "\n" + (list ? "" : "Try 'clipra-cli --help'.\n"),
              r.err);
  }
}

TEST(SheetList, EverySeparatorAndMalformedLines) {
  const std::string text =
      "\xEF\xBB\xBF# name, TopLeftX, TopLeftY, BotRightX, BotRightY\r\n"
      "a.ers,1.5,2,3,-4e1\r\n"
      "b.tif;1,5;2;3.25;4\r\n"
      "\r\n"
      "c.dat\t-1,25\t2\t3\t4\n"
      "   # indented\n"
      "/abs/d.ers  1 2  3 4\n"
      "\"e \"\"f\"\".ers\", 1, 2, 3, 4";
  std::vector<Sheet> sheets;
  std::string error;
  ASSERT_TRUE(ParseSheetList(text, "dir/", sheets, error)) << error;
  Strings got;
  for (const Sheet& s : sheets)
    got.push_back(std::to_string(s.Number) + "|" + s.Name + "|" + s.Path + "|" +
                  FormatGeneral(s.TopLeftX) + " " + FormatGeneral(s.TopLeftY) + " " +
                  FormatGeneral(s.BotRightX) + " " + FormatGeneral(s.BotRightY));
  EXPECT_EQ((Strings{"1|a.ers|dir/a.ers|1.5 2 3 -40", "2|b.tif|dir/b.tif|1.5 2 3.25 4",
                     "3|c.dat|dir/c.dat|-1.25 2 3 4", "4|/abs/d.ers|/abs/d.ers|1 2 3 4",
                     "5|e \"f\".ers|dir/e \"f\".ers|1 2 3 4"}),
            got);

  const struct {
    const char *text, *error;
  } bad[] = {
      {"a.ers,1,2,3\n", "line 1: expected an output name and four corners, found 4 fields"},
      // A comma decimal needs a semicolon or tab separator.
      {"# x\n\nb.ers 1,5 2 3 4\n",
       "line 3: expected an output name and four corners, found 6 fields"},
      {"a.ers;1;2;x;4", "line 1: \"x\" is not a number"},
      {"a.ers;1;2;3;1e999", "line 1: \"1e999\" is not a number"},
      {"a.ers;1;2;3;1.234,5", "line 1: \"1.234,5\" is not a number"},
      {"\"a.ers,1,2,3,4", "line 1: a quote is not closed"},
      {"\"\",1,2,3,4", "line 1: the output name is empty"},
      {"a.ers 1 2 3 4\r\n./a.ers 1 2 3 4", "line 2: ./a.ers is also the output of line 1"},
  };
  for (const auto& row : bad) {
    sheets.assign(1, Sheet{});
    EXPECT_FALSE(ParseSheetList(row.text, "", sheets, error)) << row.text;
    EXPECT_EQ(row.error, error);
    EXPECT_EQ(1u, sheets.size()) << "a failed list keeps nothing";
  }
}

TEST_F(Cli, SheetsMatchSingleClipsInEveryFormat) {
  // Partly outside the source, so the background shows; and in sub-folders.
  const std::pair<std::string, std::string> sheets[] = {{"a.ers", "1000:2000:1090:1950"},
                                                        {"sub/b.tif", "1205:1905:1430:1700"},
                                                        {"deep/er/c.dat", "950:1750:1100:1600"},
                                                        {"d.ers", "1390:2100:1500:1990"}};
  std::string list;
  for (const auto& [name, area] : sheets) {
    list += name + ";" + area + "\n";
    const std::string out = dir_.Path("one/" + name);
    fs::create_directories(fs::path(out).parent_path());
    ASSERT_EQ(kExitSuccess, RunClipra({"-A" + area, "-B9:8:7", src_, out}).code);
  }
  std::replace(list.begin(), list.end(), ':', ';');
  fs::create_directories(dir_.Path("many"));
  dir_.WriteFile("many/list.txt", list);
  const CliResult batch =
      RunClipra({"-B9:8:7", "-j", "3", "--sheets", dir_.Path("many/list.txt"), src_});
  ASSERT_EQ(kExitSuccess, batch.code) << batch.err;
  EXPECT_EQ("4 of 4 sheets written\n", batch.out);
  EXPECT_NE(std::string::npos, batch.err.find("100%")) << batch.err;
  fs::remove(dir_.Path("many/list.txt"));
  const auto one = Files(dir_, "one");
  EXPECT_EQ(8u, one.size());  // data files, headers and a world file
  EXPECT_TRUE(one == Files(dir_, "many"));
}

TEST_F(Cli, GridNamesShardsAndSkippedSheets) {
  // The whole source in sheets of 10 x 10 cells: 4 x 3 of them, shared
  // among three shards.
  std::set<std::string> written;
  for (int k = 1; k <= 3; ++k) {
    const std::string folder = "shard" + std::to_string(k);
    const CliResult r = RunClipra({"--shard", std::to_string(k) + "/3", "--grid", "100:100", src_,
                                   dir_.Path(folder + "/s_{row}_{col}.ers")});
    ASSERT_EQ(kExitSuccess, r.code) << r.err;
    EXPECT_EQ("4 of 4 sheets written\n", r.out);
    for (const auto& [name, bytes] : Files(dir_, folder))
      EXPECT_TRUE(ExtractFileExt(name) != ".ers" || written.insert(name).second) << name;
  }
  EXPECT_EQ(12u, written.size());
  EXPECT_EQ(1u, written.count("s_3_4.ers"));
  // Sheet (2, 3) starts at source cell (20, 10) and ends at (29, 19).
  uint32_t width = 0;
  const std::vector<float> c = ReadAllCells(dir_.Path("shard1/s_2_3.ers"), &width);
  ASSERT_EQ(10u * 10u * 3u, c.size());
  EXPECT_EQ(10u, width);
  EXPECT_EQ(Pattern(20, 10, 0), c[0]);
  EXPECT_EQ(Pattern(29, 19, 2), c.back());

  // A rectangle reaching beyond the source: 3 x 3 sheets, 7 of them outside.
  const CliResult r =
      RunClipra({"--grid", "200:200", "-A1200:2000:1700:1500", src_, dir_.Path("g/{x}_{y}.ers")});
  ASSERT_EQ(kExitSuccess, r.code) << r.err;
  EXPECT_EQ("7 sheets lie outside the source: skipped\n2 of 2 sheets written\n", r.out);
  EXPECT_TRUE(FileExists(dir_.Path("g/1200_1800.ers")));
}

TEST_F(Cli, FailingSheetsStayLocal) {
  dir_.WriteFile("blocked", "a file, not a folder");
  dir_.WriteFile("list.txt",
                 "a.ers 1000 2000 1050 1950\nsrc.ers 1000 2000 1050 1950\n"
                 "blocked/b.ers 1000 2000 1050 1950\nc.tif 0 0 50 -50\n");
  const CliResult r = RunClipra({"-j1", "--sheets", dir_.Path("list.txt"), src_});
  EXPECT_EQ(kExitFailure, r.code);
  EXPECT_EQ("2 of 4 sheets written, 2 failed\n", r.out);
  for (const char* text : {"sheet 2 (src.ers): The output would overwrite the source's file: ",
                           "sheet 3 (blocked/b.ers): Cannot create the folder ",
                           "sheet 4 (c.tif): warning: the rectangle lies outside the source\n"})
    EXPECT_NE(std::string::npos, r.err.find(text)) << text << "\n" << r.err;
  EXPECT_TRUE(FileExists(dir_.Path("a.ers")) && FileExists(dir_.Path("c.tif")));
}

TEST_F(Cli, InterruptStopsEveryWorkerAfterTheLineWithStatus130) {
  // Stopped at the first finished line: each worker ends its sheet at its
  // next line, and none takes another.
  std::vector<Sheet> sheets;
  for (const char* name : {"a.ers", "b.ers", "c.ers", "d.ers"})
    sheets.push_back({sheets.size() + 1, name, dir_.Path(name), 1000, 2000, 1390, 1710});
  SheetBatch batch;
  ASSERT_TRUE(batch.Open(src_));
  AbortRequested = false;
  batch.OnProgress = [](int, const std::string&, const std::string&) { AbortRequested = true; };
  batch.Run(sheets, 0, 2);
  AbortRequested = false;
  EXPECT_TRUE(batch.Aborted && batch.Written == 0 && batch.Failed == 0 && !Busy);
  EXPECT_FALSE(FileExists(dir_.Path("c.ers")) || FileExists(dir_.Path("d.ers")));

  if (!FileExists(CLIPRA_CLI)) GTEST_SKIP() << "clipra-cli is not built";
  // Ctrl-C pending before any worker starts: no sheet is written.
  dir_.WriteFile("list.txt", "e.ers 1000 2000 1390 1710\nf.ers 1000 2000 1390 1710\n");
  EXPECT_EQ(kExitAborted, RunInterrupted({"-j", "2", "--sheets", dir_.Path("list.txt"), src_}));
  EXPECT_FALSE(FileExists(dir_.Path("e.ers")) || FileExists(dir_.Path("f.ers")));
  // A single clip finishes its first line and closes both files.
  EXPECT_EQ(kExitAborted, RunInterrupted({"-A1000:2000:1050:1970", src_, dir_.Path("o.ers")}));
  const std::string zeros = "|0 0 0 0 0 0/0 0 0 0 0 0/0 0 0 0 0 0";
  EXPECT_EQ("1 2 3 4 5 6/51 52 53 54 55 56/101 102 103 104 105 106" + zeros + zeros + zeros,
            CellText(dir_.Path("o.ers")));
}

}  // namespace
}  // namespace clipra
