#include "support/ers_builder.h"

#include <fstream>

#include "dataset/byte_order.h"
#include "dataset/source.h"

namespace clipra {

std::string ErsSource::HeaderText() const {
  std::string h;
  h += "DatasetHeader Begin\n";
  h += "\tVersion\t= \"6.0\"\n";
  h += "\tDataSetType\t= ERStorage\n";
  h += "\tDataType\t= Raster\n";
  h += std::string("\tByteOrder\t= ") + (msb_first ? "MSBFirst" : "LSBFirst") + "\n";
  h += "\tCoordinateSpace Begin\n";
  h += "\t\tDatum\t= " + datum + "\n";
  h += "\t\tProjection\t= " + projection + "\n";
  h += "\t\tCoordinateType\t= " + coordinate_type + "\n";
  h += "\tCoordinateSpace End\n";
  h += "\tRasterInfo Begin\n";
  h += "\t\tCellType\t= " + cell_type + "\n";
  h += "\t\tCellInfo Begin\n";
  h += "\t\t\tXdimension\t= " + cell_size_x + "\n";
  h += "\t\t\tYdimension\t= " + cell_size_y + "\n";
  h += "\t\tCellInfo End\n";
  h += "\t\tNrOfLines\t= " + std::to_string(lines) + "\n";
  h += "\t\tNrOfCellsPerLine\t= " + std::to_string(width) + "\n";
  h += "\t\tRegistrationCoord Begin\n";
  h += "\t\t\tEastings\t= " + eastings + "\n";
  h += "\t\t\tNorthings\t= " + northings + "\n";
  h += "\t\tRegistrationCoord End\n";
  if (!reg_cell_x.empty()) h += "\t\tRegistrationCellX\t= " + reg_cell_x + "\n";
  if (!reg_cell_y.empty()) h += "\t\tRegistrationCellY\t= " + reg_cell_y + "\n";
  h += "\t\tNrOfBands\t= " + std::to_string(bands) + "\n";
  h += "\tRasterInfo End\n";
  h += "DatasetHeader End\n";
  return h;
}

void ErsSource::Write(const std::string& base) const {
  std::ofstream(base + ".ers", std::ios::binary) << HeaderText();
  std::ofstream(base, std::ios::binary) << data;
}

std::string MakeCells(const ErsSource& s, double (*f)(uint32_t, uint32_t, uint32_t)) {
  std::string out;
  const bool lsb = !s.msb_first;
  for (uint32_t y = 0; y < s.lines; ++y)
    for (uint32_t b = 0; b < s.bands; ++b)
      for (uint32_t x = 0; x < s.width; ++x) {
        const double v = f(x, y, b);
        unsigned char buf[4];
        size_t n = 0;
        if (s.cell_type == "Unsigned8BitInteger") {
          buf[0] = static_cast<unsigned char>(static_cast<int>(v));
          n = 1;
        } else if (s.cell_type == "Signed16BitInteger" || s.cell_type == "Unsigned16BitInteger") {
          write_ordered<uint16_t>(buf, static_cast<uint16_t>(static_cast<int32_t>(v)), lsb);
          n = 2;
        } else if (s.cell_type == "Signed32BitInteger") {
          write_ordered<uint32_t>(buf, static_cast<uint32_t>(static_cast<int64_t>(v)), lsb);
          n = 4;
        } else if (s.cell_type == "IEEE4ByteReal" || s.cell_type == "Signed32BitSingle") {
          write_ordered<float>(buf, static_cast<float>(v), lsb);
          n = 4;
        }
        out.append(reinterpret_cast<char*>(buf), n);
      }
  return out;
}

std::vector<float> ReadAllCells(const std::string& path, uint32_t* width, uint32_t* lines,
                                uint32_t* bands) {
  Source data;
  if (!data.Open(path)) return {};
  RasterReader& r = *data.GetReader();
  const uint32_t w = r.GetWidth(), h = r.GetLines(), n = r.GetBands();
  if (width) *width = w;
  if (lines) *lines = h;
  if (bands) *bands = n;
  std::vector<float> cells;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t b = 0; b < n; ++b)
      for (uint32_t x = 0; x < w; ++x) {
        float v = 0;
        r.GetCell(x, y, b, v);
        cells.push_back(v);
      }
  return cells;
}

}  // namespace clipra
