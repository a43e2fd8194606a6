#include "dataset/preview_sampler.h"

#include <algorithm>
#include <cmath>

#include "dataset/cell_codec.h"

namespace clipra {

namespace {

constexpr int64_t kNoCell = -1;

// The source index nearest to the centre of each of `count` pixels.
std::vector<int64_t> PixelCells(uint32_t count, double edge, double unit, double origin,
                                double cell_size, int sign, uint32_t cells) {
  std::vector<int64_t> index(count, kNoCell);
  for (uint32_t p = 0; p < count; ++p) {
    const double map =
        static_cast<double>(edge + sign * (static_cast<long double>(p) + 0.5L) * unit);
    uint32_t i = 0;
    if (MapToIndex(map, origin, cell_size, sign, i) && i < cells) index[p] = i;
  }
  return index;
}

}  // namespace

bool SamplePreview(RasterReader& reader, const PreviewView& view, PreviewSamples& out,
                   const std::function<bool()>& cancelled) {
  const uint32_t source_bands = reader.GetBands();
  out.width = view.width;
  out.height = view.height;
  out.bands = source_bands == 3 ? 3 : 1;
  out.byte_cells = reader.GetCellType() == CellType::kUnsigned8;
  const size_t pixels = size_t{view.width} * view.height;
  out.values.assign(pixels * out.bands, 0.0f);
  out.covered.assign(pixels, 0);
  if (pixels == 0 || source_bands == 0) return true;

  const std::vector<int64_t> columns =
      PixelCells(view.width, view.left, view.unit_x, reader.GetLeftX(), reader.GetCellSizeX(), +1,
                 reader.GetWidth());
  const std::vector<int64_t> rows = PixelCells(view.height, view.top, view.unit_y, reader.GetTopY(),
                                               reader.GetCellSizeY(), -1, reader.GetLines());
  const CellType cell_type = reader.GetCellType();
  const bool decodable = cell_type == CellType::kUnsigned8 || cell_type == CellType::kSigned16 ||
                         cell_type == CellType::kUnsigned16 || cell_type == CellType::kSigned32 ||
                         cell_type == CellType::kFloat32;
  for (uint32_t py = 0; py < view.height; ++py) {
    if (cancelled && cancelled()) return false;
    if (rows[py] == kNoCell) continue;
    const uint32_t row = static_cast<uint32_t>(rows[py]);
    float* values = out.values.data() + size_t{py} * view.width * out.bands;
    uint8_t* covered = out.covered.data() + size_t{py} * view.width;
    for (uint32_t b = 0; b < out.bands; ++b) {
      uint64_t step = 0;
      uint32_t count = 0;
      // A run is valid only until the reader is next used: it serves the
      // whole line of this band, or GetCell does.
      const uint8_t* run = decodable ? reader.CellRun(row, b, step, count) : nullptr;
      for (uint32_t px = 0; px < view.width; ++px) {
        const int64_t col = columns[px];
        if (col == kNoCell || (b > 0 && !covered[px])) continue;
        float v = 0;
        bool found = false;
        if (run) {
          found = col < count;
          if (found)
            v = static_cast<float>(
                DecodeCell(run + uint64_t(col) * step, cell_type, reader.LSBFirst));
        } else {
          found = reader.GetCell(static_cast<uint32_t>(col), row, b, v);
        }
        // Colour takes its coverage from the first band, as the job does.
        if (b == 0) covered[px] = found ? 1 : 0;
        values[size_t{px} * out.bands + b] = found ? v : 0.0f;
      }
    }
  }
  return true;
}

std::vector<uint32_t> RenderPreview(const PreviewSamples& s, uint32_t checker) {
  const size_t pixels = size_t{s.width} * s.height;
  std::vector<uint32_t> argb(pixels);
  if (checker == 0) checker = 1;
  for (uint32_t y = 0; y < s.height; ++y)
    for (uint32_t x = 0; x < s.width; ++x)
      argb[size_t{y} * s.width + x] = (x / checker + y / checker) % 2 ? 0xFF9C9C9Cu : 0xFFD0D0D0u;
  if (s.bands == 0 || s.values.size() != pixels * s.bands || s.covered.size() != pixels)
    return argb;

  const bool as_stored = s.bands == 3 && s.byte_cells;
  float low[3] = {0, 0, 0};
  float scale[3] = {1, 1, 1};
  if (!as_stored) {
    std::vector<float> band;
    band.reserve(pixels);
    for (uint32_t b = 0; b < s.bands; ++b) {
      band.clear();
      for (size_t i = 0; i < pixels; ++i)
        if (s.covered[i] && std::isfinite(s.values[i * s.bands + b]))
          band.push_back(s.values[i * s.bands + b]);
      if (band.empty()) continue;
      const auto at = [&band](double fraction) {
        const size_t k = static_cast<size_t>(fraction * static_cast<double>(band.size() - 1));
        std::nth_element(band.begin(), band.begin() + static_cast<ptrdiff_t>(k), band.end());
        return band[k];
      };
      const float lo = at(0.02);
      const float hi = at(0.98);
      low[b] = lo;
      scale[b] = hi > lo ? 255.0f / (hi - lo) : 1.0f;
    }
  }
  auto level = [&](float v, uint32_t b) -> uint32_t {
    if (as_stored) return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f));
    const float t = (v - low[b]) * scale[b];
    if (!(t > 0)) return 0;  // also for a value that is not a number
    return t >= 255 ? 255u : static_cast<uint32_t>(t + 0.5f);
  };
  for (size_t i = 0; i < pixels; ++i) {
    if (!s.covered[i]) continue;
    const float* v = &s.values[i * s.bands];
    const uint32_t r = level(v[0], 0);
    const uint32_t g = s.bands == 3 ? level(v[1], 1) : r;
    const uint32_t b = s.bands == 3 ? level(v[2], 2) : r;
    argb[i] = 0xFF000000u | r << 16 | g << 8 | b;
  }
  return argb;
}

}  // namespace clipra
