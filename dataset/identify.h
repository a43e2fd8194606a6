// Format codes, cell-type and coordinate-type vocabularies, and the two ways
// of telling a file's format.
#pragma once

#include <cstdint>
#include <string>

namespace clipra {

enum FormatCode : uint8_t {
  kFormatErs = 0,
  kFormatOsd = 1,
  kFormatTif = 2,
  kFormatGif = 3,
  kFormatBmp = 4,
  kFormatDtm = 5,
  kFormatNog = 6,
  kFormatJpg = 7,
  kFormatVeg = 8,
  kFormatEcw = 9,
  kFormatDcr = 10,
  kFormatRsw = 11,
  kFormatBit = 12,
  kFormatUnknown = 13,
  kFormatNoFile = 14,
};

enum CellTypeCode : uint8_t {
  kCellOneBit = 0,
  kCellUnsigned8 = 1,
  kCellSigned8 = 2,
  kCellSigned16 = 3,
  kCellUnsigned16 = 4,
  kCellSigned32 = 5,
  kCellFloat32 = 6,
  kCellRgb24 = 7,
  kCellFloat64 = 8,
  kCellPoint2D = 9,
  kCellUnknown = 10,
};

enum CoordinateTypeCode : uint8_t {
  kCoordEn = 0,
  kCoordRaw = 1,
  kCoordLatLong = 2,
  kCoordOther = 3,
};

// Uses only the extension: the first table key found inside it.
uint8_t IdentifyForCreate(const std::string& file_name);
// Looks at the first eight bytes, falling back to the extension for the
// formats without a signature. Never creates or writes a file.
uint8_t IdentifyExisting(const std::string& file_name);
// The system's message for the last input/output error of IdentifyExisting.
std::string& IdentifyErrorText();

// The system's names exactly, and the ER Mapper name of float cells in any case.
uint8_t CellTypeFromName(const std::string& name);
// How ER Mapper headers of other programs name float cells; GDAL opens no other.
inline constexpr const char* kErsFloat32Name = "IEEE4ByteReal";
// True for the cell types whose stored cells the readers decode.
bool IsReadableCellType(uint8_t code);
// Name and size for codes 0..10; codes above 10 give the entry of 10.
const std::string& CellTypeName(uint8_t code);
uint32_t CellTypeSize(uint8_t code);

uint8_t CoordinateTypeFromName(const std::string& name);
const std::string& CoordinateTypeName(uint8_t code);

// Wraps `s` in double quotes unless it already holds one.
std::string QuoteIfBare(const std::string& s);

// The extension key of a format code ("ERS", "TIF", ...), empty for 13 and 14.
std::string FormatName(uint8_t code);

}  // namespace clipra
