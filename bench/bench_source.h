// The source every benchmark cuts: 6000 x 6000 cells of three byte bands in
// ER Mapper form, 2 map units a cell, cell (0, 0) at (400000, 6200000).
#pragma once

#include <fstream>
#include <string>
#include <vector>

namespace clipra::bench {

constexpr int kSource = 6000;
constexpr double kCell = 2.0;
constexpr double kLeft = 400000;
constexpr double kTop = 6200000;

// Writes `base`.ers and its data file `base`: `size` x `size` cells, with a
// texture across lines and columns when `textured` (so that a compressed
// copy does not shrink to nothing).
inline void MakeSource(const std::string& base, int size = kSource, bool textured = false) {
  std::ofstream header(base + ".ers", std::ios::binary);
  header << "DatasetHeader Begin\n\tVersion\t= \"6.0\"\n\tDataSetType\t= ERStorage\n"
            "\tDataType\t= Raster\n\tByteOrder\t= LSBFirst\n\tCoordinateSpace Begin\n"
            "\t\tDatum\t= \"WGS84\"\n\t\tProjection\t= \"SUTM33\"\n\t\tCoordinateType\t= EN\n"
            "\tCoordinateSpace End\n\tRasterInfo Begin\n\t\tCellType\t= Unsigned8BitInteger\n"
            "\t\tCellInfo Begin\n\t\t\tXdimension\t= 2\n\t\t\tYdimension\t= 2\n\t\tCellInfo End\n"
            "\t\tNrOfLines\t= "
         << size << "\n\t\tNrOfCellsPerLine\t= " << size
         << "\n"
            "\t\tRegistrationCoord Begin\n\t\t\tEastings\t= 400000\n"
            "\t\t\tNorthings\t= 6200000\n\t\tRegistrationCoord End\n"
            "\t\tNrOfBands\t= 3\n\tRasterInfo End\nDatasetHeader End\n";
  std::ofstream data(base, std::ios::binary);
  std::vector<char> line(static_cast<size_t>(size));
  for (int y = 0; y < size; ++y)
    for (int b = 0; b < 3; ++b) {
      for (int x = 0; x < size; ++x)
        line[x] = static_cast<char>((x * (b + 1) + y * 3 + (textured ? x * y >> 7 : 0)) & 0xFF);
      data.write(line.data(), static_cast<std::streamsize>(line.size()));
    }
}

}  // namespace clipra::bench
