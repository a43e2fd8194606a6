#include "formats/image/world_file.h"

#include <cmath>
#include <memory>

#include "dataset/line_reader.h"
#include "dataset/utils.h"

namespace clipra {

bool ReadWorldFile(Georeference& georef, const std::string& file_name, double& rotation_x,
                   double& rotation_y) {
  if (!FileExists(file_name)) {
    georef.Projection = georef.Datum = georef.Spheroid = "RAW";
    georef.CellSizeX = georef.CellSizeY = 1.0;
    georef.RegX = georef.RegY = 0;
    rotation_x = 0;
    rotation_y = 0;
  }
  std::unique_ptr<LineReader> text;
  try {
    text = std::make_unique<LineReader>(file_name);
  } catch (const LineReaderError&) {
    return false;
  }
  // A missing line reads as the end-of-file line, which is no number.
  std::string line;
  auto next = [&](long double def) {
    return static_cast<double>(ParseFloatDef(text->ReadLine(line), def));
  };
  georef.CellSizeX = next(1.0);
  rotation_x = next(0);
  rotation_y = next(0);
  georef.CellSizeY = std::fabs(next(1.0));
  georef.RegX = next(0);
  georef.RegY = next(0);
  text.reset();
  georef.Projection = georef.Datum = georef.Spheroid = "UNKNOWN";
  return true;
}

bool ReadWorldFile(Georeference& georef, const std::string& file_name) {
  double rotation_x = 0;
  double rotation_y = 0;
  return ReadWorldFile(georef, file_name, rotation_x, rotation_y);
}

std::string FormatWorldNumber(double value) {
  return FormatFixedWidth(value, 18, 14);
}

bool WriteWorldFile(const std::string& file_name, double cell_width, double rotation_x,
                    double rotation_y, double cell_height, double left_x, double top_y) {
  std::string text;
  for (double v : {cell_width, rotation_x, rotation_y, cell_height, left_x, top_y})
    text += FormatWorldNumber(v) + "\r\n";
  return WriteTextFile(file_name, text);
}

}  // namespace clipra
