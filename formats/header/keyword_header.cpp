#include "formats/header/keyword_header.h"

#include <cstdio>

#include "dataset/identify.h"
#include "dataset/line_reader.h"
#include "dataset/os_file.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

KeywordHeader::KeywordHeader() : ControlPoints(std::make_unique<ControlPointList>()) {}

KeywordHeader::~KeywordHeader() = default;

void KeywordHeader::SetAll(int32_t lines, int32_t width, int32_t bands, const Georeference& georef,
                           CellType cell_type) {
  Lines = lines;
  Width = width;
  Bands = bands;
  Georef = georef;
  cell_type_ = cell_type;
}

bool KeywordHeader::SetAllAndWrite(int32_t lines, int32_t width, int32_t bands,
                                   const Georeference& georef, CellType cell_type) {
  SetAll(lines, width, bands, georef, cell_type);
  return Write(FileName);
}

bool KeywordHeader::ReadKeywords(const std::string& file_name, const std::string& signature) {
  in_control_points_ = false;
  datum_seen_ = projection_seen_ = coordinate_type_seen_ = false;
  // Without a CellType line the cells are bytes, as other programs read them.
  cell_type_ = CellType::kUnsigned8;
  CellTypeText.clear();
  try {
    LineReader reader(file_name);
    std::string line;
    reader.ReadLine(line);
    if (LineReader::IsEndOfFile(line) || UpperCase(line.substr(0, 4)) != signature) {
      Status = 2;
      return false;
    }
    reader.Reset();
    while (!LineReader::IsEndOfFile(reader.ReadLine(line))) {
      raw_line_ = line;
      ParseLine(UpperCase(line));
    }
  } catch (const LineReaderError&) {
    raw_line_.clear();
    Status = 2;
    return false;
  }
  raw_line_.clear();
  Status = 0;
  return true;
}

namespace {
bool Has(const std::string& line, const char* keyword) {
  return line.find(keyword) != std::string::npos;
}
}  // namespace

void KeywordHeader::ParseControlPointBlock(
    const std::string& line, void (ControlPointList::*add_point)(const std::string&)) {
  if (in_control_points_) {
    if (Has(line, "}"))
      in_control_points_ = false;
    else
      (ControlPoints.get()->*add_point)(line);
  } else if (Has(line, "CONTROLPOINTS")) {
    in_control_points_ = true;
  }
}

void KeywordHeader::ParseRasterKeywords(const std::string& line) {
  const std::string value = keyword::Value(line);
  if (Has(line, "PROJECTION")) {
    (projection_seen_ ? WarpProjection : Georef.Projection) = value;
    projection_seen_ = true;
  }
  if (Has(line, "DATUM")) {
    (datum_seen_ ? WarpDatum : Georef.Datum) = value;
    datum_seen_ = true;
  }
  if (Has(line, "COORDINATETYPE")) {
    (coordinate_type_seen_ ? WarpCoordinateType : coordinate_type_) = CoordinateTypeFromName(value);
    coordinate_type_seen_ = true;
  }
  if (Has(line, "BYTEORDER")) MSBFirst = value == "MSBFIRST" ? 1 : 0;
  if (Has(line, "CELLTYPE")) {
    cell_type_ = CellTypeFromName(value);
    // ParseLine may also be called without a file line behind it.
    CellTypeText = UpperCase(raw_line_) == line ? keyword::Value(raw_line_) : value;
  }
  if (Has(line, "XDIMENSION")) Georef.CellSizeX = static_cast<double>(ParseFloatDef(value, 1.0));
  if (Has(line, "YDIMENSION")) Georef.CellSizeY = static_cast<double>(ParseFloatDef(value, 1.0));
  if (Has(line, "NROFBANDS")) Bands = keyword::Count(line, "NrOfBands");
  if (Has(line, "NROFLINES")) Lines = keyword::Count(line, "NrOfLines");
  if (Has(line, "NROFCELLSPERLINE")) Width = keyword::Count(line, "NrOfCellsPerLine");
  if (Has(line, "REGISTRATIONCELLX"))
    Georef.RegCellX = static_cast<double>(ParseFloatDef(value, 0));
  if (Has(line, "REGISTRATIONCELLY"))
    Georef.RegCellY = static_cast<double>(ParseFloatDef(value, 0));
  if (Has(line, "EASTINGS")) Georef.RegX = static_cast<double>(ParseFloatDef(value, 0));
  if (Has(line, "NORTHINGS")) Georef.RegY = static_cast<double>(ParseFloatDef(value, 0));
}

namespace keyword {

std::string Value(const std::string& line) {
  const size_t eq = line.find('=');
  if (eq == std::string::npos) return {};
  return StrTrimRight(StrTrimLeft(line.substr(eq + 1)));
}

int32_t Count(const std::string& line, const char* keyword) {
  const std::string text = Value(line);
  int32_t v = 0;
  if (!ParseInt32(text, v) || v < 0)
    throw ConvertError(std::string("Header value of ") + keyword + " is not a valid count: '" +
                       text + "'");
  return v;
}

}  // namespace keyword

std::string FormatCellSize(double v) {
  return FormatFixed(v, 6, 3);
}

std::string FormatCoordinate(double v) {
  return FormatFixed(v, 10, 3);
}

std::string HeaderTimeStamp(bool english_names) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const LocalTime t = LocalTimeNow();
  const std::string day = english_names ? kDays[t.week_day] : LocaleShortDayName(t.week_day);
  const std::string month = english_names ? kMonths[t.month] : LocaleShortMonthName(t.month);
  char buf[64];
  std::snprintf(buf, sizeof buf, " %02d %02d:%02d:%02d GMT %04d", t.day, t.hour, t.minute, t.second,
                t.year);
  return day + " " + month + buf;
}

std::vector<std::string> HeaderRasterReader::Files() const {
  std::vector<std::string> files = RasterReader::Files();
  if (Header) files.push_back(Header->FileName);
  return files;
}

HeaderRasterReader::~HeaderRasterReader() = default;

bool HeaderRasterReader::Open(const std::string& file_name) {
  SetFileName(file_name);
  if (!Header) return false;
  if (!Header->Read(Header->FileName)) {
    ErrorText = "Header " + ShortenPath(Header->FileName, 20) + " reading error ";
    return false;
  }
  // Cells of another type would be read as bytes or zeros: a wrong clip
  // reported as a success.
  if (!IsReadableCellType(Header->GetCellType())) {
    ErrorText = "Cell type not supported: " + Header->CellTypeText;
    return false;
  }
  const bool msb = Header->MSBFirst != 0;
  DataOffset = Header->HeaderOffset;
  if (!Header->DataFile.empty()) {
    const std::string path = ExtractFileDir(Header->FileName) + Header->DataFile;
    FileName = FindSidecar(path);
    if (FileName.empty()) FileName = path;
  }
  if (!OpenRaster(FileName, static_cast<uint32_t>(Header->Width),
                  static_cast<uint32_t>(Header->Lines), Header->GetCellType(),
                  static_cast<uint32_t>(Header->Bands), 0, msb)) {
    // A range failure of the view has its own text; a system failure gets the code.
    if (LastError > 1 || ErrorText.empty())
      ErrorText = "Open Map Read Error=" + std::to_string(LastError) + " " +
                  SystemErrorText(static_cast<int>(LastError));
    return false;
  }
  return true;
}

HeaderRasterWriter::~HeaderRasterWriter() {
  if (Mode() == 1 && data_created_ && header_) header_->Write(header_->FileName);
}

std::string HeaderRasterWriter::DataPath(const std::string& file_name) {
  return ChangeFileExt(file_name, "");
}

std::string HeaderRasterWriter::HeaderPath(const std::string& file_name, const char* extension) {
  return ExtractFileExt(file_name).empty() ? file_name + extension : file_name;
}

void HeaderRasterWriter::SetGeoreference(const Georeference& georef) {
  header_->SetAll(static_cast<int32_t>(GetLines()), static_cast<int32_t>(GetWidth()), GetBands(),
                  georef, header_->GetCellType());
}

void HeaderRasterWriter::SetNoData(double value) {
  RasterWriter::SetNoData(value);
  header_->NoData = no_data_;
}

std::string HeaderRasterWriter::OpenData(uint16_t width, uint16_t lines, CellType cell_type,
                                         int32_t bands, uint8_t mode, const char* read_words,
                                         const char* update_words, const char* create_words) {
  auto failure = [this](const char* words) {
    return words + std::to_string(LastError()) + " " +
           SystemErrorText(static_cast<int>(LastError()));
  };
  if (mode == 0 || mode == 2) {
    if (!header_->Read(header_->FileName)) return "Open Header Read Error";
    cell_type_ = header_->GetCellType();
    Width = static_cast<uint32_t>(header_->Width);
    Lines = static_cast<uint32_t>(header_->Lines);
    Bands = header_->Bands < 1 ? 1 : header_->Bands;
    SetByteOrder(header_->MSBFirst != 0);
    if (mode == 0 && !OpenRead()) return failure(read_words);
    if (mode == 2 && !OpenReadWrite()) return failure(update_words);
    return {};
  }
  // The fields only: a header that writes itself in SetAll must not touch
  // its file before the data file exists.
  header_->KeywordHeader::SetAll(lines, width, bands, UnnamedGeoreference(), cell_type);
  header_->Bands = bands;
  cell_type_ = header_->GetCellType();
  SetByteOrder(false);
  if (!CreateNew(uint64_t{width} * lines * static_cast<uint64_t>(bands)))
    return failure(create_words);
  data_created_ = true;
  return {};
}

void HeaderRasterWriter::AddControlPoint(const ControlPoint* source) {
  header_->ControlPoints->AddPoint(source);
}

void HeaderRasterWriter::DeleteControlPoint(int32_t index) {
  header_->ControlPoints->Delete(index);
}

}  // namespace clipra
