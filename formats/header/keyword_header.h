// Keyword headers ("Keyword = value" lines) and the base of the readers whose
// raw cells are described by such a header.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dataset/control_points.h"
#include "dataset/output.h"
#include "dataset/source.h"

namespace clipra {

// A header's georeference before anything is read or set: no names.
inline Georeference UnnamedGeoreference() {
  return {.Spheroid = {}, .Datum = {}, .Projection = {}};
}

class KeywordHeader {
 public:
  KeywordHeader();
  virtual ~KeywordHeader();
  KeywordHeader(const KeywordHeader&) = delete;
  KeywordHeader& operator=(const KeywordHeader&) = delete;

  // Receives every line upper-cased.
  virtual void ParseLine(const std::string& /*line*/) {}
  virtual bool Read(const std::string& file_name) = 0;
  virtual bool Write(const std::string& file_name) = 0;
  virtual void SetAll(int32_t lines, int32_t width, int32_t bands, const Georeference& georef,
                      CellType cell_type);
  virtual bool SetAllAndWrite(int32_t lines, int32_t width, int32_t bands,
                              const Georeference& georef, CellType cell_type);

  CellType GetCellType() const { return cell_type_; }
  CoordinateType GetCoordinateType() const { return coordinate_type_; }
  void SetCoordinateType(CoordinateType type) { coordinate_type_ = type; }

  Georeference Georef = UnnamedGeoreference();
  // The cell type's name as the header spells it, for messages.
  std::string CellTypeText;
  uint8_t MSBFirst = 0;
  int32_t Bands = 0;
  int32_t Lines = 0;
  int32_t Width = 0;
  // Bytes before the first cell in the data file, and the data file's name
  // relative to the header's folder (empty: the header's name without its
  // extension). Only ER Mapper headers of other programs set them.
  uint64_t HeaderOffset = 0;
  std::string DataFile;
  // The value of cells without data; only ER Mapper headers declare one.
  std::optional<double> NoData;
  std::string FileName;
  std::unique_ptr<ControlPointList> ControlPoints;
  CoordinateType WarpCoordinateType = CoordinateType::kEn;
  std::string WarpProjection;
  std::string WarpDatum;
  std::string WarpSpheroid;
  int32_t Status = 0;

 protected:
  CellType cell_type_ = CellType::kOneBit;
  CoordinateType coordinate_type_ = CoordinateType::kEn;

  // The shared read procedure: the first line must begin with `signature`
  // (compared upper-cased), then every line goes upper-cased to ParseLine.
  // The control-point flag and the "seen" flags start clear.
  bool ReadKeywords(const std::string& file_name, const std::string& signature);
  // The control-point block: a line containing "CONTROLPOINTS" opens it, one
  // containing "}" closes it, and every line between goes to `add_point`.
  void ParseControlPointBlock(const std::string& line,
                              void (ControlPointList::*add_point)(const std::string&));
  // The keywords that the ER Mapper and OrthoSetData headers share. Datum,
  // projection and coordinate type fill the dataset's field the first time
  // and the warp block's afterwards.
  void ParseRasterKeywords(const std::string& line);

  bool in_control_points_ = false;
  // The line given to ParseLine as the file holds it, before upper-casing.
  std::string raw_line_;
  bool datum_seen_ = false;
  bool projection_seen_ = false;
  bool coordinate_type_seen_ = false;
};

// Helpers for ParseLine.
namespace keyword {
// The text after the first "=", trimmed at both ends.
std::string Value(const std::string& line);
// A count: raises ConvertError naming the keyword when the value is not a
// whole number of at least 0.
int32_t Count(const std::string& line, const char* keyword);
}  // namespace keyword

// The number formats of the header writers: cell sizes with 6 significant
// digits, coordinates with 10, both with 3 decimals and "." whatever the
// locale, since other programs read these headers too.
std::string FormatCellSize(double v);
std::string FormatCoordinate(double v);

// Writes `text` to `file_name`; false on any error.

// The LastUpdated stamp of the keyword headers, "Sat Dec 05 16:46:03 GMT 2026":
// local time labelled GMT. `english_names` takes the day and month names
// from fixed English tables instead of the user's locale.
std::string HeaderTimeStamp(bool english_names);

// A reader whose cells are stored raw in a data file beside a keyword header.
class HeaderRasterReader : public RasterReader {
 public:
  HeaderRasterReader() = default;
  ~HeaderRasterReader() override;

  bool Open(const std::string& file_name) override;
  // Readers that override the cell access must answer false.
  bool HasPlainLayout() const override { return true; }
  std::vector<std::string> Files() const override;

  uint32_t GetBands() override { return static_cast<uint32_t>(Header->Bands); }
  uint32_t GetLines() override { return static_cast<uint32_t>(Header->Lines); }
  uint32_t GetWidth() override { return static_cast<uint32_t>(Header->Width); }
  CellType GetCellType() override { return Header->GetCellType(); }
  uint8_t IsMSBFirst() override { return Header->MSBFirst; }
  std::optional<double> NoData() override { return Header->NoData; }
  CoordinateType GetCoordinateType() override { return Header->GetCoordinateType(); }
  void SetCoordinateType(CoordinateType type) override { Header->SetCoordinateType(type); }
  ControlPointList* GetControlPoints() override { return Header->ControlPoints.get(); }
  void SetControlPoints(std::unique_ptr<ControlPointList> list) override {
    Header->ControlPoints = std::move(list);
  }

  std::unique_ptr<KeywordHeader> Header;

 protected:
  Georeference& Georef() override { return Header->Georef; }
};

// The writers whose georeference lives in a keyword header (ER Mapper,
// OrthoSetData). The writer owns its header object; a new raster gets its
// header written once more when the writer is freed. A writer whose data
// file could not be created writes no header: the path may name another
// raster's header.
class HeaderRasterWriter : public RasterWriter {
 public:
  using RasterWriter::RasterWriter;
  ~HeaderRasterWriter() override;
  bool StoresByIndex() const override { return true; }

  // The data path of `file_name` (its extension removed) and its header
  // path (`file_name`, or `file_name` + `extension` when it has none).
  static std::string DataPath(const std::string& file_name);
  static std::string HeaderPath(const std::string& file_name, const char* extension);

  uint32_t GetWidth() override { return static_cast<uint32_t>(header_->Width); }
  uint32_t GetLines() override { return static_cast<uint32_t>(header_->Lines); }
  uint16_t GetBands() override { return static_cast<uint16_t>(header_->Bands); }
  uint8_t IsMSBFirst() override { return header_->MSBFirst; }
  Georeference GetGeoreference() override { return header_->Georef; }
  // The header's SetAll with the current size and cell type.
  void SetGeoreference(const Georeference& georef) override;
  // Keeps the value in the header too, for the formats that declare it.
  void SetNoData(double value) override;
  ControlPointList* GetControlPoints() override { return header_->ControlPoints.get(); }
  void AddControlPoint(const ControlPoint* source) override;
  void DeleteControlPoint(int32_t index) override;

 protected:
  // Takes the header object over; the concrete writer keeps the typed pointer.
  template <typename Header>
  Header* AdoptHeader(std::unique_ptr<Header> header) {
    Header* typed = header.get();
    header_ = std::move(header);
    return typed;
  }
  // Reads the header and opens the data file (modes 0 and 2), or writes the
  // header and creates the data file (mode 1). Empty on success, otherwise
  // the failure's message, built from the given words, the system's code
  // and its text.
  std::string OpenData(uint16_t width, uint16_t lines, CellType cell_type, int32_t bands,
                       uint8_t mode, const char* read_words, const char* update_words,
                       const char* create_words);

 private:
  std::unique_ptr<KeywordHeader> header_;
  bool data_created_ = false;
};

}  // namespace clipra
