// VEG rasters through the real file path: two files built from one input.
// Bytes 0-1 (little-endian) give the length of the ".dat" header that
// follows byte 2; the rest is the ".veg" tile file, padded with a byte
// pattern to (byte 2 mod 8) x 100,000 bytes so that whole tiles can be read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  if (size < 3) return 0;
  static fuzz::ScratchFolder dir;
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
  dir.Write("map.dat", std::string(rest, dat_size));
  const std::string veg_path = dir.Write("map.veg", veg);

  Source source;
  if (!source.Open(veg_path)) return 0;
  fuzz::ExerciseSource(source, 250);
  return 0;
}
