// Format codes, cell-type and coordinate-type vocabularies, and the two ways
// of telling a file's format.
#pragma once

#include <cstdint>
#include <string>

namespace clipra {

// The values index the extension table and may be stored in settings files.
enum class FormatCode : uint8_t {
  kErs = 0,
  kOsd = 1,
  kTif = 2,
  kGif = 3,
  kBmp = 4,
  kDtm = 5,
  kNog = 6,
  kJpg = 7,
  kVeg = 8,
  kEcw = 9,
  kDcr = 10,
  kRsw = 11,
  kBit = 12,
  kUnknown = 13,
  kNoFile = 14,
};

// The values index the name and size tables.
enum class CellType : uint8_t {
  kOneBit = 0,
  kUnsigned8 = 1,
  kSigned8 = 2,
  kSigned16 = 3,
  kUnsigned16 = 4,
  kSigned32 = 5,
  kFloat32 = 6,
  kRgb24 = 7,
  kFloat64 = 8,
  kPoint2D = 9,
  kUnknown = 10,
};

enum class CoordinateType : uint8_t {
  kEn = 0,
  kRaw = 1,
  kLatLong = 2,
  kOther = 3,
};

// Uses only the extension: the first table key found inside it.
FormatCode IdentifyForCreate(const std::string& file_name);
// The format a new file of this name is written in: IdentifyForCreate's
// code, except that only names ending in ".jpg" or ".jpeg", in any case,
// are JPEG; other names holding "JPG" (".jpgw") stay unknown.
FormatCode OutputFormat(const std::string& file_name);
// Looks at the first eight bytes, falling back to the extension for the
// formats without a signature. Never creates or writes a file.
FormatCode IdentifyExisting(const std::string& file_name);
// The system's message for the last input/output error of IdentifyExisting.
std::string& IdentifyErrorText();

// The system's names exactly, and the ER Mapper name of float cells in any case.
CellType CellTypeFromName(const std::string& name);
// How ER Mapper headers of other programs name float cells; GDAL opens no other.
inline constexpr const char* kErsFloat32Name = "IEEE4ByteReal";
// True for the cell types whose stored cells the readers decode.
bool IsReadableCellType(CellType type);
// Name and size; values above 10 give the entry of kUnknown.
const std::string& CellTypeName(CellType type);
uint32_t CellTypeSize(CellType type);

CoordinateType CoordinateTypeFromName(const std::string& name);
const std::string& CoordinateTypeName(CoordinateType type);

// Wraps `s` in double quotes unless it already holds one.
std::string QuoteIfBare(const std::string& s);

// The extension key of a format code ("ERS", "TIF", ...), empty for kUnknown
// and kNoFile.
std::string FormatName(FormatCode code);

}  // namespace clipra
