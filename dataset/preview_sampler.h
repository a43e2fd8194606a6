// The picture of a source at screen resolution: one cell per screen pixel,
// picked by the same nearest-cell rule as the extraction job, so a source
// of any size costs only as many cell reads as the view has pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dataset/source.h"

namespace clipra {

// A rectangle of map space laid over `width` x `height` pixels. Pixel
// (px, py) shows the cell nearest to its centre,
// (left + (px + 0.5) * unit_x, top - (py + 0.5) * unit_y).
struct PreviewView {
  double left = 0;    // map X of the pixels' left edge
  double top = 0;     // map Y of the pixels' top edge
  double unit_x = 1;  // map units per pixel across
  double unit_y = 1;  // map units per pixel down
  uint32_t width = 0;
  uint32_t height = 0;
};

// The cells a view picked, pixel by pixel.
struct PreviewSamples {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bands = 0;            // 1, or 3 for a colour source
  bool byte_cells = false;       // unsigned bytes: colour is shown as stored
  std::vector<float> values;     // width * height * bands, pixel by pixel
  std::vector<uint8_t> covered;  // 1 where the pixel found a cell
};

// Samples `reader` for `view`: three-band sources as colour, any other band
// count by its first band. A pixel is covered when its centre rounds to a
// cell of the source (in colour, a cell of the first band). `cancelled` is
// asked between lines; false when it said yes, with `out` incomplete.
bool SamplePreview(RasterReader& reader, const PreviewView& view, PreviewSamples& out,
                   const std::function<bool()>& cancelled = {});

// The samples as 0xFFRRGGBB pixels, top line first. Byte colour is shown
// as stored; one band, and colour of any other cell type band by band, is
// stretched linearly between the 2nd and 98th percentiles of the covered
// pixels. Pixels without a cell show a grey checker of `checker` pixels.
std::vector<uint32_t> RenderPreview(const PreviewSamples& samples, uint32_t checker = 8);

}  // namespace clipra
