// What the format and dataset tests share: the headers they all use, byte
// builders and cell checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {

// A cell value from its column, line and band.
using CellFn = double (*)(uint32_t x, uint32_t y, uint32_t b);

// `values` in little-endian bytes, or big-endian with `msb_first`.
template <typename T>
std::string Ordered(std::initializer_list<T> values, bool msb_first = false) {
  std::string s;
  for (T v : values) {
    char b[sizeof(T)];
    write_ordered<T>(b, v, !msb_first);
    s.append(b, sizeof(T));
  }
  return s;
}
template <typename T>
std::string Le(std::initializer_list<T> values) {
  return Ordered<T>(values);
}

// A binary netpbm image (P5 for one channel, P6 for three) of f's bytes.
std::string MakePnm(uint32_t width, uint32_t height, uint32_t channels, CellFn f);
// Smooth gradients with some texture, so that every JPEG coefficient matters.
double Texture(uint32_t x, uint32_t y, uint32_t c);

// A binary P5 or P6 image as djpeg writes it; width 0 when unreadable.
struct Pnm {
  uint32_t width = 0, height = 0, channels = 0;
  std::string bytes;
  uint8_t At(uint32_t x, uint32_t y, uint32_t c) const {
    return static_cast<uint8_t>(bytes[(uint64_t{y} * width + x) * channels + c]);
  }
};
Pnm ParsePnm(const std::string& data);

// The reader is `width` x `lines` x `bands` and cell (x, y, b) holds
// want(x, y, b); a band past the last reads the last, cells past the right
// or bottom edge read false (and zero, unless told otherwise), and no line
// past the last is found.
void ExpectCells(RasterReader& reader, uint32_t width, uint32_t lines, uint32_t bands,
                 const std::function<double(uint32_t, uint32_t, uint32_t)>& want,
                 bool zero_outside = true);

// Clips with `args` (the last one an ER Mapper output) and checks the clip's cells.
void ExpectClip(const std::vector<std::string>& args, uint32_t width, uint32_t lines,
                uint32_t bands, const std::function<double(uint32_t, uint32_t, uint32_t)>& want);

// The shortest plain decimal that reads back as `v`.
std::string Num(double v);
// "SIZE_X SIZE_Y, LEFT TOP, PROJECTION DATUM SPHEROID" of a reader's cells,
// then ", cell X Y at MAP_X MAP_Y" when the registration cell is not (0, 0).
std::string Placement(RasterReader& reader);

// `lf_text` with CR LF line ends.
std::string CrLf(const std::string& lf_text);
// `text` with the value after the first `key` up to the line end replaced by "*".
std::string BlankValue(std::string text, const std::string& key);

}  // namespace clipra
