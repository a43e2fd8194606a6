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
  uint8_t code;
};

// Tested in this order; the first match wins.
const Signature kSignatures[] = {
    {"ORTH", 4, true, kFormatOsd},
    {"DATA", 4, true, kFormatErs},
    {"GIF8", 4, true, kFormatGif},
    {"MM", 2, true, kFormatTif},
    {"II", 2, true, kFormatTif},
    {"BM", 2, true, kFormatBmp},
    {"\x00\x00\x80\xBF", 4, false, kFormatDtm},  // single -1.0, LSB first
    {"\x65\x02\x01\x02", 4, false, kFormatEcw},
    {"RSW", 3, true, kFormatRsw},
    {"\xFF\xD8", 2, false, kFormatJpg},
    {"BITR", 4, false, kFormatBit},
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

uint8_t IdentifyForCreate(const std::string& file_name) {
  const std::string ext = UpperCase(ExtractFileExt(file_name));
  for (size_t i = 0; i < kExtensionKeys.size(); ++i)
    if (ext.find(kExtensionKeys[i]) != std::string::npos) return static_cast<uint8_t>(i);
  return kFormatUnknown;
}

std::string& IdentifyErrorText() {
  static std::string text;
  return text;
}

uint8_t IdentifyExisting(const std::string& file_name) {
  // The text speaks of this identification only, never of an earlier one.
  IdentifyErrorText().clear();
  if (!FileExists(file_name)) return kFormatNoFile;
  OsFile file;
  if (const int err = file.Open(file_name, FileAccess::kRead); err != 0) {
    IdentifyErrorText() = SystemErrorText(err);
    return kFormatUnknown;
  }
  unsigned char b[8];
  size_t got = 0;
  while (got < sizeof b) {
    const ssize_t n = ::read(file.fd(), b + got, sizeof b - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      IdentifyErrorText() = SystemErrorText(errno);
      return kFormatUnknown;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof b) {
    IdentifyErrorText() = "Read beyond end of file";
    return kFormatUnknown;
  }
  for (const Signature& sig : kSignatures)
    if (Matches(sig, b)) return sig.code;
  const uint8_t by_name = IdentifyForCreate(file_name);
  if (by_name == kFormatNog || by_name == kFormatVeg || by_name == kFormatEcw) return by_name;
  return kFormatUnknown;
}

uint8_t CellTypeFromName(const std::string& name) {
  if (name == "UNSIGNED8BITINTEGER") return kCellUnsigned8;
  if (name == "SIGNED8BITINTEGER") return kCellSigned8;
  if (name == "UNSIGNED16BITINTEGER") return kCellUnsigned16;
  if (name == "SIGNED16BITINTEGER") return kCellSigned16;
  if (name == "SIGNED32BITINTEGER") return kCellSigned32;
  if (name == "SIGNED32BITSINGLE") return kCellFloat32;
  // Other programs name float cells so in ER Mapper headers.
  if (UpperCase(name) == "IEEE4BYTEREAL") return kCellFloat32;
  return kCellUnknown;
}

bool IsReadableCellType(uint8_t code) {
  return code == kCellUnsigned8 || code == kCellSigned8 || code == kCellSigned16 ||
         code == kCellUnsigned16 || code == kCellSigned32 || code == kCellFloat32;
}

const std::string& CellTypeName(uint8_t code) {
  return kCellTypeNames[code < kCellTypeNames.size() ? code : uint8_t{kCellUnknown}];
}

uint32_t CellTypeSize(uint8_t code) {
  return kCellTypeSizes[code < kCellTypeSizes.size() ? code : uint8_t{kCellUnknown}];
}

uint8_t CoordinateTypeFromName(const std::string& name) {
  for (size_t i = 0; i < 3; ++i)
    if (name == kCoordinateTypeNames[i]) return static_cast<uint8_t>(i);
  return kCoordOther;
}

const std::string& CoordinateTypeName(uint8_t code) {
  return kCoordinateTypeNames[code < kCoordinateTypeNames.size() ? code : uint8_t{kCoordOther}];
}

std::string QuoteIfBare(const std::string& s) {
  if (s.find('"') != std::string::npos) return s;
  return "\"" + s + "\"";
}

std::string FormatName(uint8_t code) {
  return code < kExtensionKeys.size() ? kExtensionKeys[code] : std::string();
}

}  // namespace clipra
