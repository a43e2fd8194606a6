// VEG rasters through the real file path: two files built from one input.
// Bytes 0-1 (little-endian) give the length of the ".dat" header that
// follows byte 2; the rest is the ".veg" tile file, padded with a byte
// pattern to (byte 2 mod 8) x 100,000 bytes so that whole tiles can be read.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/dataset2.h"

namespace {

// A folder of this process for the pair, removed at exit.
class PairDir {
 public:
  PairDir() {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/clipra-veg-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    dir_ = pattern;
  }
  ~PairDir() {
    ::unlink(Path(".dat").c_str());
    ::unlink(Path(".veg").c_str());
    ::rmdir(dir_.c_str());
  }
  std::string Path(const std::string& ext) const { return dir_ + "/map" + ext; }

 private:
  std::string dir_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr ||
      (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) ||
      std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::abort();
  }
}

uint32_t Sample(uint32_t size, uint32_t i) {
  if (i < 8 || size <= 8) return i;
  return static_cast<uint32_t>(uint64_t{size} * (i - 8) / 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  if (size < 3) return 0;
  static PairDir dir;
  const size_t dat_size = std::min<size_t>(data[0] | (size_t{data[1]} << 8), size - 3);
  const size_t padded = size_t{data[2] & 7u} * 100000;
  const char* rest = reinterpret_cast<const char*>(data + 3);
  std::string veg(rest + dat_size, size - 3 - dat_size);
  static const std::string pattern = [] {
    std::string p(7 * 100000, '\0');
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<char>(i * 7);
    return p;
  }();
  if (veg.size() < padded) veg.append(pattern, veg.size(), padded - veg.size());
  WriteFile(dir.Path(".dat"), std::string(rest, dat_size));
  WriteFile(dir.Path(".veg"), veg);

  TDataSet2 source;
  if (!source.Open(dir.Path(".veg"), 0, 0, 1, 1, 0)) return 0;
  TDataSetRoot2& r = *source.GetReader();
  const uint32_t w = r.GetWidth();
  const uint32_t h = r.GetLines();
  for (uint32_t j = 0; j <= 17; ++j) {
    for (uint32_t i = 0; i <= 17; ++i) {
      const uint32_t x = Sample(w, i) + (i >= 8 ? 249 * (j & 1) : 0);
      const uint32_t y = Sample(h, j);
      float v = 0;
      r.GetCell(x, y, 0, v);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      source.GetValue(0, v, mx, my, 0);
    }
  }
  return 0;
}
