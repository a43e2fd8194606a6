// Small fixtures shared by the job, command-line, settings and window tests.
// Header-only, so that the window's test program needs nothing more to link.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataset/os_locale.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"

namespace clipra {

// A source of `width` x `lines` cells, each `cell_x` x `cell_y` map units,
// whose cell (0, 0) lies at (`eastings`, `northings`).
inline ErsSource Grid(uint32_t width, uint32_t lines, uint32_t bands, const std::string& cell_x,
                      const std::string& cell_y, const std::string& eastings,
                      const std::string& northings,
                      const std::string& cell_type = "Unsigned8BitInteger") {
  ErsSource s;
  s.width = width;
  s.lines = lines;
  s.bands = bands;
  s.cell_size_x = cell_x;
  s.cell_size_y = cell_y;
  s.eastings = eastings;
  s.northings = northings;
  s.cell_type = cell_type;
  return s;
}

// Fills `s` with f(x, y, band), writes it as `name` and `name`.ers in `dir`
// and gives the header's path.
inline std::string WriteSource(const TempDir& dir, const std::string& name, ErsSource s,
                               double (*f)(uint32_t x, uint32_t y, uint32_t b)) {
  s.data = MakeCells(s, f);
  s.Write(dir.Path(name));
  return dir.Path(name + ".ers");
}

// The cells of a raster read through the reading facade as text: values
// apart by " ", bands by "/" and lines by "|"; empty when it cannot be opened.
inline std::string CellText(const std::string& path) {
  uint32_t width = 0, lines = 0, bands = 0;
  const std::vector<float> cells = ReadAllCells(path, &width, &lines, &bands);
  std::string text;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) text += i % (width * bands) == 0 ? "|" : i % width == 0 ? "/" : " ";
    text += FormatGeneral(cells[i]);
  }
  return text;
}

// Forces the decimal separator the program takes for the locale's, for one scope.
class SeparatorScope {
 public:
  explicit SeparatorScope(char c) { SetLocaleDecimalSeparator(c); }
  ~SeparatorScope() { SetLocaleDecimalSeparator(0); }
  SeparatorScope(const SeparatorScope&) = delete;
  SeparatorScope& operator=(const SeparatorScope&) = delete;
};

}  // namespace clipra
