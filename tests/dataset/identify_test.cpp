#include "dataset/identify.h"

#include <gtest/gtest.h>

#include <string>

#include "dataset/utils.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

// Eight bytes: `lead` followed by filler that matches no signature.
std::string Head(const std::string& lead) {
  return lead + std::string(8 - lead.size(), 'z');
}

TEST(IdentifyForCreate, EveryKeyGivesItsCode) {
  for (uint8_t code = 0; code <= kFormatBit; ++code) {
    EXPECT_EQ(code, IdentifyForCreate("out." + FormatName(code))) << FormatName(code);
  }
}

TEST(IdentifyForCreate, ExtensionIsMatchedAsASubstringInAnyCase) {
  EXPECT_EQ(kFormatTif, IdentifyForCreate("/data/map.tiff"));
  EXPECT_EQ(kFormatBmp, IdentifyForCreate("map.bmpx"));
  EXPECT_EQ(kFormatErs, IdentifyForCreate("map.Ers"));
  EXPECT_EQ(kFormatNog, IdentifyForCreate("map.x001"));
  // "JPG" does not occur inside ".JPEG".
  EXPECT_EQ(kFormatUnknown, IdentifyForCreate("photo.jpeg"));
}

TEST(IdentifyForCreate, FirstKeyInTableOrderWins) {
  EXPECT_EQ(kFormatErs, IdentifyForCreate("a.tifers"));
  EXPECT_EQ(kFormatJpg, IdentifyForCreate("a.bitjpg"));
  EXPECT_EQ(kFormatTif, IdentifyForCreate("a.rswtif"));
}

TEST(IdentifyForCreate, OnlyTheLastNameCountsAsExtension) {
  EXPECT_EQ(kFormatUnknown, IdentifyForCreate("map"));
  EXPECT_EQ(kFormatUnknown, IdentifyForCreate("/data/maps.tif/readme"));
  EXPECT_EQ(kFormatUnknown, IdentifyForCreate(""));
  EXPECT_EQ(kFormatBmp, IdentifyForCreate("/data.tif/map.bmp"));
}

class IdentifyExistingTest : public ::testing::Test {
 protected:
  uint8_t IdentifyBytes(const std::string& name, const std::string& bytes) {
    dir_.WriteFile(name, bytes);
    return IdentifyExisting(dir_.Path(name));
  }
  TempDir dir_;
};

TEST_F(IdentifyExistingTest, RecognisesEverySignature) {
  EXPECT_EQ(kFormatOsd, IdentifyBytes("a.bin", Head("ORTH")));
  EXPECT_EQ(kFormatErs, IdentifyBytes("a.bin", Head("DATA")));
  EXPECT_EQ(kFormatGif, IdentifyBytes("a.bin", Head("GIF8")));
  EXPECT_EQ(kFormatTif, IdentifyBytes("a.bin", Head("MM")));
  EXPECT_EQ(kFormatTif, IdentifyBytes("a.bin", Head("II")));
  EXPECT_EQ(kFormatBmp, IdentifyBytes("a.bin", Head("BM")));
  EXPECT_EQ(kFormatDtm, IdentifyBytes("a.bin", Head(std::string("\x00\x00\x80\xBF", 4))));
  EXPECT_EQ(kFormatEcw, IdentifyBytes("a.bin", Head("\x65\x02\x01\x02")));
  EXPECT_EQ(kFormatRsw, IdentifyBytes("a.bin", Head("RSW")));
  EXPECT_EQ(kFormatJpg, IdentifyBytes("a.bin", Head("\xFF\xD8")));
  EXPECT_EQ(kFormatBit, IdentifyBytes("a.bin", Head("BITR")));
}

TEST_F(IdentifyExistingTest, LetterSignaturesIgnoreCaseByteSignaturesDoNot) {
  EXPECT_EQ(kFormatErs, IdentifyBytes("header.txt", "DatasetHeader Begin\r\n"));
  EXPECT_EQ(kFormatErs, IdentifyBytes("a.bin", Head("dAtA")));
  EXPECT_EQ(kFormatOsd, IdentifyBytes("a.bin", Head("orth")));
  EXPECT_EQ(kFormatTif, IdentifyBytes("a.bin", Head("mm")));
  EXPECT_EQ(kFormatRsw, IdentifyBytes("a.bin", Head("rsw")));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("a.bin", Head("bitr")));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("a.bin", Head("\xFF\xD9")));
}

TEST_F(IdentifyExistingTest, ContentBeatsExtension) {
  EXPECT_EQ(kFormatBmp, IdentifyBytes("map.tif", Head("BM")));
  EXPECT_EQ(kFormatTif, IdentifyForCreate(dir_.Path("map.tif")));
  EXPECT_EQ(kFormatJpg, IdentifyBytes("photo.jpeg", Head("\xFF\xD8\xFF\xE0")));
  EXPECT_EQ(kFormatUnknown, IdentifyForCreate(dir_.Path("photo.jpeg")));
}

TEST_F(IdentifyExistingTest, ExtensionDecidesOnlyForFormatsWithoutSignature) {
  const std::string plain = Head("plain");
  EXPECT_EQ(kFormatNog, IdentifyBytes("map.001", plain));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("map.002", plain));
  EXPECT_EQ(kFormatVeg, IdentifyBytes("tile.veg", plain));
  EXPECT_EQ(kFormatEcw, IdentifyBytes("map.ecw", plain));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("map.tif", plain));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("map.ers", plain));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("map.bmp", plain));
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("noext", plain));
}

TEST_F(IdentifyExistingTest, ShortFileIsUnreadable) {
  IdentifyErrorText().clear();
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("short.bmp", "BM12345"));
  EXPECT_EQ("Read beyond end of file", IdentifyErrorText());
  EXPECT_EQ(kFormatUnknown, IdentifyBytes("empty.001", ""));
  EXPECT_EQ("Read beyond end of file", IdentifyErrorText());
  // Eight bytes are enough.
  EXPECT_EQ(kFormatBmp, IdentifyBytes("exact.bmp", "BM123456"));
}

TEST_F(IdentifyExistingTest, MissingFileOrFolderIsNoFile) {
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(dir_.Path("missing.tif")));
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(dir_.path()));
  EXPECT_EQ(kFormatNoFile, IdentifyExisting(""));
  // Looking never creates the file.
  EXPECT_FALSE(FileExists(dir_.Path("missing.tif")));
}

TEST_F(IdentifyExistingTest, LeavesTheFileAsItWas) {
  const std::string bytes = Head("II*\0");
  EXPECT_EQ(kFormatTif, IdentifyBytes("map.tif", bytes));
  EXPECT_EQ(bytes, dir_.ReadFile("map.tif"));
}

TEST(IdentifyCellType, NamesMapToCodesExactly) {
  EXPECT_EQ(kCellUnsigned8, CellTypeFromName("UNSIGNED8BITINTEGER"));
  EXPECT_EQ(kCellSigned8, CellTypeFromName("SIGNED8BITINTEGER"));
  EXPECT_EQ(kCellSigned16, CellTypeFromName("SIGNED16BITINTEGER"));
  EXPECT_EQ(kCellUnsigned16, CellTypeFromName("UNSIGNED16BITINTEGER"));
  EXPECT_EQ(kCellSigned32, CellTypeFromName("SIGNED32BITINTEGER"));
  EXPECT_EQ(kCellFloat32, CellTypeFromName("SIGNED32BITSINGLE"));
  // Other programs' name of float cells, in any case.
  for (const char* name : {"IEEE4BYTEREAL", "IEEE4ByteReal", "ieee4bytereal"})
    EXPECT_EQ(kCellFloat32, CellTypeFromName(name)) << name;
  EXPECT_EQ(kCellUnknown, CellTypeFromName("IEEE8BYTEREAL"));
  // Names that exist in the table but are never read from a header.
  for (const char* name : {"ONEBIT", "RGB24BIT", "SIGNED64BITDOUBLE", "POINT2DDOUBLE"})
    EXPECT_EQ(kCellUnknown, CellTypeFromName(name)) << name;
  EXPECT_EQ(kCellUnknown, CellTypeFromName("unsigned8bitinteger"));
  EXPECT_EQ(kCellUnknown, CellTypeFromName(" UNSIGNED8BITINTEGER"));
  EXPECT_EQ(kCellUnknown, CellTypeFromName(""));
}

TEST(IdentifyCellType, NameAndSizeTables) {
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
    EXPECT_LE(CellTypeName(code).size(), 25u);
  }
  // Codes past the table read as the unknown entry rather than past its end.
  EXPECT_EQ("", CellTypeName(200));
  EXPECT_EQ(1u, CellTypeSize(255));
}

TEST(IdentifyCoordinateType, NamesRoundTripAndOthersAreEmpty) {
  EXPECT_EQ(kCoordEn, CoordinateTypeFromName("EN"));
  EXPECT_EQ(kCoordRaw, CoordinateTypeFromName("RAW"));
  EXPECT_EQ(kCoordLatLong, CoordinateTypeFromName("LATLONG"));
  EXPECT_EQ("LATLONG", CoordinateTypeName(CoordinateTypeFromName("LATLONG")));
  EXPECT_EQ("EN", CoordinateTypeName(kCoordEn));
  EXPECT_EQ("RAW", CoordinateTypeName(kCoordRaw));
  EXPECT_EQ(kCoordOther, CoordinateTypeFromName("latlong"));
  EXPECT_EQ(kCoordOther, CoordinateTypeFromName("UTM"));
  EXPECT_EQ("", CoordinateTypeName(kCoordOther));
  EXPECT_EQ("", CoordinateTypeName(99));
}

TEST(IdentifyQuoteIfBare, AddsQuotesOnlyWhenThereAreNone) {
  EXPECT_EQ("\"RAW\"", QuoteIfBare("RAW"));
  EXPECT_EQ("\"\"", QuoteIfBare(""));
  EXPECT_EQ("\"GDA94\"", QuoteIfBare("\"GDA94\""));
  EXPECT_EQ("a\"b", QuoteIfBare("a\"b"));
  EXPECT_EQ("\" two words \"", QuoteIfBare(" two words "));
}

}  // namespace
}  // namespace clipra
