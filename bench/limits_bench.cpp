// Whole-process comparisons against the limits a clip should approach:
//  (a) 4000 x 4000 x 3 bytes from a 6000 x 6000 ER Mapper source into ER
//      Mapper, against a plain copy of the same bytes (this program's own
//      probe: fallocate, one memcpy per band-line, munmap) and against
//      gdal_translate -projwin;
//  (b) 2000 x 2000 from the middle of a 10000 x 10000 RGB JPEG (quality 85)
//      into ER Mapper, against gdal_translate: wall time and peak memory;
//  (c) clip (a) in the window, run unattended under Xvfb, against clipra-cli.
// Each command runs as a child process, the tools alternating; the median
// of the runs counts. Peak memory is the child's maximum resident set.
//
//   limits_bench [folder]   (default: a fresh folder under /tmp)
//   limits_bench --probe SOURCE OUTPUT   (the copy probe, for (a))
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_source.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 5;
constexpr uint32_t kErsSource = 6000;
constexpr uint32_t kErsWindow = 4000;
constexpr uint32_t kErsOffset = 1000;
constexpr uint32_t kJpegSource = 10000;
constexpr uint32_t kJpegWindow = 2000;

struct Measure {
  double seconds = -1;
  double mebibytes = 0;
};

// Runs `args` as a child with `env` added; -1 seconds when it fails.
Measure Run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return {};
  Measure m;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.mebibytes = usage.ru_maxrss / 1024.0;
  return m;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The output a command writes: its ".ers" header, or a plain file.
std::string OutputOf(const std::vector<std::string>& command) {
  for (const std::string& a : command)
    if (a.find("/a_") != std::string::npos || a.find("/b_") != std::string::npos ||
        a.find("/c_") != std::string::npos)
      return a;
  return {};
}

// Runs each command kRuns times, alternating, each time into a fresh output
// (replacing an old one would time the freeing of its blocks too); the
// median time and memory of each.
std::vector<Measure> Compare(const std::vector<std::vector<std::string>>& commands,
                             const std::vector<std::vector<std::string>>& envs) {
  auto run = [&](size_t i) {
    const std::string out = OutputOf(commands[i]);
    if (!out.empty()) {
      fs::remove(out);
      if (out.size() > 4 && out.ends_with(".ers")) fs::remove(out.substr(0, out.size() - 4));
      sync();
    }
    return Run(commands[i], envs[i]);
  };
  std::vector<std::vector<double>> t(commands.size()), m(commands.size());
  for (size_t i = 0; i < commands.size(); ++i) run(i);  // warm up
  for (int r = 0; r < kRuns; ++r)
    for (size_t i = 0; i < commands.size(); ++i) {
      const Measure x = run(i);
      if (x.seconds < 0) {
        std::fprintf(stderr, "failed: %s\n", commands[i][0].c_str());
        std::exit(1);
      }
      t[i].push_back(x.seconds);
      m[i].push_back(x.mebibytes);
    }
  std::vector<Measure> out;
  for (size_t i = 0; i < commands.size(); ++i) out.push_back({Median(t[i]), Median(m[i])});
  return out;
}

// The copy limit: the window's bytes of every band-line, one memcpy each.
int Probe(const char* source, const char* output) {
  const int in = open(source, O_RDONLY);
  const int out = open(output, O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) return 1;
  struct stat st {};
  fstat(in, &st);
  const uint64_t out_size = uint64_t{kErsWindow} * kErsWindow * 3;
  if (fallocate(out, 0, 0, static_cast<off_t>(out_size)) != 0) return 1;
  auto* src = static_cast<const uint8_t*>(
      mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, in, 0));
  auto* dst =
      static_cast<uint8_t*>(mmap(nullptr, out_size, PROT_READ | PROT_WRITE, MAP_SHARED, out, 0));
  if (src == MAP_FAILED || dst == MAP_FAILED) return 1;
  for (uint32_t y = 0; y < kErsWindow; ++y)
    for (uint32_t b = 0; b < 3; ++b)
      std::memcpy(dst + (uint64_t{y} * 3 + b) * kErsWindow,
                  src + ((uint64_t{y} + kErsOffset) * 3 + b) * kErsSource + kErsOffset, kErsWindow);
  munmap(dst, out_size);
  munmap(const_cast<uint8_t*>(src), static_cast<size_t>(st.st_size));
  close(in);
  close(out);
  return 0;
}

// Smooth value noise: a lattice of random values, interpolated.
struct ValueNoise {
  std::vector<float> lattice;
  uint32_t size;
  explicit ValueNoise(uint32_t n, uint32_t seed) : lattice(size_t{n} * n), size(n) {
    for (float& v : lattice) {
      seed = seed * 1664525u + 1013904223u;
      v = static_cast<float>(seed >> 8) / 16777216.0f;
    }
  }
  float At(double x, double y) const {
    const auto x0 = static_cast<uint32_t>(x), y0 = static_cast<uint32_t>(y);
    const float fx = static_cast<float>(x - x0), fy = static_cast<float>(y - y0);
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto l = [&](uint32_t i, uint32_t j) { return lattice[(j % size) * size + i % size]; };
    const float a = l(x0, y0) + (l(x0 + 1, y0) - l(x0, y0)) * sx;
    const float b = l(x0, y0 + 1) + (l(x0 + 1, y0 + 1) - l(x0, y0 + 1)) * sx;
    return a + (b - a) * sy;
  }
};

// An aerial-looking image: terrain of several octaves coloured from water
// through fields and forest to rock, with fine texture, encoded by cjpeg.
bool MakeJpegSource(const std::string& path) {
  const std::string command = "cjpeg -quality 85 -outfile '" + path + "'";
  FILE* pipe = popen(command.c_str(), "w");
  if (!pipe) return false;
  std::fprintf(pipe, "P6\n%u %u\n255\n", kJpegSource, kJpegSource);
  const ValueNoise noise(257, 12345);
  std::vector<uint8_t> line(size_t{kJpegSource} * 3);
  for (uint32_t y = 0; y < kJpegSource; ++y) {
    for (uint32_t x = 0; x < kJpegSource; ++x) {
      float h = 0, amplitude = 0.5f;
      double scale = 1.0 / 900;
      for (int octave = 0; octave < 7; ++octave, amplitude *= 0.5f, scale *= 2.1)
        h += amplitude * noise.At(x * scale + octave * 17.3, y * scale + octave * 5.1);
      const float grain = noise.At(x * 0.37, y * 0.41) - 0.5f;
      float r, g, b;
      if (h < 0.42f) {
        r = 30, g = 60 + 80 * h, b = 110 + 100 * h;
      } else if (h < 0.55f) {
        r = 120 + 200 * (h - 0.42f), g = 140 + 150 * (h - 0.42f), b = 70;
      } else if (h < 0.7f) {
        r = 40 + 60 * (h - 0.55f), g = 90 - 40 * (h - 0.55f), b = 35;
      } else {
        r = g = b = 110 + 180 * (h - 0.7f);
      }
      uint8_t* p = &line[size_t{x} * 3];
      p[0] = static_cast<uint8_t>(std::clamp(r + 40 * grain, 0.0f, 255.0f));
      p[1] = static_cast<uint8_t>(std::clamp(g + 40 * grain, 0.0f, 255.0f));
      p[2] = static_cast<uint8_t>(std::clamp(b + 40 * grain, 0.0f, 255.0f));
    }
    std::fwrite(line.data(), 1, line.size(), pipe);
  }
  return pclose(pipe) == 0;
}

std::string Fixed(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", v);
  return text;
}

void Report(const char* what, double ratio, double target, const char* unit = "x") {
  std::printf("  %-44s %.2f%s (target: at most %.2f%s) %s\n", what, ratio, unit, target, unit,
              ratio <= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--probe") return Probe(argv[2], argv[3]);
  const fs::path self = fs::canonical("/proc/self/exe");
  const fs::path build = self.parent_path().parent_path();
  const std::string cli = (build / "app" / "clipra-cli").string();
  const std::string window = (build / "app" / "gui" / "clipra").string();
  std::string folder;
  if (argc > 1) {
    folder = argv[1];
    fs::create_directories(folder);
  } else {
    char pattern[] = "/tmp/clipra-limits-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    folder = pattern;
  }
  const bool have_gdal = std::system("command -v gdal_translate >/dev/null 2>&1") == 0;

  // (a) ER Mapper into ER Mapper.
  const std::string ers = folder + "/ers_source";
  if (!fs::exists(ers + ".ers")) clipra::bench::MakeSource(ers);
  const double left = 400000 + kErsOffset * 2.0, top = 6200000 - kErsOffset * 2.0;
  const double right = left + (kErsWindow - 1) * 2.0, bottom = top - (kErsWindow - 1) * 2.0;
  const std::string area =
      "-A" + Fixed(left) + ":" + Fixed(top) + ":" + Fixed(right) + ":" + Fixed(bottom);
  std::vector<std::vector<std::string>> commands = {
      {cli, area, ers + ".ers", folder + "/a_clipra.ers"},
      {self.string(), "--probe", ers, folder + "/a_probe"}};
  if (have_gdal)
    commands.push_back({"gdal_translate", "-q", "-of", "ERS", "-projwin", Fixed(left), Fixed(top),
                        Fixed(left + kErsWindow * 2.0), Fixed(top - kErsWindow * 2.0), ers + ".ers",
                        folder + "/a_gdal.ers"});
  std::vector<Measure> m = Compare(commands, std::vector<std::vector<std::string>>(3));
  std::printf("(a) %u x %u x 3 from %u x %u ER Mapper into ER Mapper\n", kErsWindow, kErsWindow,
              kErsSource, kErsSource);
  std::printf("  clipra-cli %.3f s %.0f MiB, copy probe %.3f s %.0f MiB", m[0].seconds,
              m[0].mebibytes, m[1].seconds, m[1].mebibytes);
  if (have_gdal) std::printf(", gdal_translate %.3f s %.0f MiB", m[2].seconds, m[2].mebibytes);
  std::printf("\n");
  Report("clipra-cli / copy probe:", m[0].seconds / m[1].seconds, 1.25);
  if (have_gdal) Report("clipra-cli / gdal_translate:", m[0].seconds / m[2].seconds, 0.25);
  const double cli_seconds = m[0].seconds;

  // (b) The middle of a large JPEG.
  const std::string jpeg = folder + "/photo.jpg";
  if (!fs::exists(jpeg)) {
    std::printf("Encoding a %u x %u JPEG ...\n", kJpegSource, kJpegSource);
    if (!MakeJpegSource(jpeg)) return 1;
  }
  std::ofstream(folder + "/photo.jgw") << "1\n0\n0\n-1\n0.5\n-0.5\n";
  const uint32_t at = (kJpegSource - kJpegWindow) / 2;
  const std::string jpeg_area = "-A" + Fixed(at + 0.5) + ":" + Fixed(-(at + 0.5)) + ":" +
                                Fixed(at + kJpegWindow - 0.5) + ":" +
                                Fixed(-(at + kJpegWindow - 0.5));
  commands = {{cli, jpeg_area, jpeg, folder + "/b_clipra.ers"}};
  if (have_gdal)
    commands.push_back({"gdal_translate", "-q", "-of", "ERS", "-srcwin", std::to_string(at),
                        std::to_string(at), std::to_string(kJpegWindow),
                        std::to_string(kJpegWindow), jpeg, folder + "/b_gdal.ers"});
  m = Compare(commands, std::vector<std::vector<std::string>>(2));
  std::printf("(b) %u x %u from the middle of a %u x %u RGB JPEG into ER Mapper\n", kJpegWindow,
              kJpegWindow, kJpegSource, kJpegSource);
  std::printf("  clipra-cli %.3f s %.0f MiB", m[0].seconds, m[0].mebibytes);
  if (have_gdal) std::printf(", gdal_translate %.3f s %.0f MiB", m[1].seconds, m[1].mebibytes);
  std::printf("\n");
  if (have_gdal) Report("clipra-cli / gdal_translate:", m[0].seconds / m[1].seconds, 0.5);
  Report("clipra-cli peak memory:", m[0].mebibytes, 64, " MiB");

  // (c) The window, unattended, on a virtual display.
  if (!fs::exists(window) || std::system("command -v Xvfb >/dev/null 2>&1") != 0) {
    std::printf("(c) no window build or no Xvfb: skipped\n");
  } else {
    const pid_t xvfb = fork();
    if (xvfb == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execlp("Xvfb", "Xvfb", ":87", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
      _exit(127);
    }
    usleep(1500000);
    const std::vector<std::string> env = {"DISPLAY=:87", "QT_QPA_PLATFORM=xcb"};
    std::string slash_area = area;
    slash_area[0] = '/';
    commands = {{window, ers + ".ers", folder + "/c_window.ers", slash_area, "/F"},
                {cli, area, ers + ".ers", folder + "/c_cli.ers"}};
    m = Compare(commands, {env, env});
    kill(xvfb, SIGTERM);
    waitpid(xvfb, nullptr, 0);
    std::printf("(c) clip (a) in the window under Xvfb, unattended\n");
    std::printf("  clipra %.3f s, clipra-cli %.3f s (in (a): %.3f s)\n", m[0].seconds, m[1].seconds,
                cli_seconds);
    Report("clipra - clipra-cli:", m[0].seconds - m[1].seconds, 0.3, " s");
  }
  if (argc <= 1) fs::remove_all(folder);
  return 0;
}
