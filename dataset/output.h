// The writing side: the writer base that every output format derives from,
// and the facade that picks a writer by extension.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/georeference.h"
#include "dataset/mapped_output.h"

namespace clipra {

class ControlPointList;
class ControlPoint;

class DatasetError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The base of every writer's own exception class; the facade turns these
// into DatasetError with the same text.
class WriterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a TIFF output stores its cells: in one uncompressed strip, or in
// compressed tiles.
enum class TiffCompression : uint8_t { kNone, kLzw, kDeflate, kZstd };

// Choices that only some output formats take; the others ignore them.
inline constexpr int kDefaultJpegQuality = 90;
struct WriteOptions {
  TiffCompression Compression = TiffCompression::kNone;
  int JpegQuality = kDefaultJpegQuality;  // 1 to 100
};

class RasterWriter : public MappedOutputRaster {
 public:
  RasterWriter(const std::string& file_name, uint16_t width, uint16_t lines, CellType cell_type,
               int32_t bands, uint8_t mode, bool msb_first)
      : MappedOutputRaster(file_name, width, lines, cell_type, bands, mode, msb_first) {}

  virtual uint32_t GetWidth() { return Width; }
  virtual uint32_t GetLines() { return Lines; }
  virtual uint16_t GetBands() { return static_cast<uint16_t>(Bands); }
  virtual CellType GetCellType() { return cell_type_; }
  virtual uint8_t IsMSBFirst() { return IsMSBFirstOrder() ? 1 : 0; }
  // What the writer records of its place on the map; a writer that keeps
  // none reports unit cells at the origin, all names RAW.
  virtual Georeference GetGeoreference() { return {}; }
  virtual void SetGeoreference(const Georeference& /*georef*/) {}
  // Declares `value` as the value of cells without data, fitted to the cell
  // type (FitNoData). Call it before any cell is written: a writer whose
  // header shares the data file creates the file anew.
  virtual void SetNoData(double value);
  // The declared value; none unless SetNoData gave one the cells can hold.
  std::optional<double> NoData() const { return no_data_; }
  // Completes a file that is not written in place, once every cell is set.
  // False when `stop` (when given) answered true on the way: the file is
  // then abandoned. Raises the writer's error. A writer freed unfinished
  // may leave no file.
  virtual bool Finish(const std::function<bool()>& /*stop*/) { return true; }
  virtual void CellToMap(double col, double row, double& map_x, double& map_y);
  virtual void MapToCell(double map_x, double map_y, double& col, double& row);
  // Nearest or bilinear sample at a map point; writers keep the plain grid.
  virtual bool GetValueAt(uint32_t band, double& value, double map_x, double map_y,
                          uint8_t interpolate);
  virtual bool SetValueAt(uint32_t band, double map_x, double map_y, double value);

  virtual bool LoadControlPoints(const std::string& /*file_name*/) { return false; }
  virtual uint32_t GetControlPointCount();
  virtual ControlPointList* GetControlPoints() { return nullptr; }
  virtual ControlPoint* GetControlPoint(int32_t index);
  virtual void AddControlPoint(const ControlPoint* /*source*/) {}
  virtual void DeleteControlPoint(int32_t /*index*/) {}
  virtual void GetControlPointName(int32_t index, std::string& name);
  virtual uint8_t GetControlPointActive(int32_t index);
  // Values 1 to 5: CellX, CellY, MapX, MapY, MapZ.
  virtual double GetControlPointValue(int value_number, int32_t index);
  virtual void SetControlPointName(int32_t index, const std::string& name);
  virtual void SetControlPointActive(int32_t index, uint8_t active);
  virtual void SetControlPointValue(int value_number, int32_t index, double value);

  std::function<void()> OnChange;

 protected:
  std::optional<double> no_data_;
};

class Output {
 public:
  static constexpr uint32_t kMaxDimension = 65535;

  // Mode 1 creates the writer that the extension selects; other modes give a
  // facade without a writer. Raises DatasetError.
  Output(const std::string& file_name, uint32_t width, uint32_t lines, CellType cell_type,
         int32_t bands, uint8_t mode, const WriteOptions& options = {});
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool PutValue(uint32_t x, uint32_t y, uint32_t band, double value);
  void SetGeoreference(const Georeference& georef);
  // The writer's; none without a writer. Raises DatasetError.
  void SetNoData(double value);
  std::optional<double> NoData() const;
  // The writer's Finish; raises DatasetError.
  bool Finish(const std::function<bool()>& stop = nullptr);
  void CellToMap(double col, double row, double& map_x, double& map_y);
  void MapToCell(double map_x, double map_y, double& col, double& row);
  ControlPointList* GetControlPoints();
  void GetControlPointName(int32_t index, std::string& name);
  void SetControlPointName(int32_t index, const std::string& name);
  uint8_t GetControlPointActive(int32_t index);
  void SetControlPointActive(int32_t index, uint8_t active);
  double GetControlPointValue(int value_number, int32_t index);
  void SetControlPointValue(int value_number, int32_t index, double value);

  RasterWriter* GetWriter() { return writer_.get(); }

 private:
  void Changed();

  std::unique_ptr<RasterWriter> writer_;
};

// The files that creating `file_name` makes: the data file, then the header
// file where the format keeps one of its own, or a JPEG's world file.
std::vector<std::string> OutputFiles(const std::string& file_name);

// The writer for a format code (already masked), as the facade picks it.
std::unique_ptr<RasterWriter> CreateWriter(FormatCode code, const std::string& file_name,
                                           uint16_t width, uint16_t lines, CellType cell_type,
                                           int32_t bands, uint8_t mode,
                                           const WriteOptions& options = {});

// Why an output of this name, size and cells cannot be written, for the
// formats that refuse some; empty when it can.
std::string OutputRefusal(const std::string& file_name, uint32_t width, uint32_t lines,
                          CellType cell_type, uint32_t bands);

}  // namespace clipra
