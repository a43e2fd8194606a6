#include "dataset/output.h"

#include <cmath>

#include "dataset/cell_codec.h"
#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

void RasterWriter::CellToMap(double col, double row, double& map_x, double& map_y) {
  const Georeference g = GetGeoreference();
  map_x = static_cast<double>(g.LeftX() + static_cast<long double>(g.CellSizeX) * col);
  map_y = static_cast<double>(g.TopY() - static_cast<long double>(g.CellSizeY) * row);
}

void RasterWriter::MapToCell(double map_x, double map_y, double& col, double& row) {
  const Georeference g = GetGeoreference();
  col = static_cast<double>((static_cast<long double>(map_x) - g.LeftX()) / g.CellSizeX);
  row = static_cast<double>((static_cast<long double>(g.TopY()) - map_y) / g.CellSizeY);
}

bool RasterWriter::GetValueAt(uint32_t band, double& value, double map_x, double map_y,
                              uint8_t interpolate) {
  double col = 0;
  double row = 0;
  MapToCell(map_x, map_y, col, row);
  return interpolate == 1 ? GetBilinear(band, value, col, row) : GetNearest(band, value, col, row);
}

bool RasterWriter::SetValueAt(uint32_t band, double map_x, double map_y, double value) {
  double col = 0;
  double row = 0;
  MapToCell(map_x, map_y, col, row);
  int64_t x = 0;
  int64_t y = 0;
  if (!RoundToInt64(col, x) || !RoundToInt64(row, y)) return false;
  if (x < 0 || y < 0 || x > UINT32_MAX || y > UINT32_MAX) return false;
  return SetCell(static_cast<uint32_t>(x), static_cast<uint32_t>(y), band, value);
}

void RasterWriter::SetNoData(double value) {
  no_data_ = FitNoData(value, cell_type_);
}

uint32_t RasterWriter::GetControlPointCount() {
  ControlPointList* list = GetControlPoints();
  return list ? static_cast<uint32_t>(list->Count()) : 0;
}

ControlPoint* RasterWriter::GetControlPoint(int32_t index) {
  ControlPointList* list = GetControlPoints();
  return list ? list->Point(index) : nullptr;
}

void RasterWriter::GetControlPointName(int32_t index, std::string& name) {
  ControlPoint* p = GetControlPoint(index);
  name = p ? p->Name : std::string();
}

uint8_t RasterWriter::GetControlPointActive(int32_t index) {
  ControlPoint* p = GetControlPoint(index);
  return p && p->Active ? 1 : 0;
}

double RasterWriter::GetControlPointValue(int value_number, int32_t index) {
  ControlPointList* list = GetControlPoints();
  return list ? list->GetValue(index, value_number) : 0.0;
}

void RasterWriter::SetControlPointName(int32_t index, const std::string& name) {
  if (ControlPointList* list = GetControlPoints()) list->SetName(index, name);
}

void RasterWriter::SetControlPointActive(int32_t index, uint8_t active) {
  if (ControlPointList* list = GetControlPoints()) list->SetActive(index, active != 0);
}

void RasterWriter::SetControlPointValue(int value_number, int32_t index, double value) {
  if (ControlPointList* list = GetControlPoints()) list->SetValue(index, value_number, value);
}

Output::Output(const std::string& file_name, uint32_t width, uint32_t lines, CellType cell_type,
               int32_t bands, uint8_t mode, const WriteOptions& options) {
  if (mode != 1) return;
  // The writers address at most 65535 cells each way; never truncate silently.
  if (width > kMaxDimension || lines > kMaxDimension)
    throw DatasetError("Output of " + std::to_string(width) + " x " + std::to_string(lines) +
                       " cells is too large: at most " + std::to_string(kMaxDimension) +
                       " cells each way");
  // Their headers keep the band count in 16 bits: more bands would leave a
  // header that disagrees with its data.
  if (bands > static_cast<int32_t>(kMaxDimension))
    throw DatasetError("Output of " + std::to_string(bands) + " bands is too large: at most " +
                       std::to_string(kMaxDimension) + " bands");
  const FormatCode code = OutputFormat(file_name);
  try {
    writer_ = CreateWriter(code, file_name, static_cast<uint16_t>(width),
                           static_cast<uint16_t>(lines), cell_type, bands, mode, options);
  } catch (const WriterError& e) {
    throw DatasetError(e.what());
  }
  if (!writer_)
    throw DatasetError("Writing " + FormatName(code) + " files is not supported by this build");
}

Output::~Output() = default;

bool Output::PutValue(uint32_t x, uint32_t y, uint32_t band, double value) {
  return writer_ ? writer_->SetCell(x, y, band, value) : false;
}

void Output::SetGeoreference(const Georeference& georef) {
  if (writer_) writer_->SetGeoreference(georef);
}

void Output::SetNoData(double value) {
  if (!writer_) return;
  try {
    writer_->SetNoData(value);
  } catch (const WriterError& e) {
    throw DatasetError(e.what());
  }
}

std::optional<double> Output::NoData() const {
  return writer_ ? writer_->NoData() : std::nullopt;
}

bool Output::Finish(const std::function<bool()>& stop) {
  if (!writer_) return true;
  try {
    return writer_->Finish(stop);
  } catch (const WriterError& e) {
    throw DatasetError(e.what());
  }
}

void Output::CellToMap(double col, double row, double& map_x, double& map_y) {
  if (writer_) writer_->CellToMap(col, row, map_x, map_y);
}

void Output::MapToCell(double map_x, double map_y, double& col, double& row) {
  if (writer_) writer_->MapToCell(map_x, map_y, col, row);
}

ControlPointList* Output::GetControlPoints() {
  return writer_ ? writer_->GetControlPoints() : nullptr;
}

void Output::GetControlPointName(int32_t index, std::string& name) {
  if (writer_) writer_->GetControlPointName(index, name);
}

void Output::SetControlPointName(int32_t index, const std::string& name) {
  if (!writer_) return;
  writer_->SetControlPointName(index, name);
  Changed();
}

uint8_t Output::GetControlPointActive(int32_t index) {
  return writer_ ? writer_->GetControlPointActive(index) : 0;
}

void Output::SetControlPointActive(int32_t index, uint8_t active) {
  if (!writer_) return;
  writer_->SetControlPointActive(index, active);
  Changed();
}

double Output::GetControlPointValue(int value_number, int32_t index) {
  return writer_ ? writer_->GetControlPointValue(value_number, index) : 0.0;
}

void Output::SetControlPointValue(int value_number, int32_t index, double value) {
  if (!writer_) return;
  writer_->SetControlPointValue(value_number, index, value);
  Changed();
}

void Output::Changed() {
  if (writer_ && writer_->OnChange) writer_->OnChange();
}

}  // namespace clipra
