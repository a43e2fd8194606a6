// What every reader's fuzz target does once a source has opened: read a
// bounded spread of its cells every way the job and the facade can.
#pragma once

#include <cstdint>

#include "dataset/source.h"

namespace clipra::fuzz {

// Columns or lines to sample: the first few, then a spread to the far end
// and one step beyond it.
inline uint32_t Sample(uint32_t size, uint32_t i) {
  if (i < 8 || size <= 8) return i;
  return static_cast<uint32_t>(uint64_t{size} * (i - 8) / 8);
}

// Reads 18 x 18 cells in every band (and one beyond the last), by cell and
// by map point, nearest and bilinear. `tile` shifts every other line's far
// samples onto the last cell of a tile, for tiled formats.
inline void ExerciseSource(Source& source, uint32_t tile = 0) {
  RasterReader& r = *source.GetReader();
  const uint32_t w = r.GetWidth();
  const uint32_t h = r.GetLines();
  const uint32_t bands = r.GetBands();
  // A block advised first and read through its spans, as the job does;
  // the cells after it lie mostly outside the block.
  if (w > 0 && h > 0 && source.AdviseRead(w / 3, h / 3, w / 3 + 5, h / 3 + 5)) {
    uint64_t step = 0;
    uint32_t begin = 0, end = 0;
    const uint8_t* run = r.CellSpan(h / 3, 0, step, begin, end);
    volatile uint8_t sink = 0;
    if (run && begin <= w / 3 && end > w / 3) sink = run[uint64_t{w / 3 - begin} * step];
    (void)sink;
  }
  for (uint32_t j = 0; j <= 17; ++j) {
    for (uint32_t i = 0; i <= 17; ++i) {
      const uint32_t x = Sample(w, i) + (tile > 0 && i >= 8 && (j & 1) ? tile - 1 : 0);
      const uint32_t y = Sample(h, j);
      float v = 0;
      for (uint32_t b : {0u, 1u, 2u, bands - 1, bands}) r.GetCell(x, y, b, v);
      double mx = 0, my = 0;
      r.CellToMap(x, y, mx, my);
      source.GetValue(i % 4, v, mx, my, 0);
      source.GetValue(bands > 0 ? bands - 1 : 0, v, mx + 0.3, my - 0.7, 1);
    }
  }
}

}  // namespace clipra::fuzz
