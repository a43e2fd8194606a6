#include "formats/image/world_file.h"

#include <cmath>
#include <memory>

#include "dataset/line_reader.h"
#include "dataset/source.h"
#include "dataset/utils.h"

namespace clipra {

bool ReadWorldFile(RasterReader& reader, const std::string& file_name, double& rotation_x,
                   double& rotation_y) {
  if (!FileExists(file_name)) {
    reader.SetProjection("RAW");
    reader.SetDatum("RAW");
    reader.SetSpheroid("RAW");
    reader.SetCellSizeX(1.0);
    rotation_x = 0;
    rotation_y = 0;
    reader.SetCellSizeY(1.0);
    reader.SetRegX(0);
    reader.SetRegY(0);
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
  reader.SetCellSizeX(next(1.0));
  rotation_x = next(0);
  rotation_y = next(0);
  reader.SetCellSizeY(std::fabs(next(1.0)));
  reader.SetRegX(next(0));
  reader.SetRegY(next(0));
  text.reset();
  reader.SetProjection("UNKNOWN");
  reader.SetDatum("UNKNOWN");
  reader.SetSpheroid("UNKNOWN");
  return true;
}

bool ReadWorldFile(RasterReader& reader, const std::string& file_name) {
  double rotation_x = 0;
  double rotation_y = 0;
  return ReadWorldFile(reader, file_name, rotation_x, rotation_y);
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
