#include "dataset/identify.h"

#include "support/format_test.h"

namespace clipra {
namespace {

TEST(IdentifyForCreate, MatchesTheFirstKeyInTheLastNamesExtension) {
  for (uint8_t i = 0; i <= static_cast<uint8_t>(FormatCode::kBit); ++i) {
    const FormatCode code = static_cast<FormatCode>(i);
    EXPECT_EQ(code, IdentifyForCreate("out." + FormatName(code))) << FormatName(code);
  }
  const std::pair<const char*, FormatCode> cases[] = {
      {"/data/map.tiff", FormatCode::kTif}, {"map.bmpx", FormatCode::kBmp},
      {"map.Ers", FormatCode::kErs},        {"map.x001", FormatCode::kNog},
      {"photo.jpeg", FormatCode::kUnknown},  // "JPG" does not occur inside ".JPEG"
      {"a.tifers", FormatCode::kErs},       {"a.rswtif", FormatCode::kTif},
      {"map", FormatCode::kUnknown},        {"/data/maps.tif/readme", FormatCode::kUnknown},
      {"", FormatCode::kUnknown},           {"/data.tif/map.bmp", FormatCode::kBmp}};
  for (const auto& [name, code] : cases) EXPECT_EQ(code, IdentifyForCreate(name)) << name;
}

// Letter signatures ignore case, byte signatures keep theirs, content beats
// the extension, and eight bytes are enough.
TEST(IdentifyExisting, ContentDecidesThenTheExtensionShortOrMissingIsRefused) {
  const std::string plain = "plainzzz";
  const struct {
    const char* name;
    std::string bytes;
    FormatCode code;
  } cases[] = {{"a.bin", "ORTHzzzz", FormatCode::kOsd},
               {"a.bin", "dAtAzzzz", FormatCode::kErs},
               {"a.txt", "DatasetHeader Begin\r\n", FormatCode::kErs},
               {"a.bin", "GIF8zzzz", FormatCode::kGif},
               {"a.bin", "mmzzzzzz", FormatCode::kTif},
               {"a.bin", "IIzzzzzz", FormatCode::kTif},
               {"map.tif", "BMzzzzzz", FormatCode::kBmp},
               {"a.bin", std::string("\x00\x00\x80\xBFzzzz", 8), FormatCode::kDtm},
               {"a.bin", "\x65\x02\x01\x02zzzz", FormatCode::kEcw},
               {"a.bin", "rswzzzzz", FormatCode::kRsw},
               {"photo.jpeg", "\xFF\xD8\xFF\xE0zzzz", FormatCode::kJpg},
               {"a.bin", "BITRzzzz", FormatCode::kBit},
               {"a.bin", "bitrzzzz", FormatCode::kUnknown},
               {"a.bin", "\xFF\xD9zzzzzz", FormatCode::kUnknown},
               {"map.001", plain, FormatCode::kNog},
               {"tile.veg", plain, FormatCode::kVeg},
               {"map.ecw", plain, FormatCode::kEcw},
               {"map.002", plain, FormatCode::kUnknown},
               {"map.tif", plain, FormatCode::kUnknown},
               {"noext", plain, FormatCode::kUnknown},
               {"exact.bmp", "BM123456", FormatCode::kBmp},
               {"short.bmp", "BM12345", FormatCode::kUnknown}};
  TempDir dir;
  for (const auto& c : cases) {
    dir.WriteFile(c.name, c.bytes);
    EXPECT_EQ(c.code, IdentifyExisting(dir.Path(c.name))) << c.name << " " << c.bytes;
    EXPECT_EQ(c.bytes, dir.ReadFile(c.name));
  }
  EXPECT_EQ("Read beyond end of file", IdentifyErrorText());  // of the last, short file
  for (const std::string& name : {dir.Path("missing.tif"), dir.path(), std::string()})
    EXPECT_EQ(FormatCode::kNoFile, IdentifyExisting(name)) << name;
  EXPECT_FALSE(FileExists(dir.Path("missing.tif")));  // looking never creates it
}

TEST(IdentifyCellType, NamesSizesAndCodesAgree) {
  // The unknown type's name is empty.
  const std::string names =
      "ONEBIT UNSIGNED8BITINTEGER SIGNED8BITINTEGER SIGNED16BITINTEGER UNSIGNED16BITINTEGER "
      "SIGNED32BITINTEGER SIGNED32BITSINGLE RGB24BIT SIGNED64BITDOUBLE POINT2DDOUBLE  ";
  const uint32_t sizes[] = {0, 1, 1, 2, 2, 4, 4, 3, 8, 16, 1};
  std::string all;
  for (uint8_t i = 0; i <= static_cast<uint8_t>(CellType::kUnknown); ++i) {
    const CellType type = static_cast<CellType>(i);
    all += CellTypeName(type) + " ";
    EXPECT_EQ(sizes[i], CellTypeSize(type)) << int{i};
    // Only the cell types a header may hold read back from their name.
    const bool readable = type >= CellType::kUnsigned8 && type <= CellType::kFloat32;
    EXPECT_EQ(readable ? type : CellType::kUnknown, CellTypeFromName(CellTypeName(type)))
        << CellTypeName(type);
  }
  EXPECT_EQ(names, all);
  // Values past the table read as the unknown entry rather than past its end.
  EXPECT_EQ("", CellTypeName(static_cast<CellType>(200)));
  EXPECT_EQ(1u, CellTypeSize(static_cast<CellType>(255)));
  // Ours only in capitals (other programs' float name: ers_test).
  for (const char* name : {"IEEE8BYTEREAL", "unsigned8bitinteger", " UNSIGNED8BITINTEGER"})
    EXPECT_EQ(CellType::kUnknown, CellTypeFromName(name)) << name;
}

// EN, RAW and the quoting of bare words are pinned by the header writers' tests.
TEST(IdentifyCoordinateType, NamesAreCaseSensitiveOthersAreEmpty) {
  EXPECT_EQ("LATLONG", CoordinateTypeName(CoordinateTypeFromName("LATLONG")));
  EXPECT_EQ(CoordinateType::kOther, CoordinateTypeFromName("latlong"));
  EXPECT_EQ("", CoordinateTypeName(CoordinateType::kOther));
  EXPECT_EQ("", CoordinateTypeName(static_cast<CoordinateType>(99)));
  EXPECT_EQ("a\"b", QuoteIfBare("a\"b"));
}

}  // namespace
}  // namespace clipra
