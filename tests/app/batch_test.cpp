#include "app/core/batch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/core/cli.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

namespace fs = std::filesystem;

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return (x + 7 * y + 50 * b) % 251;
}

// 40 x 30 cells of 10 map units; cell (0, 0) at (1000, 2000).
std::string MakeSource(const TempDir& dir) {
  ErsSource s;
  s.width = 40;
  s.lines = 30;
  s.bands = 3;
  s.cell_size_x = s.cell_size_y = "10";
  s.eastings = "1000";
  s.northings = "2000";
  s.data = MakeCells(s, Pattern);
  s.Write(dir.Path("src"));
  return dir.Path("src.ers");
}

// Every file under `folder`, by its path inside it, with header time stamps left out.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t stamp = text.find("LastUpdated");
    if (stamp != std::string::npos) text.erase(stamp, text.find('\n', stamp) - stamp);
    files[fs::relative(entry.path(), folder).string()] = text;
  }
  return files;
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
  const struct {
    const char* name;
    const char* path;
    double corners[4];
  } want[] = {{"a.ers", "dir/a.ers", {1.5, 2, 3, -40}},
              {"b.tif", "dir/b.tif", {1.5, 2, 3.25, 4}},
              {"c.dat", "dir/c.dat", {-1.25, 2, 3, 4}},
              {"/abs/d.ers", "/abs/d.ers", {1, 2, 3, 4}},
              {"e \"f\".ers", "dir/e \"f\".ers", {1, 2, 3, 4}}};
  ASSERT_EQ(std::size(want), sheets.size());
  for (size_t i = 0; i < sheets.size(); ++i) {
    EXPECT_EQ(i + 1, sheets[i].Number);
    EXPECT_EQ(want[i].name, sheets[i].Name);
    EXPECT_EQ(want[i].path, sheets[i].Path);
    const double got[4] = {sheets[i].TopLeftX, sheets[i].TopLeftY, sheets[i].BotRightX,
                           sheets[i].BotRightY};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(want[i].corners[k], got[k]) << i << " " << k;
  }

  const struct {
    const char* text;
    const char* error;
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

TEST(Batch, SheetsMatchSingleClipsInEveryFormat) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  // Partly outside the source, so the background shows; and in sub-folders.
  const std::vector<std::vector<std::string>> sheets = {
      {"a.ers", "1000", "2000", "1090", "1950"},
      {"sub/b.tif", "1205", "1905", "1430", "1700"},
      {"deep/er/c.dat", "950", "1750", "1100", "1600"},
      {"d.ers", "1390", "2100", "1500", "1990"}};
  std::string list;
  for (const auto& s : sheets)
    list += s[0] + ";" + s[1] + ";" + s[2] + ";" + s[3] + ";" + s[4] + "\n";
  fs::create_directories(dir.Path("many"));
  dir.WriteFile("many/list.txt", list);
  const CliResult batch =
      RunClipra({"-B9:8:7", "-j", "3", "--sheets", dir.Path("many/list.txt"), src});
  ASSERT_EQ(kExitSuccess, batch.code) << batch.err;
  EXPECT_EQ("4 of 4 sheets written\n", batch.out);
  EXPECT_NE(std::string::npos, batch.err.find("100%")) << batch.err;

  for (const auto& s : sheets) {
    const std::string out = dir.Path("one/" + s[0]);
    fs::create_directories(fs::path(out).parent_path());
    const CliResult r =
        RunClipra({"-A" + s[1] + ":" + s[2] + ":" + s[3] + ":" + s[4], "-B9:8:7", src, out});
    ASSERT_EQ(kExitSuccess, r.code) << r.err;
  }
  fs::remove(dir.Path("many/list.txt"));
  const auto many = Files(dir.Path("many")), one = Files(dir.Path("one"));
  EXPECT_EQ(8u, one.size());  // data files, headers and a world file
  ASSERT_EQ(one.size(), many.size());
  for (const auto& [name, bytes] : one) EXPECT_TRUE(many.at(name) == bytes) << name;
}

TEST(Batch, GridNamesShardsAndSkippedSheets) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  // The whole source in sheets of 10 x 10 cells: 4 x 3 of them, shared
  // among three shards.
  std::set<std::string> written;
  for (int k = 1; k <= 3; ++k) {
    const std::string folder = dir.Path("shard" + std::to_string(k));
    const CliResult r = RunClipra({"--shard", std::to_string(k) + "/3", "--grid", "100:100", src,
                                   folder + "/s_{row}_{col}.ers"});
    ASSERT_EQ(kExitSuccess, r.code) << r.err;
    EXPECT_EQ("4 of 4 sheets written\n", r.out);
    for (const auto& [name, bytes] : Files(folder)) {
      if (ExtractFileExt(name) == ".ers") {
        EXPECT_TRUE(written.insert(name).second) << name;
      }
    }
  }
  EXPECT_EQ(12u, written.size());
  EXPECT_EQ(1u, written.count("s_3_4.ers"));
  // Sheet (2, 3) starts at source cell (20, 10) and ends at (29, 19).
  uint32_t width = 0, lines = 0;
  const std::vector<float> c = ReadAllCells(dir.Path("shard1/s_2_3.ers"), &width, &lines);
  ASSERT_EQ(10u * 10u * 3u, c.size());
  EXPECT_EQ(10u, width);
  EXPECT_EQ(Pattern(20, 10, 0), c[0]);
  EXPECT_EQ(Pattern(29, 19, 2), c.back());

  // A rectangle reaching beyond the source: 3 x 3 sheets, 7 of them outside.
  const CliResult r =
      RunClipra({"--grid", "200:200", "-A1200:2000:1700:1500", src, dir.Path("g/{x}_{y}.ers")});
  ASSERT_EQ(kExitSuccess, r.code) << r.err;
  EXPECT_EQ("7 sheets lie outside the source: skipped\n2 of 2 sheets written\n", r.out);
  EXPECT_TRUE(FileExists(dir.Path("g/1200_1800.ers")));
}

TEST(Batch, UsageErrors) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  dir.WriteFile("list.txt", "a.ers 1 2 3 4\nb.ers 1 2 3\n");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"--sheets", dir.Path("list.txt"), src},
       dir.Path("list.txt") + " line 2: expected an output name and four corners, found 4 fields"},
      {{"--sheets", dir.Path("none.txt"), src},
       dir.Path("none.txt") + ": No such file or directory"},
      {{"-A0:0:1:1", "--sheets", "l", src}, "the sheet list gives the rectangles: no -A"},
      {{"-j2", "-A0:0:1:1", src, "o.ers"}, "-j and --shard go with --sheets or --grid"},
      {{"--shard", "4/3", "--sheets", "l", src}, "--shard takes K/N with K from 1 to N"},
      {{"-j", "0", "--sheets", "l", src}, "-j takes a number of workers from 1 to 1024"},
      {{"--grid", "10", src, "o.ers"}, "--grid takes DX:DY, two positive sizes in map units"},
      {{"--grid", "15:10", src, "o{row}{col}.ers"},
       "DX and DY must each be a whole number of cells, 1 to 65535, of 10 map units"},
      {{"--grid", "100:100", src, "o{row}.ers"},
       "PATTERN must tell the sheets apart with {row} and {col}, or {x} and {y}: o{row}.ers"},
      {{"--grid", "100:100", src, "o{row}{column}.ers"},
       "PATTERN knows only {row}, {col}, {x} and {y}: o{row}{column}.ers"},
  };
  for (const auto& row : rows) {
    const CliResult r = RunClipra(row.args);
    EXPECT_EQ(kExitUsage, r.code) << row.message;
    EXPECT_EQ(0u, r.err.find("clipra-cli: " + row.message + "\n")) << r.err;
  }
}

TEST(Batch, FailingSheetsStayLocal) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  dir.WriteFile("blocked", "a file, not a folder");
  dir.WriteFile("list.txt",
                "a.ers 1000 2000 1050 1950\nsrc.ers 1000 2000 1050 1950\n"
                "blocked/b.ers 1000 2000 1050 1950\nc.tif 0 0 50 -50\n");
  const CliResult r = RunClipra({"-j1", "--sheets", dir.Path("list.txt"), src});
  EXPECT_EQ(kExitFailure, r.code);
  EXPECT_EQ("2 of 4 sheets written, 2 failed\n", r.out);
  EXPECT_NE(std::string::npos,
            r.err.find("sheet 2 (src.ers): The output would overwrite the source's file: "))
      << r.err;
  EXPECT_NE(std::string::npos, r.err.find("sheet 3 (blocked/b.ers): Cannot create the folder "))
      << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("sheet 4 (c.tif): warning: the rectangle lies outside the source\n"))
      << r.err;
  EXPECT_TRUE(FileExists(dir.Path("a.ers")));
  EXPECT_TRUE(FileExists(dir.Path("c.tif")));
}

TEST(Batch, InterruptStopsEveryWorker) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  std::vector<Sheet> sheets;
  std::string error;
  ASSERT_TRUE(
      ParseSheetList("a.ers 1000 2000 1390 1710\nb.ers 1000 2000 1390 1710\n"
                     "c.ers 1000 2000 1390 1710\nd.ers 1000 2000 1390 1710\n",
                     dir.path() + "/", sheets, error));
  // Stopped at the first finished line: each worker ends its sheet at its
  // next line, and none takes another.
  SheetBatch batch;
  ASSERT_TRUE(batch.Open(src));
  AbortRequested = false;
  batch.OnProgress = [](int, const std::string&, const std::string&) { AbortRequested = true; };
  batch.Run(sheets, 0, 2);
  AbortRequested = false;
  EXPECT_TRUE(batch.Aborted);
  EXPECT_EQ(0u, batch.Written);
  EXPECT_EQ(0u, batch.Failed);
  EXPECT_FALSE(Busy);
  EXPECT_FALSE(FileExists(dir.Path("c.ers")));
  EXPECT_FALSE(FileExists(dir.Path("d.ers")));

  const std::string cli = CLIPRA_CLI;
  if (!FileExists(cli)) GTEST_SKIP() << "clipra-cli is not built";
  fs::remove(dir.Path("a.ers"));
  fs::remove(dir.Path("b.ers"));
  dir.WriteFile("list.txt", "a.ers 1000 2000 1390 1710\nb.ers 1000 2000 1390 1710\n");
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Ctrl-C is pending before any worker starts.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    raise(SIGINT);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execl(cli.c_str(), cli.c_str(), "-j", "2", "--sheets", dir.Path("list.txt").c_str(),
          src.c_str(), static_cast<char*>(nullptr));
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(kExitAborted, WEXITSTATUS(status));
  EXPECT_FALSE(FileExists(dir.Path("a.ers")));
  EXPECT_FALSE(FileExists(dir.Path("b.ers")));
}

}  // namespace
}  // namespace clipra
