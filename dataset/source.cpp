#include "dataset/source.h"

#include <cmath>
#include <exception>
#include <new>

#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

RasterReader::RasterReader() = default;
RasterReader::~RasterReader() = default;

double RasterReader::GetLeftX() {
  const Georeference& g = Georef();
  return static_cast<double>(static_cast<long double>(g.RegX) -
                             static_cast<long double>(GetCellSizeX()) * g.RegCellX);
}

double RasterReader::GetTopY() {
  const Georeference& g = Georef();
  return static_cast<double>(static_cast<long double>(g.RegY) +
                             static_cast<long double>(GetCellSizeY()) * g.RegCellY);
}

bool RasterReader::OpenExisting(const std::string& file_name) {
  if (!FileExists(file_name)) {
    ErrorText = "File not Exists";
    return false;
  }
  return Open(file_name);
}

std::vector<std::string> RasterReader::Files() const {
  if (FileName.empty()) return {};
  return {FileName};
}

CoordinateType RasterReader::GetCoordinateType() {
  return CoordinateType::kRaw;
}

void RasterReader::CellToMap(double col, double row, double& map_x, double& map_y) {
  map_x = static_cast<double>(GetLeftX() + static_cast<long double>(GetCellSizeX()) * col);
  map_y = static_cast<double>(GetTopY() - static_cast<long double>(GetCellSizeY()) * row);
}

void RasterReader::MapToCell(double map_x, double map_y, double& col, double& row) {
  col = static_cast<double>((static_cast<long double>(map_x) - GetLeftX()) / GetCellSizeX());
  row = static_cast<double>((static_cast<long double>(GetTopY()) - map_y) / GetCellSizeY());
}

void RasterReader::SetControlPoints(std::unique_ptr<ControlPointList> list) {
  ControlPoints = std::move(list);
}

bool MapToIndex(double map, double origin, double cell_size, int sign, uint32_t& index) {
  const long double diff =
      sign > 0 ? static_cast<long double>(map) - origin : static_cast<long double>(origin) - map;
  const double cell = static_cast<double>(diff / cell_size);
  if (!(cell >= 0)) return false;
  const double rounded = std::nearbyint(cell);
  // Beyond the 32-bit cell range there is no cell; the low bits would wrap
  // onto a wrong one.
  if (!(rounded < 4294967296.0)) return false;
  index = static_cast<uint32_t>(rounded);
  return true;
}

Source::~Source() = default;

bool Source::Open(const std::string& file_name) {
  // A second Open replaces, and frees, the reader of the first.
  reader_.reset();
  SetErrorText("");
  if (file_name.empty()) {
    SetErrorText("No file name");
    return false;
  }
  const FormatCode code = IdentifyExisting(file_name);
  if (code == FormatCode::kUnknown) {
    SetErrorText(IdentifyErrorText().empty() ? "Unknown file format: " + file_name
                                             : IdentifyErrorText());
    return false;
  }
  if (code == FormatCode::kNoFile) {
    SetErrorText("No file: " + file_name);
    return false;
  }
  return OpenReader(file_name, code);
}

bool Source::OpenIdentified(const std::string& file_name, FormatCode code) {
  reader_.reset();
  SetErrorText("");
  return OpenReader(file_name, code);
}

bool Source::OpenReader(const std::string& file_name, FormatCode code) {
  const bool known = code == FormatCode::kErs || code == FormatCode::kOsd ||
                     code == FormatCode::kTif || code == FormatCode::kBmp ||
                     code == FormatCode::kDtm || code == FormatCode::kNog ||
                     code == FormatCode::kJpg || code == FormatCode::kVeg ||
                     code == FormatCode::kEcw || code == FormatCode::kRsw;
  format_ = known ? code : FormatCode::kOsd;
  reader_ = CreateReader(format_);
  if (!reader_) {
    SetErrorText("Reading " + FormatName(format_) + " files is not supported by this build");
    return false;
  }
  try {
    return reader_->Open(file_name);
  } catch (const std::bad_alloc&) {
    SetErrorText("Out of memory");
  } catch (const std::exception& e) {
    SetErrorText(e.what());
  }
  return false;
}

uint32_t Source::GetBands() {
  return reader_ ? reader_->GetBands() : 0;
}

CellType Source::GetCellType() {
  return reader_ ? reader_->GetCellType() : CellType::kUnsigned8;
}

std::optional<double> Source::NoData() {
  return reader_ ? reader_->NoData() : std::nullopt;
}

double Source::GetCellSizeX() {
  if (!reader_) return 1.0;
  const double size = reader_->GetCellSizeX();
  return size == 0 ? 1.0 : size;
}

Georeference Source::GetGeoreference() {
  return reader_ ? reader_->GetGeoreference() : Georeference{};
}

std::string Source::GetErrorText() const {
  return reader_ ? reader_->ErrorText : error_text_;
}

void Source::SetErrorText(const std::string& text) {
  if (reader_)
    reader_->ErrorText = text;
  else
    error_text_ = text;
}

bool Source::AdviseRead(uint32_t first_col, uint32_t first_line, uint32_t last_col,
                        uint32_t last_line) {
  if (!reader_) return true;
  try {
    return reader_->AdviseRead(first_col, first_line, last_col, last_line);
  } catch (const std::bad_alloc&) {
    SetErrorText("Out of memory");
  }
  return false;
}

bool Source::GetValue(uint32_t band, float& value, double map_x, double map_y,
                      uint8_t interpolate) {
  if (!reader_) return false;
  RasterReader& r = *reader_;
  const double col =
      static_cast<double>((static_cast<long double>(map_x) - r.GetLeftX()) / r.GetCellSizeX());
  if (!(col >= 0)) return false;
  const double row =
      static_cast<double>((static_cast<long double>(r.GetTopY()) - map_y) / r.GetCellSizeY());
  if (!(row >= 0)) return false;
  if (interpolate == 1) {
    float v = 0;
    if (!r.GetBilinear(band, v, col, row)) return false;
    value = v;
    return true;
  }
  const double rc = std::nearbyint(col);
  const double rr = std::nearbyint(row);
  if (!(rc < 4294967296.0) || !(rr < 4294967296.0)) return false;
  float v = 0;
  if (!r.GetCell(static_cast<uint32_t>(rc), static_cast<uint32_t>(rr), band, v)) return false;
  value = v;
  return true;
}

}  // namespace clipra
