// Times a 4000 x 4000 window cut from a 6000 x 6000 three-band byte ER Mapper
// source into ER Mapper, and the same cut by gdal_translate -projwin where it
// is installed. Prints both times and their ratio (ours / GDAL's).
//
//   extract_bench [folder]   (default: a fresh folder under /tmp)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/core/job.h"
#include "bench/bench_source.h"

namespace {

using clipra::bench::kCell;
using clipra::bench::kLeft;
using clipra::bench::kSource;
using clipra::bench::kTop;
using clipra::bench::MakeSource;

constexpr int kWindow = 4000;
constexpr int kRuns = 3;

double Seconds(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double TimeClipra(const std::string& source, const std::string& output) {
  clipra::ExtractOptions o;
  o.TopLeftX = kLeft + 1000 * kCell;
  o.TopLeftY = kTop - 1000 * kCell;
  o.BotRightX = o.TopLeftX + (kWindow - 1) * kCell;
  o.BotRightY = o.TopLeftY - (kWindow - 1) * kCell;
  const auto start = std::chrono::steady_clock::now();
  clipra::AbortRequested = false;
  clipra::ExtractJob job(source, output, o, nullptr);
  job.Run();
  const double t = Seconds(start);
  if (job.StatusText != "Successful Finish") {
    std::fprintf(stderr, "clipra: %s\n", job.StatusText.c_str());
    std::exit(1);
  }
  return t;
}

double TimeCommand(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double t = Seconds(start);
  if (status != 0) return -1;
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string folder;
  if (argc > 1) {
    folder = argv[1];
    fs::create_directories(folder);
  } else {
    char pattern[] = "/tmp/clipra-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  const std::string source = folder + "/source";
  if (!fs::exists(source + ".ers")) {
    std::printf("Writing a %d x %d x 3 source in %s ...\n", kSource, kSource, folder.c_str());
    MakeSource(source);
  }
  // Warm the page cache so that both tools read from memory.
  TimeClipra(source + ".ers", folder + "/warm.ers");
  const bool have_gdal = std::system("command -v gdal_translate >/dev/null 2>&1") == 0;
  if (!have_gdal) std::printf("gdal_translate is not installed: no ratio\n");

  // A TIFF copy of the source, made by GDAL, for the TIFF-source case; its
  // GeoTIFF tags put cell (0, 0) where the ER Mapper source has it.
  const bool have_tiff = have_gdal && (fs::exists(source + ".tif") ||
                                       std::system(("gdal_translate -q -of GTiff '" + source +
                                                    ".ers' '" + source + ".tif' >/dev/null 2>&1")
                                                       .c_str()) == 0);

  // ER Mapper into ER Mapper is the target; the others are shown beside it.
  struct Kind {
    const char* label;
    const char* source_extension;
    const char* extension;
    const char* gdal_format;
  };
  for (const Kind& kind : {Kind{"ER Mapper into ER Mapper", ".ers", ".ers", "ERS"},
                           Kind{"ER Mapper into TIFF", ".ers", ".tif", "GTiff"},
                           Kind{"TIFF into ER Mapper", ".tif", ".ers", "ERS"}}) {
    if (kind.source_extension == std::string(".tif") && !have_tiff) continue;
    const std::string input = source + kind.source_extension;
    const std::string output = std::string("-from-") + (kind.source_extension + 1) + kind.extension;
    double ours = 1e9;
    for (int i = 0; i < kRuns; ++i)
      ours = std::min(ours, TimeClipra(input, folder + "/clipra" + output));
    std::printf("%s\n  clipra:          %.3f s (best of %d)\n", kind.label, ours, kRuns);
    if (!have_gdal) continue;
    char command[1024];
    const double ulx = kLeft + 1000 * kCell, uly = kTop - 1000 * kCell;
    std::snprintf(command, sizeof command,
                  "gdal_translate -q -of %s -projwin %.3f %.3f %.3f %.3f '%s' '%s/gdal%s'",
                  kind.gdal_format, ulx, uly, ulx + kWindow * kCell, uly - kWindow * kCell,
                  input.c_str(), folder.c_str(), output.c_str());
    double gdal = 1e9;
    for (int i = 0; i < kRuns; ++i) {
      const double t = TimeCommand(command);
      if (t < 0) {
        std::printf("gdal_translate failed\n");
        return 1;
      }
      gdal = std::min(gdal, t);
    }
    std::printf("  gdal_translate:  %.3f s (best of %d)\n", gdal, kRuns);
    std::printf(
        "  ratio clipra / gdal_translate: %.2f%s\n", ours / gdal,
        kind.label == std::string("ER Mapper into ER Mapper") ? " (target: at most 1.0)" : "");
  }
  if (argc <= 1) fs::remove_all(folder);
  return 0;
}
