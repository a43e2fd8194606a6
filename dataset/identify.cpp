#include "dataset/identify.h"

#include <array>
#include <cctype>
#include <cstdio>

#include "dataset/os_file.h"
#include "dataset/utils.h"

#include <unistd.h>

namespace clipra {

namespace {

constexpr std::array<const char*, 13> kExtensionKeys = {
    "ERS", "OSD", "TIF", "GIF", "BMP", "DTM", "001", "JPG", "VEG", "ECW", "DCR", "RSW", "BIT"};

// A signature: `length` leading bytes, compared after upper-casing when
// `letters` is set.
struct Signature {
  const char* bytes;
  size_t length;
  bool letters;
  FormatCode code;
};

// Tested in this order; the first match wins.
const Signature kSignatures[] = {
    {"ORTH", 4, true, FormatCode::kOsd},
    {"DATA", 4, true, FormatCode::kErs},
    {"GIF8", 4, true, FormatCode::kGif},
    {"MM", 2, true, FormatCode::kTif},
    {"II", 2, true, FormatCode::kTif},
    {"BM", 2, true, FormatCode::kBmp},
    {"\x00\x00\x80\xBF", 4, false, FormatCode::kDtm},  // single -1.0, LSB first
    {"\x65\x02\x01\x02", 4, false, FormatCode::kEcw},
    {"RSW", 3, true, FormatCode::kRsw},
    {"\xFF\xD8", 2, false, FormatCode::kJpg},
    {"BITR", 4, false, FormatCode::kBit},
};

bool Matches(const Signature& sig, const unsigned char* b) {
  for (size_t i = 0; i < sig.length; ++i) {
    const unsigned char want = static_cast<unsigned char>(sig.bytes[i]);
    const unsigned char have = sig.letters ? static_cast<unsigned char>(std::toupper(b[i])) : b[i];
    if (want != have) return false;
  }
  return true;
}

const std::array<std::string, 11> kCellTypeNames = {"ONEBIT",
                                                    "UNSIGNED8BITINTEGER",
                                                    "SIGNED8BITINTEGER",
                                                    "SIGNED16BITINTEGER",
                                                    "UNSIGNED16BITINTEGER",
                                                    "SIGNED32BITINTEGER",
                                                    "SIGNED32BITSINGLE",
                                                    "RGB24BIT",
                                                    "SIGNED64BITDOUBLE",
                                                    "POINT2DDOUBLE",
                                                    ""};
constexpr std::array<uint32_t, 11> kCellTypeSizes = {0, 1, 1, 2, 2, 4, 4, 3, 8, 16, 1};

const std::array<std::string, 4> kCoordinateTypeNames = {"EN", "RAW", "LATLONG", ""};

}  // namespace

FormatCode IdentifyForCreate(const std::string& file_name) {
  const std::string ext = UpperCase(ExtractFileExt(file_name));
  for (size_t i = 0; i < kExtensionKeys.size(); ++i)
    if (ext.find(kExtensionKeys[i]) != std::string::npos) return static_cast<FormatCode>(i);
  return FormatCode::kUnknown;
}

FormatCode OutputFormat(const std::string& file_name) {
  const std::string ext = UpperCase(ExtractFileExt(file_name));
  if (ext == ".JPG" || ext == ".JPEG") return FormatCode::kJpg;
  const FormatCode code = IdentifyForCreate(file_name);
  return code == FormatCode::kJpg ? FormatCode::kUnknown : code;
}

std::string& IdentifyErrorText() {
  static std::string text;
  return text;
}

FormatCode IdentifyExisting(const std::string& file_name) {
  // The text speaks of this identification only, never of an earlier one.
  IdentifyErrorText().clear();
  if (!FileExists(file_name)) return FormatCode::kNoFile;
  OsFile file;
  if (const int err = file.Open(file_name, FileAccess::kRead); err != 0) {
    IdentifyErrorText() = SystemErrorText(err);
    return FormatCode::kUnknown;
  }
  unsigned char b[8];
  size_t got = 0;
  while (got < sizeof b) {
    const ssize_t n = ::read(file.fd(), b + got, sizeof b - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      IdentifyErrorText() = SystemErrorText(errno);
      return FormatCode::kUnknown;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof b) {
    IdentifyErrorText() = "Read beyond end of file";
    return FormatCode::kUnknown;
  }
  for (const Signature& sig : kSignatures)
    if (Matches(sig, b)) return sig.code;
  const FormatCode by_name = IdentifyForCreate(file_name);
  if (by_name == FormatCode::kNog || by_name == FormatCode::kVeg || by_name == FormatCode::kEcw)
    return by_name;
  return FormatCode::kUnknown;
}

CellType CellTypeFromName(const std::string& name) {
  if (name == "UNSIGNED8BITINTEGER") return CellType::kUnsigned8;
  if (name == "SIGNED8BITINTEGER") return CellType::kSigned8;
  if (name == "UNSIGNED16BITINTEGER") return CellType::kUnsigned16;
  if (name == "SIGNED16BITINTEGER") return CellType::kSigned16;
  if (name == "SIGNED32BITINTEGER") return CellType::kSigned32;
  if (name == "SIGNED32BITSINGLE") return CellType::kFloat32;
  // Other programs name float cells so in ER Mapper headers.
  if (UpperCase(name) == "IEEE4BYTEREAL") return CellType::kFloat32;
  return CellType::kUnknown;
}

bool IsReadableCellType(CellType type) {
  return type == CellType::kUnsigned8 || type == CellType::kSigned8 ||
         type == CellType::kSigned16 || type == CellType::kUnsigned16 ||
         type == CellType::kSigned32 || type == CellType::kFloat32;
}

const std::string& CellTypeName(CellType type) {
  const size_t i = static_cast<size_t>(type);
  return kCellTypeNames[i < kCellTypeNames.size() ? i : static_cast<size_t>(CellType::kUnknown)];
}

uint32_t CellTypeSize(CellType type) {
  const size_t i = static_cast<size_t>(type);
  return kCellTypeSizes[i < kCellTypeSizes.size() ? i : static_cast<size_t>(CellType::kUnknown)];
}

CoordinateType CoordinateTypeFromName(const std::string& name) {
  for (size_t i = 0; i < 3; ++i)
    if (name == kCoordinateTypeNames[i]) return static_cast<CoordinateType>(i);
  return CoordinateType::kOther;
}

const std::string& CoordinateTypeName(CoordinateType type) {
  const size_t i = static_cast<size_t>(type);
  return kCoordinateTypeNames[i < kCoordinateTypeNames.size()
                                  ? i
                                  : static_cast<size_t>(CoordinateType::kOther)];
}

std::string QuoteIfBare(const std::string& s) {
  if (s.find('"') != std::string::npos) return s;
  return "\"" + s + "\"";
}

std::string FormatName(FormatCode code) {
  const size_t i = static_cast<size_t>(code);
  return i < kExtensionKeys.size() ? kExtensionKeys[i] : std::string();
}

}  // namespace clipra
