#include "dataset/dataset.h"

#include <cmath>

#include "dataset/gcp.h"
#include "dataset/identify.h"
#include "dataset/utils.h"

namespace clipra {

void TDataSetRoot::CellToMap(double col, double row, double& map_x, double& map_y) {
  map_x = static_cast<double>(GetLeftX() + static_cast<long double>(GetCellSizeX()) * col);
  map_y = static_cast<double>(GetTopY() - static_cast<long double>(GetCellSizeY()) * row);
}

void TDataSetRoot::MapToCell(double map_x, double map_y, double& col, double& row) {
  col = static_cast<double>((static_cast<long double>(map_x) - GetLeftX()) / GetCellSizeX());
  row = static_cast<double>((static_cast<long double>(GetTopY()) - map_y) / GetCellSizeY());
}

bool TDataSetRoot::GetValueAt(uint32_t band, double& value, double map_x, double map_y,
                              uint8_t interpolate) {
  double col = 0;
  double row = 0;
  MapToCell(map_x, map_y, col, row);
  return interpolate == 1 ? GetBilinear(band, value, col, row) : GetNearest(band, value, col, row);
}

bool TDataSetRoot::SetValueAt(uint32_t band, double map_x, double map_y, double value) {
  double col = 0;
  double row = 0;
  MapToCell(map_x, map_y, col, row);
  int64_t x = 0;
  int64_t y = 0;
  if (!RoundToInt64(col, x) || !RoundToInt64(row, y)) return false;
  if (x < 0 || y < 0 || x > UINT32_MAX || y > UINT32_MAX) return false;
  return SetCell(static_cast<uint32_t>(x), static_cast<uint32_t>(y), band, value);
}

uint32_t TDataSetRoot::GetControlPointCount() {
  TGCPList* list = GetControlPoints();
  return list ? static_cast<uint32_t>(list->Count()) : 0;
}

TGCPoint* TDataSetRoot::GetControlPoint(int32_t index) {
  TGCPList* list = GetControlPoints();
  return list ? list->Point(index) : nullptr;
}

void TDataSetRoot::GetControlPointName(int32_t index, std::string& name) {
  TGCPoint* p = GetControlPoint(index);
  name = p ? p->Name : std::string();
}

uint8_t TDataSetRoot::GetControlPointActive(int32_t index) {
  TGCPoint* p = GetControlPoint(index);
  return p && p->Active ? 1 : 0;
}

double TDataSetRoot::GetControlPointValue(int value_number, int32_t index) {
  TGCPList* list = GetControlPoints();
  return list ? list->GetValue(index, value_number) : 0.0;
}

void TDataSetRoot::SetControlPointName(int32_t index, const std::string& name) {
  if (TGCPList* list = GetControlPoints()) list->SetName(index, name);
}

void TDataSetRoot::SetControlPointActive(int32_t index, uint8_t active) {
  if (TGCPList* list = GetControlPoints()) list->SetActive(index, active != 0);
}

void TDataSetRoot::SetControlPointValue(int value_number, int32_t index, double value) {
  if (TGCPList* list = GetControlPoints()) list->SetValue(index, value_number, value);
}

TDataSet::TDataSet(const std::string& file_name, uint32_t width, uint32_t lines, uint8_t cell_type,
                   int32_t bands, uint8_t mode) {
  if (mode != 1) return;
  // The writers address at most 65535 cells each way; never truncate silently.
  if (width > kMaxDimension || lines > kMaxDimension)
    throw EDataSetError("Output of " + std::to_string(width) + " x " + std::to_string(lines) +
                        " cells is too large: at most " + std::to_string(kMaxDimension) +
                        " cells each way");
  // Their headers keep the band count in 16 bits: more bands would leave a
  // header that disagrees with its data.
  if (bands > static_cast<int32_t>(kMaxDimension))
    throw EDataSetError("Output of " + std::to_string(bands) + " bands is too large: at most " +
                        std::to_string(kMaxDimension) + " bands");
  const uint8_t code = IdentifyForCreate(file_name) & 0x7F;
  try {
    Writer = CreateWriter(code, file_name, static_cast<uint16_t>(width),
                          static_cast<uint16_t>(lines), cell_type, bands, mode);
  } catch (const EWriterError& e) {
    throw EDataSetError(e.what());
  }
  if (!Writer)
    throw EDataSetError("Writing " + FormatName(code) + " files is not supported by this build");
}

TDataSet::~TDataSet() = default;

bool TDataSet::PutValue(uint32_t x, uint32_t y, uint32_t band, double value) {
  return Writer ? Writer->SetCell(x, y, band, value) : false;
}

void TDataSet::SetGeoreference(const std::string& spheroid, const std::string& datum,
                               double cell_size_x, double cell_size_y, double reg_cell_x,
                               double reg_cell_y, double reg_x, double reg_y,
                               const std::string& projection) {
  if (Writer)
    Writer->SetGeoreference(spheroid, datum, cell_size_x, cell_size_y, reg_cell_x, reg_cell_y,
                            reg_x, reg_y, projection);
}

void TDataSet::CellToMap(double col, double row, double& map_x, double& map_y) {
  if (Writer) Writer->CellToMap(col, row, map_x, map_y);
}

void TDataSet::MapToCell(double map_x, double map_y, double& col, double& row) {
  if (Writer) Writer->MapToCell(map_x, map_y, col, row);
}

TGCPList* TDataSet::GetControlPoints() {
  return Writer ? Writer->GetControlPoints() : nullptr;
}

void TDataSet::GetControlPointName(int32_t index, std::string& name) {
  if (Writer) Writer->GetControlPointName(index, name);
}

void TDataSet::SetControlPointName(int32_t index, const std::string& name) {
  if (!Writer) return;
  Writer->SetControlPointName(index, name);
  Changed();
}

uint8_t TDataSet::GetControlPointActive(int32_t index) {
  return Writer ? Writer->GetControlPointActive(index) : 0;
}

void TDataSet::SetControlPointActive(int32_t index, uint8_t active) {
  if (!Writer) return;
  Writer->SetControlPointActive(index, active);
  Changed();
}

double TDataSet::GetControlPointValue(int value_number, int32_t index) {
  return Writer ? Writer->GetControlPointValue(value_number, index) : 0.0;
}

void TDataSet::SetControlPointValue(int value_number, int32_t index, double value) {
  if (!Writer) return;
  Writer->SetControlPointValue(value_number, index, value);
  Changed();
}

void TDataSet::Changed() {
  if (Writer && Writer->OnChange) Writer->OnChange();
}

}  // namespace clipra
