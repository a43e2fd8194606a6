// Which reader and which writer serve each format code.
#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/source.h"
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

std::unique_ptr<RasterReader> CreateReader(uint8_t code) {
  switch (code) {
    case kFormatErs:
      return std::make_unique<ErsReader>();
    case kFormatOsd:
      return std::make_unique<OsdReader>();
    case kFormatNog:
      return std::make_unique<NogReader>();
    case kFormatDtm:
      return std::make_unique<DtmReader>();
    case kFormatVeg:
      return std::make_unique<VegReader>();
    case kFormatJpg:
      return std::make_unique<JpegReader>();
    case kFormatEcw:
      return std::make_unique<EcwReader>();
    case kFormatRsw:
      return std::make_unique<RswReader>();
    case kFormatTif:
      return std::make_unique<TiffReader>();
    case kFormatBmp:
      return std::make_unique<BmpReader>();
    default:
      return nullptr;
  }
}

std::unique_ptr<RasterWriter> CreateWriter(uint8_t code, const std::string& file_name,
                                           uint16_t width, uint16_t lines, uint8_t cell_type,
                                           int32_t bands, uint8_t mode,
                                           const WriteOptions& options) {
  switch (code) {
    case kFormatErs:
      return std::make_unique<ErsWriter>(file_name, width, lines, cell_type, bands, mode);
    case kFormatNog:
      return std::make_unique<NogWriter>(file_name, width, lines, cell_type, bands, mode);
    case kFormatDtm:
      return std::make_unique<DtmWriter>(file_name, width, lines, cell_type, bands, mode);
    case kFormatTif:
      return std::make_unique<TiffWriter>(file_name, width, lines, cell_type, bands, mode,
                                          options.Compression);
    case kFormatBmp:
      return std::make_unique<BmpWriter>(file_name, width, lines, cell_type, bands, mode);
    default:
      // Every name without a writer of its own (".osd", ".jpg", none...)
      // becomes an OrthoSetData raster.
      return std::make_unique<OsdWriter>(file_name, width, lines, cell_type, bands, mode);
  }
}

std::vector<std::string> OutputFiles(const std::string& file_name) {
  switch (IdentifyForCreate(file_name) & 0x7F) {
    case kFormatErs:
      return {HeaderRasterWriter::DataPath(file_name),
              HeaderRasterWriter::HeaderPath(file_name, ".ers")};
    case kFormatNog:
      return {NogWriter::DataPath(file_name), NogWriter::HeaderPath(file_name)};
    case kFormatDtm:
    case kFormatTif:
    case kFormatBmp:
      return {file_name};
    default:
      return {HeaderRasterWriter::DataPath(file_name),
              HeaderRasterWriter::HeaderPath(file_name, ".osd")};
  }
}

}  // namespace clipra
