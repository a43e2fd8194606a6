#include "formats/header/osd.h"

#include <cstdio>
#include <memory>

#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/utils.h"

namespace clipra {

namespace {

constexpr const char* kEol = "\r\n";

bool Has(const std::string& line, const char* keyword) {
  return line.find(keyword) != std::string::npos;
}

bool BothNameRaw(const std::string& datum, const std::string& projection) {
  return datum.find("RAW") != std::string::npos && projection.find("RAW") != std::string::npos;
}

// True when the file's first four bytes are the header signature, in any case.
bool BeginsWithSignature(const std::string& file_name) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(file_name.c_str(), "rb"),
                                                       &std::fclose);
  char head[4];
  return file && std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
         UpperCase(std::string(head, sizeof head)) == "ORTH";
}

}  // namespace

void OsdHeader::ParseLine(const std::string& line) {
  ParseControlPointBlock(line, &ControlPointList::AddFromLine);
  if (Has(line, "SPHEROID")) {
    (spheroid_seen_ ? WarpSpheroid : Georef.Spheroid) = keyword::Value(line);
    spheroid_seen_ = true;
  }
  ParseRasterKeywords(line);
  // The spheroid is tested a second time, so the dataset's spheroid ends up
  // as the last spheroid line of the file, warp block included.
  if (Has(line, "SPHEROID")) Georef.Spheroid = keyword::Value(line);
}

bool OsdHeader::Read(const std::string& file_name) {
  spheroid_seen_ = false;
  return ReadKeywords(file_name, "ORTH");
}

bool OsdHeader::Write(const std::string& file_name) {
  return WriteTextFile(file_name, Compose(CurrentTimeStamp()));
}

std::string OsdHeader::Compose(const std::string& time_stamp) {
  return ComposeText("  LastUpdated = ", time_stamp, true);
}

std::string OsdHeader::ComposeText(const std::string& last_updated, const std::string& time_stamp,
                                   bool unsigned_counts) {
  auto count = [unsigned_counts](int32_t v) {
    return unsigned_counts ? std::to_string(static_cast<uint32_t>(v)) : std::to_string(v);
  };
  std::string s;
  auto line = [&s](const std::string& text) {
    s += text;
    s += kEol;
  };
  line("OrthoSetDataHeader [");
  line("  Version      = 1.0");
  line(last_updated + time_stamp);
  line("  DataSetType  = OrthoSetData");
  line(std::string("  ByteOrder = ") + (MSBFirst ? "MSBFirst" : "LSBFirst"));
  line("  CoordinateSystem [");
  line("    Datum      = " + QuoteIfBare(Georef.Datum));
  line("    Projection = " + QuoteIfBare(Georef.Projection));
  if (BothNameRaw(Georef.Datum, Georef.Projection)) coordinate_type_ = CoordinateType::kRaw;
  if (coordinate_type_ != CoordinateType::kRaw) {
    line("    Spheroid = " + QuoteIfBare(Georef.Spheroid));
    line("    Units      = \"METERS\"");
  }
  line("    CoordinateType  = " + CoordinateTypeName(coordinate_type_));
  line("  CoordinateSystem ]");
  line("  ImageInfo [");
  line("    CellType   = " + CellTypeName(cell_type_));
  if (coordinate_type_ != CoordinateType::kRaw && Georef.CellSizeX != 0 && Georef.CellSizeY != 0) {
    line("    Xdimension = " + FormatCellSize(Georef.CellSizeX));
    line("    Ydimension = " + FormatCellSize(Georef.CellSizeY));
  }
  line("    NrOfLines  = " + count(Lines));
  line("    NrOfCellsPerLine = " + count(Width));
  if (coordinate_type_ != CoordinateType::kRaw) {
    line("    RegistrationPoint [");
    line("      Eastings  = " + FormatCoordinate(Georef.RegX));
    line("      Northings = " + FormatCoordinate(Georef.RegY));
    line("    RegistrationPoint ]");
    line("    RegistrationCellX\t= " + FormatCoordinate(Georef.RegCellX));
    line("    RegistrationCellY\t= " + FormatCoordinate(Georef.RegCellY));
  }
  line("    NrOfBands = " + std::to_string(Bands));
  if (ControlPoints && ControlPoints->Count() > 0) {
    line("    WarpControl [");
    line("      CoordinateSpace [");
    line("        Datum      = " + QuoteIfBare(WarpDatum));
    line("        Projection = " + QuoteIfBare(WarpProjection));
    // A RAW warp space makes the dataset's own coordinate type RAW for the
    // rest of this write.
    if (BothNameRaw(WarpDatum, WarpProjection)) coordinate_type_ = CoordinateType::kRaw;
    if (coordinate_type_ != CoordinateType::kRaw) {
      line("        Spheroid = " + QuoteIfBare(WarpSpheroid));
      line("        Units      = \"METERS\"");
    }
    line("        CoordinateType  = " + CoordinateTypeName(WarpCoordinateType));
    line("      CoordinateSpace ]");
    line("      ControlPoints\t= {");
    for (int i = 0; i < ControlPoints->Count(); ++i)
      line("\t\t\t" + ControlPoints->Point(i)->ToLine());
    line("      }");
    line("    WarpControl ]");
  }
  line("  ImageInfo ]");
  line("OrthoSetDataHeader ]");
  return s;
}

OsdReader::OsdReader() {
  Header = std::make_unique<OsdHeader>();
}

void OsdReader::SetFileName(const std::string& file_name) {
  const std::string data = ChangeFileExt(file_name, "");
  const std::string found_data = FindSidecar(data);
  FileName = found_data.empty() ? data : found_data;
  // Outputs such as out.jpg keep their header under the given name itself.
  // A name without an extension is the data file, whatever its first bytes.
  const bool header_given = !ExtractFileExt(file_name).empty() && BeginsWithSignature(file_name);
  const std::string header = header_given ? file_name : ChangeFileExt(file_name, ".osd");
  const std::string found = FindSidecar(header);
  Header->FileName = found.empty() ? header : found;
}

std::string OsdOutputHeader::Compose(const std::string& time_stamp) {
  return ComposeText("  LastUpdated  = ", time_stamp, false);
}

OsdWriter::OsdWriter(const std::string& file_name, uint16_t width, uint16_t lines,
                     CellType cell_type, int32_t bands, uint8_t mode) try
    : HeaderRasterWriter(DataPath(file_name), width, lines, cell_type, bands, mode, false) {
  Header = AdoptHeader(std::make_unique<OsdOutputHeader>(HeaderPath(file_name, ".osd")));
  const std::string failure =
      OpenData(width, lines, cell_type, bands, mode,
               "Open Map Read Error=", "Open Map update error=", "Open map write error=");
  if (!failure.empty()) throw OsdError(failure);
} catch (const MappedOutputError& e) {
  throw OsdError(e.what());
}

}  // namespace clipra
