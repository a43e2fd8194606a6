#include "formats/header/ers.h"

#include <cmath>
#include <cstdio>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/os_locale.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr const char* kEol = "\r\n";

// Both strings name RAW: the dataset is in raw cell coordinates.
void ApplyRawRule(KeywordHeader& h) {
  if (h.Georef.Datum.find("RAW") != std::string::npos &&
      h.Georef.Projection.find("RAW") != std::string::npos)
    h.SetCoordinateType(CoordinateType::kRaw);
}

}  // namespace

namespace {

// Degrees as ER Mapper writes them, "-9:21:17.81" or decimal "-9.355"; the
// sign of the degrees is the sign of the whole, "-0:30:0" included.
double ParseDegrees(const std::string& text) {
  const std::string t = StrTrim(text);
  const size_t first = t.find(':');
  const size_t second = first == std::string::npos ? first : t.find(':', first + 1);
  if (second == std::string::npos || t.find(':', second + 1) != std::string::npos)
    return static_cast<double>(ParseFloatDef(t, 0));
  const long double degrees = ParseFloatDef(t.substr(0, first), 0);
  const long double minutes = ParseFloatDef(t.substr(first + 1, second - first - 1), 0);
  const long double seconds = ParseFloatDef(t.substr(second + 1), 0);
  const long double v = std::fabs(degrees) + minutes / 60 + seconds / 3600;
  return static_cast<double>(!t.empty() && t[0] == '-' ? -v : v);
}

}  // namespace

void ErsHeader::ParseLine(const std::string& line) {
  ParseControlPointBlock(line, &ControlPointList::AddFromErsLine);
  ParseRasterKeywords(line);
  // What other programs write: geographic and raw registration points, a
  // block before the cells and a data file of another name.
  const std::string value = keyword::Value(line);
  auto has = [&line](const char* keyword) { return line.find(keyword) != std::string::npos; };
  if (has("LONGITUDE")) Georef.RegX = ParseDegrees(value);
  if (has("LATITUDE")) Georef.RegY = ParseDegrees(value);
  if (has("METERSX")) Georef.RegX = static_cast<double>(ParseFloatDef(value, 0));
  if (has("METERSY")) Georef.RegY = static_cast<double>(ParseFloatDef(value, 0));
  if (has("NULLCELLVALUE")) {
    double v = 0;
    if (ParseNoDataValue(value, v)) NoData = v;
  }
  if (has("HEADEROFFSET"))
    HeaderOffset = static_cast<uint64_t>(keyword::Count(line, "HeaderOffset"));
  if (has("DATAFILE")) {
    std::string name = keyword::Value(UpperCase(raw_line_) == line ? raw_line_ : line);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
      name = name.substr(1, name.size() - 2);
    DataFile = name;
  }
}

bool ErsHeader::Read(const std::string& file_name) {
  HeaderOffset = 0;
  DataFile.clear();
  NoData.reset();
  return ReadKeywords(file_name, "DATA");
}

bool ErsHeader::Write(const std::string& file_name) {
  return WriteTextFile(file_name, Compose(true, true));
}

std::string ErsHeader::Compose(bool english_names, bool unsigned_counts) {
  auto count = [unsigned_counts](int32_t v) {
    return unsigned_counts ? std::to_string(static_cast<uint32_t>(v)) : std::to_string(v);
  };
  std::string s;
  auto line = [&s](const std::string& text) {
    s += text;
    s += kEol;
  };
  line("DatasetHeader Begin");
  line("  Version   = \"1.0\"");
  line("  LastUpdated = " + HeaderTimeStamp(english_names));
  line("  DataSetType = ERStorage");
  line("  DataType = Raster");
  line(std::string("  ByteOrder = ") + (MSBFirst ? "MSBFirst" : "LSBFirst"));
  line("  CoordinateSpace Begin");
  line("    Datum      = " + QuoteIfBare(Georef.Datum));
  line("    Projection = " + QuoteIfBare(Georef.Projection));
  ApplyRawRule(*this);
  line("    CoordinateType  = " + CoordinateTypeName(coordinate_type_));
  if (coordinate_type_ != CoordinateType::kRaw) line("    Units   = \"METERS\"");
  line("    Rotation = 0:0:0.0");
  line("  CoordinateSpace End");
  line("  RasterInfo Begin");
  // GDAL and QGIS open float cells only under the name other programs use.
  line("    CellType = " + (cell_type_ == CellType::kFloat32 ? std::string(kErsFloat32Name)
                                                             : CellTypeName(cell_type_)));
  // Without a value of its own the header keeps the template's 0, which
  // GDAL reads as no-data 0 too.
  line("    NullCellValue = " + (NoData ? FormatShortest(*NoData) : std::string("0")));
  if (Georef.CellSizeX != 0 && Georef.CellSizeY != 0) {
    line("    CellInfo Begin");
    line("      Xdimension = " + FormatCellSize(Georef.CellSizeX));
    line("      Ydimension = " + FormatCellSize(Georef.CellSizeY));
    line("    CellInfo End");
  }
  line("    NrOfLines = " + count(Lines));
  line("    NrOfCellsPerLine = " + count(Width));
  if (coordinate_type_ != CoordinateType::kRaw) {
    line("    RegistrationCoord Begin");
    line("      Eastings = " + FormatCoordinate(Georef.RegX));
    line("      Northings = " + FormatCoordinate(Georef.RegY));
    line("    RegistrationCoord End");
    line("    RegistrationCellX = " + FormatCoordinate(Georef.RegCellX));
    line("    RegistrationCellY = " + FormatCoordinate(Georef.RegCellY));
  }
  line("    NrOfBands = " + count(Bands));
  static const char* const kBandNames[] = {"Red Layer", "Green Layer", "Blue Layer"};
  for (int32_t b = 0; b < Bands; ++b) {
    line("    BandId Begin");
    line(std::string("      Value=\"") + kBandNames[b % 3] + "\"");
    line("    BandId End");
  }
  if (ControlPoints && ControlPoints->Count() > 0) {
    line("    WarpControl Begin");
    line("      WarpType\t= Polynomial");
    line("      WarpSampling\t= Nearest");
    line("      CoordinateSpace Begin");
    line("        Datum      = " + QuoteIfBare(WarpDatum));
    line("        Projection = " + QuoteIfBare(WarpProjection));
    ApplyRawRule(*this);
    line("        CoordinateType  = " + CoordinateTypeName(WarpCoordinateType));
    if (coordinate_type_ != CoordinateType::kRaw) line("        Units      = \"METERS\"");
    line("        Rotation\t= 0:0:0.0");
    line("      CoordinateSpace End");
    line("      ControlPoints\t= {");
    for (int i = 0; i < ControlPoints->Count(); ++i) {
      const ControlPoint* p = ControlPoints->Point(i);
      std::string point = "\t\t\t" + p->Name;
      point += p->Active ? "\tYes" : "\tNo";
      point += p->Flag2 ? "\tYes" : "\tNo";
      for (double v : {p->CellX, p->CellY, p->MapX, p->MapY}) {
        point += '\t';
        point += FormatRight3(v, 10);
      }
      line(point);
    }
    line("      }");
    line("    WarpControl End");
  }
  line("  RasterInfo End");
  line("DatasetHeader End");
  return s;
}

ErsReader::ErsReader() {
  Header = std::make_unique<ErsHeader>();
}

void ErsReader::SetFileName(const std::string& file_name) {
  FileName = FindSidecar(ChangeFileExt(file_name, ""));
  if (FileName.empty()) FileName = ChangeFileExt(file_name, "");
  const std::string header = ChangeFileExt(file_name, ".ers");
  const std::string found = FindSidecar(header);
  Header->FileName = found.empty() ? header : found;
}

bool ErsOutputHeader::Write(const std::string& file_name) {
  return WriteTextFile(file_name, Compose(false, false));
}

void ErsOutputHeader::SetAll(int32_t lines, int32_t width, int32_t bands,
                             const Georeference& georef, CellType cell_type) {
  Georeference kept = georef;
  kept.Spheroid.clear();
  ErsHeader::SetAll(lines, width, bands, kept, cell_type);
  Write(FileName);
}

ErsWriter::ErsWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType cell_type, int32_t bands, uint8_t mode) try
    : HeaderRasterWriter(DataPath(file_name), width, lines, cell_type, bands, mode, false) {
  Header = AdoptHeader(std::make_unique<ErsOutputHeader>(HeaderPath(file_name, ".ers")));
  const std::string failure =
      OpenData(width, lines, cell_type, bands, mode,
               "Open Map Read Error=", "Open Map Read Error=", "Open Map write error ");
  if (!failure.empty()) throw ErsError(failure);
  // The header file exists from the moment the data file does.
  if (mode == 1) Header->Write(Header->FileName);
} catch (const MappedOutputError& e) {
  throw ErsError(e.what());
}

}  // namespace clipra
