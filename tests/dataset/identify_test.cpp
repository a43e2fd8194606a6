#include "dataset/identify.h"

#include <gtest/gtest.h>

#include <string>

#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

TEST(IdentifyForCreate, MatchesTheFirstKeyInTheLastNamesExtension) {
  for (uint8_t code = 0; code <= kFormatBit; ++code)
    EXPECT_EQ(code, IdentifyForCreate("out." + FormatName(code))) << FormatName(code);
  const std::pair<const char*, uint8_t> cases[] = {
      {"/data/map.tiff", kFormatTif}, {"map.bmpx", kFormatBmp},
      {"map.Ers", kFormatErs},        {"map.x001", kFormatNog},
      {"photo.jpeg", kFormatUnknown},  // "JPG" does not occur inside ".JPEG"
      {"a.tifers", kFormatErs},       {"a.rswtif", kFormatTif},
      {"map", kFormatUnknown},        {"/data/maps.tif/readme", kFormatUnknown},
      {"", kFormatUnknown},           {"/data.tif/map.bmp", kFormatBmp}};
  for (const auto& [name, code] : cases) EXPECT_EQ(code, IdentifyForCreate(name)) << name;
}

TEST(IdentifyExisting, ContentDecidesThenTheExtensionForFormatsWithoutSignature) {
  const std::string plain = "plainzzz";
  const struct {
    const char* name;
    std::string bytes;
    uint8_t code;
  } cases[] = {
      {"a.bin", "ORTHzzzz", kFormatOsd},
      {"a.bin", "dAtAzzzz", kFormatErs},  // letter signatures ignore case
      {"a.txt", "DatasetHeader Begin\r\n", kFormatErs},
      {"a.bin", "GIF8zzzz", kFormatGif},
      {"a.bin", "mmzzzzzz", kFormatTif},
      {"a.bin", "IIzzzzzz", kFormatTif},
      {"map.tif", "BMzzzzzz", kFormatBmp},  // content beats the extension
      {"a.bin", std::string("\x00\x00\x80\xBFzzzz", 8), kFormatDtm},
      {"a.bin", "\x65\x02\x01\x02zzzz", kFormatEcw},
      {"a.bin", "rswzzzzz", kFormatRsw},
      {"photo.jpeg", "\xFF\xD8\xFF\xE0zzzz", kFormatJpg},
      {"a.bin", "BITRzzzz", kFormatBit},
      {"a.bin", "bitrzzzz", kFormatUnknown},  // byte signatures keep their case
      {"a.bin", "\xFF\xD9zzzzzz", kFormatUnknown},
      {"map.001", plain, kFormatNog},
      {"tile.veg", plain, kFormatVeg},
      {"map.ecw", plain, kFormatEcw},
      {"map.002", plain, kFormatUnknown},
      {"map.tif", plain, kFormatUnknown},
      {"noext", plain, kFormatUnknown},
      {"exact.bmp", "BM123456", kFormatBmp},  // eight bytes are enough
  };
  TempDir dir;
  for (const auto& c : cases) {
    dir.WriteFile(c.name, c.bytes);
    EXPECT_EQ(c.code, IdentifyExisting(dir.Path(c.name))) << c.name << " " << c.bytes;
    EXPECT_EQ(c.bytes, dir.ReadFile(c.name));
  }
}

TEST(IdentifyExisting, ShortMissingOrFolderIsRefused) {
  TempDir dir;
  dir.WriteFile("short.bmp", "BM12345");
  IdentifyErrorText().clear();
  EXPECT_EQ(kFormatUnknown, IdentifyExisting(dir.Path("short.bmp")));
  EXPECT_EQ("Read beyond end of file", IdentifyErrorText());
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(dir.Path("missing.tif")));
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(dir.path()));
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(""));
  EXPECT_FALSE(FileExists(dir.Path("missing.tif")));  // looking never creates it
}

TEST(IdentifyCellType, NamesSizesAndCodesAgree) {
  const char* names[] = {"ONEBIT",
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
  const uint32_t sizes[] = {0, 1, 1, 2, 2, 4, 4, 3, 8, 16, 1};
  for (uint8_t code = 0; code <= kCellUnknown; ++code) {
    EXPECT_EQ(names[code], CellTypeName(code)) << int{code};
    EXPECT_EQ(sizes[code], CellTypeSize(code)) << int{code};
    // Only the cell types a header may hold read back from their name.
    const bool readable = code >= kCellUnsigned8 && code <= kCellFloat32;
    EXPECT_EQ(readable ? code : uint8_t{kCellUnknown}, CellTypeFromName(names[code])) << names[code];
  }
  // Codes past the table read as the unknown entry rather than past its end.
  EXPECT_EQ("", CellTypeName(200));
  EXPECT_EQ(1u, CellTypeSize(255));
  // Other programs' name of float cells, in any case; ours only in capitals.
  for (const char* name : {"IEEE4BYTEREAL", "ieee4bytereal"})
    EXPECT_EQ(kCellFloat32, CellTypeFromName(name)) << name;
  for (const char* name : {"IEEE8BYTEREAL", "unsigned8bitinteger", " UNSIGNED8BITINTEGER"})
    EXPECT_EQ(kCellUnknown, CellTypeFromName(name)) << name;
}

TEST(IdentifyCoordinateType, NamesRoundTripOthersAreEmpty) {
  for (const char* name : {"EN", "RAW", "LATLONG"})
    EXPECT_EQ(name, CoordinateTypeName(CoordinateTypeFromName(name)));
  EXPECT_EQ(kCoordOther, CoordinateTypeFromName("latlong"));
  EXPECT_EQ("", CoordinateTypeName(kCoordOther));
  EXPECT_EQ("", CoordinateTypeName(99));
  EXPECT_EQ("\"RAW\"", QuoteIfBare("RAW"));
  EXPECT_EQ("\"GDA94\"", QuoteIfBare("\"GDA94\""));
  EXPECT_EQ("a\"b", QuoteIfBare("a\"b"));
}

}  // namespace
}  // namespace clipra
