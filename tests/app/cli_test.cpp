#include "app/core/cli.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/core/command_line.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

std::string MakeSource(const TempDir& dir, uint32_t bands = 3) {
  ErsSource s;
  s.width = 6;
  s.lines = 4;
  s.bands = bands;
  s.cell_size_x = s.cell_size_y = "10";
  s.eastings = "1000";
  s.northings = "2000";
  s.data = MakeCells(s, Pattern);
  s.Write(dir.Path("src"));
  return dir.Path("src.ers");
}

TEST(CommandLine, OptionsAndAbsolutePaths) {
  auto exists = [](const std::string& p) { return p == "/F"; };
  const CommandLine cl = ParseCommandLine(
      {"/a100:200:300:100", "/data/maps/ortho.ers", "-f", "out.ers", "/F", "third"}, exists);
  EXPECT_TRUE(cl.has_area);
  EXPECT_EQ(100, cl.top_left_x);
  EXPECT_EQ(200, cl.top_left_y);
  EXPECT_EQ(300, cl.bot_right_x);
  EXPECT_EQ(100, cl.bot_right_y);
  EXPECT_TRUE(cl.auto_run);
  EXPECT_EQ("/data/maps/ortho.ers", cl.in_file);
  EXPECT_EQ("out.ers", cl.out_name);
  // "/F" names an existing file here, so it is a file name, not an option.
  EXPECT_EQ((std::vector<std::string>{"/F", "third"}), cl.extra_files);

  const CommandLine partial = ParseCommandLine({"-A100.5:200,25"}, nullptr);
  EXPECT_EQ(100.5, partial.top_left_x);
  EXPECT_EQ(200.25, partial.top_left_y);
  EXPECT_EQ(0, partial.bot_right_x);
  EXPECT_EQ(0, partial.bot_right_y);
  // Empty fields are skipped; malformed ones read as 0.
  const CommandLine gaps = ParseCommandLine({"-A::1:x:3:4"}, nullptr);
  EXPECT_EQ(1, gaps.top_left_x);
  EXPECT_EQ(0, gaps.top_left_y);
  EXPECT_EQ(3, gaps.bot_right_x);
  EXPECT_EQ(4, gaps.bot_right_y);
}

TEST(Cli, ClipsAndReportsTheStatus) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  const CliResult r = RunClipra({"/a990:2000:1010:1990", "-b1:2:3", src, dir.Path("o.ers")});
  EXPECT_EQ(kExitSuccess, r.code) << r.err;
  EXPECT_EQ("Successful Finish: " + dir.Path("o.ers") + "\n", r.out);
  const std::vector<float> c = ReadAllCells(dir.Path("o.ers"));
  ASSERT_EQ(18u, c.size());
  EXPECT_EQ(1, c[0]);  // background red at (990, 2000)
  EXPECT_EQ(2, c[3]);  // green
  EXPECT_EQ(1, c[1]);  // cell (0, 0), band 0
  const std::string warning = "clipra-cli: warning: the rectangle lies outside the source\n";
  EXPECT_EQ(std::string::npos, r.err.find(warning));

  const CliResult missed = RunClipra({"/a0:0:10:-10", src, dir.Path("m.ers")});
  EXPECT_EQ(kExitSuccess, missed.code);
  EXPECT_NE(std::string::npos, missed.err.find(warning)) << missed.err;
}

TEST(Cli, UsageErrorsAndFailures) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  const std::string out = dir.Path("o.ers");
  const struct {
    std::vector<std::string> args;
    std::string message;
  } usage[] = {
      {{src}, "give a SOURCE and an OUTPUT"},
      {{src, out}, "give the rectangle with -A"},
      {{"-A0:0:1:1", "-B1:2", src, out}, "-B takes <red>:<green>:<blue>, each from 0 to 255"},
      {{"-A0:0:1:1", "-B1:2:256", src, out}, "-B takes <red>:<green>:<blue>, each from 0 to 255"},
      {{"-A0:0:1:1", "-Qx", src, out}, "unknown option -Qx"},
      {{"-A0:5005OO:1:1", src, out}, "TopLeftY is not a number: 5005OO"},
      {{"-A0:0:1", src, out}, "-A takes <TopLeftX>:<TopLeftY>:<BotRightX>:<BotRightY>"},
      {{"-A0:0:1:1", "/nonexistent.ers", src, out},
       "unknown option /nonexistent.ers (no file of that name exists)"},
      {{"-A0:0:1:1", src, out, "x"}, "too many file names: x"},
      {{"--bogus"}, "unknown option --bogus"},
  };
  for (const auto& row : usage) {
    const CliResult r = RunClipra(row.args);
    EXPECT_EQ(kExitUsage, r.code) << row.message;
    EXPECT_EQ("clipra-cli: " + row.message + "\nTry 'clipra-cli --help'.\n", r.err);
  }
  const CliResult missing = RunClipra({"-A0:0:1:1", dir.Path("none.ers"), dir.Path("o.ers")});
  EXPECT_EQ(kExitFailure, missing.code);
  EXPECT_EQ("No file: " + dir.Path("none.ers") + "\n", missing.err);
  EXPECT_EQ(kExitSuccess, RunClipra({"--help"}).code);
  EXPECT_EQ("Clipra Utility ver 1.00\n", RunClipra({"--version"}).out);
}

TEST(Cli, InfoDescribesTheSource) {
  TempDir dir;
  const std::string src = MakeSource(dir);
  const CliResult r = RunClipra({"--info", src});
  ASSERT_EQ(kExitSuccess, r.code) << r.err;
  for (const char* line :
       {"Format:          ERS\n", "Width:           6\n", "Lines:           4\n",
        "Bands:           3\n", "Cell type:       UNSIGNED8BITINTEGER\n",
        "Byte order:      LSBFirst\n", "Cell size X:     10\n", "First cell X Y:  1000 2000\n",
        "Last cell X Y:   1050 1970\n", "Datum:           \"WGS84\"\n", "Control points:  0\n"})
    EXPECT_NE(std::string::npos, r.out.find(line)) << line << r.out;
  EXPECT_EQ(kExitFailure, RunClipra({"--info", dir.Path("none")}).code);
}

TEST(Cli, InterruptStopsAfterTheLineWithStatus130) {
  const std::string cli = CLIPRA_CLI;
  if (!FileExists(cli)) GTEST_SKIP() << "clipra-cli is not built";
  TempDir dir;
  const std::string src = MakeSource(dir, 1);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Ctrl-C arrives before the job can finish: pending while blocked.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    raise(SIGINT);
    freopen("/dev/null", "w", stderr);
    execl(cli.c_str(), cli.c_str(), "-A1000:2000:1050:1970", src.c_str(), dir.Path("o.ers").c_str(),
          static_cast<char*>(nullptr));
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(kExitAborted, WEXITSTATUS(status));
  // One line was finished and both files closed: the header is complete.
  const std::vector<float> c = ReadAllCells(dir.Path("o.ers"));
  ASSERT_EQ(24u, c.size());
  EXPECT_EQ(1, c[0]);
  EXPECT_EQ(0, c[6]);
}

}  // namespace
}  // namespace clipra
