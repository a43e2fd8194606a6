// Times 100 sheets of 500 x 500 cells cut from the 6000 x 6000 three-band
// ER Mapper source into ER Mapper by one clipra-cli --sheets run with -j 2,
// against its two peers: 100 separate clipra-cli runs, and a shell loop of
// 100 gdal_translate -projwin runs where GDAL is installed. Prints each time
// and each ratio (the batch / its peer).
//
//   batch_bench [folder]   (default: a fresh folder under /tmp)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/bench_source.h"

namespace {

using clipra::bench::kCell;
using clipra::bench::kLeft;
using clipra::bench::kTop;

constexpr int kSheetCells = 500;
constexpr int kSheetsAcross = 10;  // 10 x 10 sheets
constexpr int kFirstCell = 500;    // of the block of sheets, across and down
constexpr int kRuns = 3;

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Number(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// The best of kRuns runs of `command`, each after `prepare`; -1 when one fails.
double Time(const std::string& command, const std::string& prepare) {
  double best = 1e9;
  for (int i = 0; i < kRuns; ++i) {
    if (std::system(prepare.c_str()) != 0) return -1;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0) return -1;
    best = std::min(best, t);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string cli = CLIPRA_CLI;
  if (cli.empty() || !fs::exists(cli)) {
    std::printf("clipra-cli is not built: nothing to time\n");
    return 1;
  }
  std::string folder;
  if (argc > 1) {
    folder = fs::absolute(argv[1]).string();
    fs::create_directories(folder);
  } else {
    char pattern[] = "/tmp/clipra-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  const std::string source = folder + "/source.ers";
  if (!fs::exists(source)) {
    std::printf("Writing a 6000 x 6000 x 3 source in %s ...\n", folder.c_str());
    clipra::bench::MakeSource(folder + "/source");
  }

  // The sheets, as a list for the batch and as one command line each for
  // the separate runs and for GDAL.
  std::ofstream list(folder + "/sheets.txt", std::ios::binary);
  std::ofstream separate(folder + "/separate.sh", std::ios::binary);
  std::ofstream gdal(folder + "/gdal.sh", std::ios::binary);
  for (int r = 0; r < kSheetsAcross; ++r)
    for (int c = 0; c < kSheetsAcross; ++c) {
      const double x = kLeft + (kFirstCell + c * kSheetCells) * kCell;
      const double y = kTop - (kFirstCell + r * kSheetCells) * kCell;
      const double x1 = x + (kSheetCells - 1) * kCell, y1 = y - (kSheetCells - 1) * kCell;
      const std::string name = "s_" + std::to_string(r + 1) + "_" + std::to_string(c + 1) + ".ers";
      list << "batch/" << name << "," << Number(x) << "," << Number(y) << "," << Number(x1) << ","
           << Number(y1) << "\n";
      separate << Quote(cli) << " -A" << Number(x) << ":" << Number(y) << ":" << Number(x1) << ":"
               << Number(y1) << " " << Quote(source) << " " << Quote(folder + "/separate/" + name)
               << " >/dev/null 2>&1 || exit 1\n";
      gdal << "gdal_translate -q -of ERS -projwin " << Number(x) << " " << Number(y) << " "
           << Number(x + kSheetCells * kCell) << " " << Number(y - kSheetCells * kCell) << " "
           << Quote(source) << " " << Quote(folder + "/gdal/" + name) << " || exit 1\n";
    }
  list.close();
  separate.close();
  gdal.close();

  const std::string clean = "rm -rf " + Quote(folder + "/batch") + " " +
                            Quote(folder + "/separate") + " " + Quote(folder + "/gdal") +
                            " && mkdir -p " + Quote(folder + "/separate") + " " +
                            Quote(folder + "/gdal");
  // Warm the page cache so that every tool reads from memory.
  std::system(("cat " + Quote(folder + "/source") + " >/dev/null").c_str());

  const double batch = Time(Quote(cli) + " -j 2 --sheets " + Quote(folder + "/sheets.txt") + " " +
                                Quote(source) + " >/dev/null 2>&1",
                            clean);
  const double apart = Time("sh " + Quote(folder + "/separate.sh"), clean);
  if (batch < 0 || apart < 0) {
    std::printf("clipra-cli failed\n");
    return 1;
  }
  std::printf("100 sheets of 500 x 500 cells, ER Mapper into ER Mapper (best of %d)\n", kRuns);
  std::printf("  clipra-cli -j 2 --sheets:          %.3f s\n", batch);
  std::printf("  100 separate clipra-cli runs:      %.3f s\n", apart);
  std::printf("  ratio batch / separate runs:       %.2f (target: at most 0.5)\n", batch / apart);
  if (std::system("command -v gdal_translate >/dev/null 2>&1") != 0) {
    std::printf("gdal_translate is not installed: no ratio against it\n");
  } else {
    const double loop = Time("sh " + Quote(folder + "/gdal.sh"), clean);
    if (loop < 0) {
      std::printf("gdal_translate failed\n");
      return 1;
    }
    std::printf("  shell loop of 100 gdal_translate:  %.3f s\n", loop);
    std::printf("  ratio batch / gdal_translate loop: %.2f (target: at most 0.15)\n", batch / loop);
  }
  if (argc <= 1) fs::remove_all(folder);
  return 0;
}
