// Which reader and which writer serve each format code.
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
#include "formats/header/ers.h"

namespace clipra {

std::unique_ptr<TDataSetRoot2> CreateReader(uint8_t code) {
  switch (code) {
    case kFormatErs:
      return std::make_unique<TErsMap2>();
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
    default:
      return nullptr;
  }
}

}  // namespace clipra
