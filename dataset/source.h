// The reading side: the reader base that every source format derives from,
// and the facade that picks a reader by format and samples it by map point.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataset/georeference.h"
#include "dataset/mapped_file.h"

namespace clipra {

class ControlPointList;

// A header value that should be a whole number and is not.
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RasterReader : public MappedRaster {
 public:
  RasterReader();
  ~RasterReader() override;

  // Opens `file_name` for reading; false with ErrorText set when it cannot.
  virtual bool Open(const std::string& file_name) = 0;
  // Opens an existing file for reading; "File not Exists" when there is none.
  virtual bool OpenExisting(const std::string& file_name);
  virtual void SetFileName(const std::string& file_name) { FileName = file_name; }
  // The files the open raster consists of: its data file, and its header
  // where that is a file of its own. Empty names are left out.
  virtual std::vector<std::string> Files() const;

  virtual uint32_t GetBands() = 0;
  virtual uint32_t GetLines() = 0;
  virtual uint32_t GetWidth() = 0;
  virtual CellType GetCellType() = 0;
  virtual uint8_t IsMSBFirst() = 0;
  // The value that marks cells without data in every band, as the source
  // declares it; none when it declares none.
  virtual std::optional<double> NoData() { return std::nullopt; }

  const Georeference& GetGeoreference() { return Georef(); }
  // A stored cell size of 0 reads as 1.0.
  double GetCellSizeX() {
    const double size = Georef().CellSizeX;
    return size == 0 ? 1.0 : size;
  }
  double GetCellSizeY() {
    const double size = Georef().CellSizeY;
    return size == 0 ? 1.0 : size;
  }
  double GetLeftX();
  double GetTopY();
  virtual CoordinateType GetCoordinateType();
  virtual void SetCoordinateType(CoordinateType) {}
  // Readers of images that carry their own georeference refuse a new one.
  virtual bool SetGeoreference(const Georeference& georef) {
    Georef() = georef;
    return true;
  }
  virtual void CellToMap(double col, double row, double& map_x, double& map_y);
  virtual void MapToCell(double map_x, double map_y, double& col, double& row);
  virtual ControlPointList* GetControlPoints() { return ControlPoints.get(); }
  // Ownership of the list passes to the reader.
  virtual void SetControlPoints(std::unique_ptr<ControlPointList> list);
  // Tells the reader which block of cells (first and last column and line,
  // inside the raster) its caller will read next, so that it can prepare
  // only those. False, with ErrorText, when it already knows it cannot read
  // them. Readers that cannot use the advice ignore it.
  virtual bool AdviseRead(uint32_t /*first_col*/, uint32_t /*first_line*/, uint32_t /*last_col*/,
                          uint32_t /*last_line*/) {
    return true;
  }

  std::unique_ptr<ControlPointList> ControlPoints;
  // What the user should know about the georeference after a clip, such as
  // GeoTIFF tags that a world file overrode; empty when nothing.
  std::string Note;
  // The first failure to decode cells after a successful open (a damaged
  // compressed stream); empty while there is none.
  std::string ReadFailure;

 protected:
  // Where the georeference is kept: here, or in the reader's header.
  virtual Georeference& Georef() { return georef_; }

 private:
  Georeference georef_;
};

// Where a map coordinate falls on a grid: the index of the nearest cell
// (ties to even), or false when it lies before the first cell, is not a
// number, or beyond 32-bit cell indices. `origin` is LeftX for columns and
// TopY for lines; `sign` is +1 for columns and -1 for lines.
bool MapToIndex(double map, double origin, double cell_size, int sign, uint32_t& index);

class Source {
 public:
  Source() = default;
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  bool Open(const std::string& file_name);
  // Opens an existing file whose format IdentifyExisting has already told,
  // without reading its first bytes again.
  bool OpenIdentified(const std::string& file_name, FormatCode code);
  uint32_t GetBands();
  CellType GetCellType();
  // The reader's no-data value; none without a reader.
  std::optional<double> NoData();
  double GetCellSizeX();
  // The reader's georeference; the defaults when nothing is open.
  Georeference GetGeoreference();
  std::string GetErrorText() const;
  void SetErrorText(const std::string& text);
  bool GetValue(uint32_t band, float& value, double map_x, double map_y, uint8_t interpolate);
  // Passes the block of cells about to be read to the reader; true without one.
  bool AdviseRead(uint32_t first_col, uint32_t first_line, uint32_t last_col, uint32_t last_line);

  RasterReader* GetReader() { return reader_.get(); }
  // The format code the open file was read as.
  FormatCode GetFormat() const { return format_; }

 private:
  bool OpenReader(const std::string& file_name, FormatCode code);

  std::string error_text_;
  std::unique_ptr<RasterReader> reader_;
  FormatCode format_ = FormatCode::kErs;
};

// The reader for a format code, or nullptr when this build has none.
std::unique_ptr<RasterReader> CreateReader(FormatCode code);

}  // namespace clipra
