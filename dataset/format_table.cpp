// Which reader and which writer serve each format code.
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
#include "formats/header/dtm.h"
#include "formats/header/ers.h"
#include "formats/header/nog.h"
#include "formats/header/osd.h"
#include "formats/header/veg.h"
#include "formats/image/bmp.h"
#include "formats/image/ecw.h"
#include "formats/image/jpg.h"
#include "formats/image/rsw.h"
#include "formats/image/tif.h"

namespace clipra {

std::unique_ptr<TDataSetRoot2> CreateReader(uint8_t code) {
  switch (code) {
    case kFormatErs:
      return std::make_unique<TErsMap2>();
    case kFormatOsd:
      return std::make_unique<TOsdMap2>();
    case kFormatNog:
      return std::make_unique<TNogMap2>();
    case kFormatDtm:
      return std::make_unique<TDtmMap2>();
    case kFormatVeg:
      return std::make_unique<TVegFile>();
    case kFormatJpg:
      return std::make_unique<TJpgMap2>();
    case kFormatEcw:
      return std::make_unique<TECWMap2>();
    case kFormatRsw:
      return std::make_unique<TRswMap2>();
    case kFormatTif:
      return std::make_unique<TTifMap2>();
    case kFormatBmp:
      return std::make_unique<TBMPMap2>();
    default:
      return nullptr;
  }
}

std::unique_ptr<TDataSetRoot> CreateWriter(uint8_t code, const std::string& file_name,
                                           uint16_t width, uint16_t lines, uint8_t cell_type,
                                           int32_t bands, uint8_t mode) {
  switch (code) {
    case kFormatErs:
      return std::make_unique<TErsMap>(file_name, width, lines, cell_type, bands, mode);
    case kFormatNog:
      return std::make_unique<TNogMap>(file_name, width, lines, cell_type, bands, mode);
    case kFormatDtm:
      return std::make_unique<TDtmMap>(file_name, width, lines, cell_type, bands, mode);
    case kFormatTif:
      return std::make_unique<TTifMap>(file_name, width, lines, cell_type, bands, mode);
    case kFormatBmp:
      return std::make_unique<TBMPMap>(file_name, width, lines, cell_type, bands, mode);
    default:
      // Every name without a writer of its own (".osd", ".jpg", none...)
      // becomes an OrthoSetData raster.
      return std::make_unique<TOsdMap>(file_name, width, lines, cell_type, bands, mode);
  }
}

std::vector<std::string> OutputFiles(const std::string& file_name) {
  switch (IdentifyForCreate(file_name) & 0x7F) {
    case kFormatErs:
      return {THeaderWriter::DataPath(file_name), THeaderWriter::HeaderPath(file_name, ".ers")};
    case kFormatNog:
      return {TNogMap::DataPath(file_name), TNogMap::HeaderPath(file_name)};
    case kFormatDtm:
    case kFormatTif:
    case kFormatBmp:
      return {file_name};
    default:
      return {THeaderWriter::DataPath(file_name), THeaderWriter::HeaderPath(file_name, ".osd")};
  }
}

}  // namespace clipra
