// Where a raster lies on the map: the size of its cells, one registration
// cell with the map point it sits on, and the names of the spheroid, datum
// and projection that the coordinates belong to.
#pragma once

#include <string>

namespace clipra {

struct Georeference {
  double CellSizeX = 1.0;
  double CellSizeY = 1.0;
  // The registration cell, in cells from the top-left corner of cell (0, 0).
  double RegCellX = 0;
  double RegCellY = 0;
  // The map point of the registration cell.
  double RegX = 0;
  double RegY = 0;
  std::string Spheroid = "RAW";
  std::string Datum = "RAW";
  std::string Projection = "RAW";

  // The map point of cell (0, 0), worked out in extended precision with the
  // cell sizes as stored.
  double LeftX() const {
    return static_cast<double>(static_cast<long double>(RegX) -
                               static_cast<long double>(CellSizeX) * RegCellX);
  }
  double TopY() const {
    return static_cast<double>(static_cast<long double>(RegY) +
                               static_cast<long double>(CellSizeY) * RegCellY);
  }
};

}  // namespace clipra
