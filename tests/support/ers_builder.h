// Builds small ER Mapper sources for tests: a header text and its raw cells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace clipra {

struct ErsSource {
  uint32_t width = 1;
  uint32_t lines = 1;
  uint32_t bands = 1;
  std::string cell_type = "Unsigned8BitInteger";
  bool msb_first = false;
  std::string cell_size_x = "1";
  std::string cell_size_y = "1";
  std::string eastings = "0";
  std::string northings = "0";
  std::string reg_cell_x;  // omitted when empty
  std::string reg_cell_y;
  std::string datum = "\"WGS84\"";
  std::string projection = "\"SUTM33\"";
  std::string coordinate_type = "EN";
  // Cells in band-interleaved-by-line order, already in the file's byte order.
  std::string data;

  // Writes `base`.ers and `base`; `base` is a path without extension.
  void Write(const std::string& base) const;
  std::string HeaderText() const;
};

// The cells of a source whose cell (x, y, b) holds f(x, y, b), stored with
// the cell type's size and the source's byte order.
std::string MakeCells(const ErsSource& s, double (*f)(uint32_t x, uint32_t y, uint32_t b));

// All cells of an ER Mapper raster read through the reading facade, band-
// interleaved by line, as floats; empty when it cannot be opened.
std::vector<float> ReadAllCells(const std::string& path, uint32_t* width = nullptr,
                                uint32_t* lines = nullptr, uint32_t* bands = nullptr);

}  // namespace clipra
