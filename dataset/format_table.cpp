// Which reader and which writer serve each format code.
#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "formats/header/dtm.h"
#include "formats/header/ers.h"
#include "formats/header/nog.h"
#include "formats/header/osd.h"
#include "formats/header/veg.h"
#include "formats/image/bmp.h"
#include "formats/image/ecw.h"
#include "formats/image/jpeg.h"
#include "formats/image/rsw.h"
#include "formats/image/tiff.h"

namespace clipra {

std::unique_ptr<RasterReader> CreateReader(FormatCode code) {
  switch (code) {
    case FormatCode::kErs:
      return std::make_unique<ErsReader>();
    case FormatCode::kOsd:
      return std::make_unique<OsdReader>();
    case FormatCode::kNog:
      return std::make_unique<NogReader>();
    case FormatCode::kDtm:
      return std::make_unique<DtmReader>();
    case FormatCode::kVeg:
      return std::make_unique<VegReader>();
    case FormatCode::kJpg:
      return std::make_unique<JpegReader>();
    case FormatCode::kEcw:
      return std::make_unique<EcwReader>();
    case FormatCode::kRsw:
      return std::make_unique<RswReader>();
    case FormatCode::kTif:
      return std::make_unique<TiffReader>();
    case FormatCode::kBmp:
      return std::make_unique<BmpReader>();
    default:
      return nullptr;
  }
}

std::unique_ptr<RasterWriter> CreateWriter(FormatCode code, const std::string& file_name,
                                           uint16_t width, uint16_t lines, CellType cell_type,
                                           int32_t bands, uint8_t mode,
                                           const WriteOptions& options) {
  switch (code) {
    case FormatCode::kErs:
      return std::make_unique<ErsWriter>(file_name, width, lines, cell_type, bands, mode);
    case FormatCode::kNog:
      return std::make_unique<NogWriter>(file_name, width, lines, cell_type, bands, mode);
    case FormatCode::kDtm:
      return std::make_unique<DtmWriter>(file_name, width, lines, cell_type, bands, mode);
    case FormatCode::kTif:
      return std::make_unique<TiffWriter>(file_name, width, lines, cell_type, bands, mode,
                                          options.Compression);
    case FormatCode::kBmp:
      return std::make_unique<BmpWriter>(file_name, width, lines, cell_type, bands, mode);
    case FormatCode::kJpg:
      return std::make_unique<JpegWriter>(file_name, width, lines, cell_type, bands, mode,
                                          options.JpegQuality);
    default:
      // Every name without a writer of its own (".osd", ".jpgw", none...)
      // becomes an OrthoSetData raster.
      return std::make_unique<OsdWriter>(file_name, width, lines, cell_type, bands, mode);
  }
}

std::vector<std::string> OutputFiles(const std::string& file_name) {
  switch (OutputFormat(file_name)) {
    case FormatCode::kErs:
      return {HeaderRasterWriter::DataPath(file_name),
              HeaderRasterWriter::HeaderPath(file_name, ".ers")};
    case FormatCode::kNog:
      return {NogWriter::DataPath(file_name), NogWriter::HeaderPath(file_name)};
    case FormatCode::kDtm:
    case FormatCode::kTif:
    case FormatCode::kBmp:
      return {file_name};
    case FormatCode::kJpg:
      return {file_name, ChangeFileExt(file_name, ".jgw")};
    default:
      return {HeaderRasterWriter::DataPath(file_name),
              HeaderRasterWriter::HeaderPath(file_name, ".osd")};
  }
}

std::string OutputRefusal(const std::string& file_name, uint32_t width, uint32_t lines,
                          CellType cell_type, uint32_t bands) {
  switch (OutputFormat(file_name)) {
    case FormatCode::kJpg:
      return JpegWriter::Refusal(width, lines, cell_type, bands);
    default:
      return {};
  }
}

}  // namespace clipra
