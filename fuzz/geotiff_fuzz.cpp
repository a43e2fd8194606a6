// TIFF sources through libtiff: the input is the whole file. The seeds are
// small GDAL-made files (LZW strips, Deflate tiles, planar PackBits, JPEG
// YCbCr, BigTIFF float, palette), so that the fuzzer starts inside the
// decoders, the GeoTIFF tags and the chunk cache.
#include <cstdint>
#include <string>

#include "dataset/source.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  const std::string& path = fuzz::WriteFuzzFile(data, size, ".tif");
  Source source;
  if (!source.Open(path)) return 0;
  fuzz::ExerciseSource(source, 16);
  // Spans as the job reads them: a window, then whole lines.
  RasterReader& r = *source.GetReader();
  const uint32_t w = r.GetWidth();
  const uint32_t lines = r.GetLines();
  if (w > 3 && lines > 0) r.AdviseRead(w / 3, 0, w - 1, lines - 1);
  for (uint32_t y = 0; y < lines && y < 40; ++y)
    for (uint32_t b = 0; b < r.GetBands() && b < 4; ++b) {
      uint64_t step = 0;
      uint32_t count = 0, begin = 0, end = 0;
      r.CellSpan(y, b, step, begin, end);
      r.CellRun(y, b, step, count);
    }
  return 0;
}
