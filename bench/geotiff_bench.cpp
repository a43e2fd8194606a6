// Cuts 2000 x 2000 cells from the middle of a 10000 x 10000 three-band LZW
// GeoTIFF with 256 x 256 tiles into a TIFF, and the same window with
// gdal_translate -projwin. Each runs in a child process, so that both peak
// memories (maximum resident set) are measured alike. Prints the best wall
// times of three runs, their ratio (target: at most 0.7) and both peaks
// (target: ours no higher). Then the same into Deflate tiles: --compress
// deflate against gdal_translate -co COMPRESS=DEFLATE -co TILED=YES with the
// same predictor, with both files' sizes (target: time ratio at most 1.0).
//
//   geotiff_bench [folder]   (default: a fresh folder under /tmp)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/core/job.h"
#include "bench/bench_source.h"

namespace {

constexpr int kSource = 10000;
constexpr int kWindow = 2000;
constexpr double kCell = 2.0;
constexpr double kLeft = 400000;
constexpr double kTop = 6200000;
constexpr int kRuns = 3;

struct Run {
  double seconds = 0;
  long peak_kib = 0;
  bool ok = false;
};

// Runs `work` in a child; its wall time and maximum resident set.
Run InChild(const std::function<int()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(work());
  int status = 0;
  rusage usage{};
  Run r;
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peak_kib = usage.ru_maxrss;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

int Clip(const std::string& source, const std::string& output,
         clipra::TiffCompression compression = clipra::TiffCompression::kNone) {
  clipra::ExtractOptions o;
  o.Compression = compression;
  o.TopLeftX = kLeft + (kSource - kWindow) / 2 * kCell;
  o.TopLeftY = kTop - (kSource - kWindow) / 2 * kCell;
  o.BotRightX = o.TopLeftX + (kWindow - 1) * kCell;
  o.BotRightY = o.TopLeftY - (kWindow - 1) * kCell;
  clipra::ExtractJob job(source, output, o, nullptr);
  job.Run();
  if (job.StatusText != "Successful Finish") {
    std::fprintf(stderr, "clipra: %s\n", job.StatusText.c_str());
    return 1;
  }
  return 0;
}

bool MakeSource(const std::string& folder) {
  const std::string raw = folder + "/raw";
  clipra::bench::MakeSource(raw, kSource, true);
  const int status = std::system(("gdal_translate -q -co COMPRESS=LZW -co TILED=YES "
                                  "-co BLOCKXSIZE=256 -co BLOCKYSIZE=256 '" +
                                  raw + ".ers' '" + folder + "/source.tif'")
                                     .c_str());
  std::filesystem::remove(raw);
  std::filesystem::remove(raw + ".ers");
  return status == 0;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (std::system("command -v gdal_translate >/dev/null 2>&1") != 0) {
    std::printf("gdal_translate is not installed: nothing to compare with\n");
    return 0;
  }
  std::string folder;
  if (argc > 1) {
    folder = argv[1];
    fs::create_directories(folder);
  } else {
    char pattern[] = "/tmp/clipra-geotiff-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  const std::string source = folder + "/source.tif";
  if (!fs::exists(source)) {
    std::printf("Writing a %d x %d x 3 LZW GeoTIFF with 256 x 256 tiles in %s ...\n", kSource,
                kSource, folder.c_str());
    if (!MakeSource(folder)) return 1;
  }
  const double ulx = kLeft + (kSource - kWindow) / 2 * kCell;
  const double uly = kTop - (kSource - kWindow) / 2 * kCell;
  char command[1024];
  std::snprintf(command, sizeof command,
                "gdal_translate -q -of GTiff -projwin %.3f %.3f %.3f %.3f '%s' '%s/gdal.tif'", ulx,
                uly, ulx + kWindow * kCell, uly - kWindow * kCell, source.c_str(), folder.c_str());
  // Warm the page cache for both.
  InChild([&] { return Clip(source, folder + "/clipra.tif"); });
  Run ours{1e9, 0, true}, gdal{1e9, 0, true};
  for (int i = 0; i < kRuns; ++i) {
    const Run a = InChild([&] { return Clip(source, folder + "/clipra.tif"); });
    const Run g = InChild([&] { return std::system(command) == 0 ? 0 : 1; });
    if (!a.ok || !g.ok) {
      std::printf("a run failed\n");
      return 1;
    }
    ours.seconds = std::min(ours.seconds, a.seconds);
    gdal.seconds = std::min(gdal.seconds, g.seconds);
    ours.peak_kib = std::max(ours.peak_kib, a.peak_kib);
    gdal.peak_kib = std::max(gdal.peak_kib, g.peak_kib);
  }
  std::printf("2000 x 2000 x 3 from a 10000 x 10000 LZW GeoTIFF, 256 x 256 tiles\n");
  std::printf("  clipra:          %.3f s, peak %ld KiB\n", ours.seconds, ours.peak_kib);
  std::printf("  gdal_translate:  %.3f s, peak %ld KiB\n", gdal.seconds, gdal.peak_kib);
  std::printf("  time ratio clipra / gdal_translate: %.2f (target: at most 0.7)\n",
              ours.seconds / gdal.seconds);
  std::printf("  memory ratio clipra / gdal_translate: %.2f (target: at most 1.0)\n",
              static_cast<double>(ours.peak_kib) / static_cast<double>(gdal.peak_kib));

  const std::string deflate =
      std::string(command).replace(std::string(command).find("-of GTiff"), 9,
                                   "-of GTiff -co COMPRESS=DEFLATE -co TILED=YES -co PREDICTOR=2");
  Run ours_z{1e9, 0, true}, gdal_z{1e9, 0, true};
  for (int i = 0; i < kRuns; ++i) {
    const Run a = InChild([&] {
      return Clip(source, folder + "/clipra_deflate.tif", clipra::TiffCompression::kDeflate);
    });
    const Run g = InChild([&] { return std::system(deflate.c_str()) == 0 ? 0 : 1; });
    if (!a.ok || !g.ok) {
      std::printf("a Deflate run failed\n");
      return 1;
    }
    ours_z.seconds = std::min(ours_z.seconds, a.seconds);
    gdal_z.seconds = std::min(gdal_z.seconds, g.seconds);
  }
  std::printf("The same into Deflate tiles with the horizontal predictor\n");
  std::printf("  clipra --compress deflate:  %.3f s, %ju bytes\n", ours_z.seconds,
              static_cast<uintmax_t>(fs::file_size(folder + "/clipra_deflate.tif")));
  std::printf("  gdal_translate -co COMPRESS=DEFLATE -co TILED=YES:  %.3f s, %ju bytes\n",
              gdal_z.seconds, static_cast<uintmax_t>(fs::file_size(folder + "/gdal.tif")));
  std::printf("  time ratio clipra / gdal_translate: %.2f (target: at most 1.0)\n",
              ours_z.seconds / gdal_z.seconds);
  if (argc <= 1) fs::remove_all(folder);
  return 0;
}
