#include "formats/image/world_file.h"

#include <cmath>
#include <cstdio>
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
  CentreToCorner(georef, file_name);
  georef.Projection = georef.Datum = georef.Spheroid = "UNKNOWN";
  return true;
}

bool ReadWorldFile(Georeference& georef, const std::string& file_name) {
  double rotation_x = 0;
  double rotation_y = 0;
  return ReadWorldFile(georef, file_name, rotation_x, rotation_y);
}

bool IsCornerWorldFile(const std::string& file_name) {
  std::string text;
  {
    std::FILE* f = std::fopen(file_name.c_str(), "rb");
    if (!f) return false;
    char buf[256];
    // Six lines of 18 characters and CR LF are 120 bytes; more is another layout.
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    text.assign(buf, n);
  }
  size_t pos = 0;
  for (int line = 0; line < 6; ++line) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) return false;
    const std::string number = StrTrim(text.substr(pos, end - pos));
    const size_t dot = number.find('.');
    if (number.empty() || dot == std::string::npos || number.size() - dot - 1 != 14) return false;
    for (size_t i = 0; i < number.size(); ++i) {
      const char c = number[i];
      const bool ok = (c >= '0' && c <= '9') || i == dot || (i == 0 && c == '-');
      if (!ok) return false;
    }
    pos = end + 2;
  }
  return pos == text.size();
}

void CentreToCorner(Georeference& georef, const std::string& file_name) {
  if (IsCornerWorldFile(file_name)) return;
  // A stored cell size of 0 reads as 1.0, as the readers read it.
  const long double x = georef.CellSizeX == 0 ? 1.0L : georef.CellSizeX;
  const long double y = georef.CellSizeY == 0 ? 1.0L : georef.CellSizeY;
  georef.RegX = static_cast<double>(georef.RegX - x / 2);
  georef.RegY = static_cast<double>(georef.RegY + y / 2);
}

std::string FormatWorldNumber(double value) {
  return FormatFixedWidth(value, 18, 14);
}

std::string CentreWorldFileText(const Georeference& georef) {
  const long double x = static_cast<long double>(georef.LeftX()) + georef.CellSizeX / 2.0L;
  const long double y = static_cast<long double>(georef.TopY()) - georef.CellSizeY / 2.0L;
  std::string text;
  for (long double v : {static_cast<long double>(georef.CellSizeX), 0.0L, 0.0L,
                        -static_cast<long double>(georef.CellSizeY), x, y})
    text += FormatFixedWidth(v, 0, 10) + "\r\n";
  return text;
}

bool WriteWorldFile(const std::string& file_name, double cell_width, double rotation_x,
                    double rotation_y, double cell_height, double left_x, double top_y) {
  std::string text;
  for (double v : {cell_width, rotation_x, rotation_y, cell_height, left_x, top_y})
    text += FormatWorldNumber(v) + "\r\n";
  return WriteTextFile(file_name, text);
}

std::string FindWorldFile(const std::string& image, std::initializer_list<const char*> extensions) {
  for (const char* ext : extensions) {
    std::string world = FindSidecar(ChangeFileExt(image, ext));
    if (!world.empty()) return world;
  }
  return {};
}

}  // namespace clipra
