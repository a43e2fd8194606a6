#include "formats/header/nog.h"

#include <cstdio>

#include "support/ers_builder.h"
#include "support/format_test.h"

namespace clipra {
namespace {

// A header record with the five texts at their offsets.
struct NogRecord {
  std::string cell_size = "1", top_y = "0", left_x = "0", lines = "1", width = "1";
  size_t size = nog::kRecordSize;

  std::string Bytes() const {
    std::string r(nog::kRecordSize, '\0');
    r.replace(nog::kCellSizeOffset, cell_size.size(), cell_size);
    r.replace(nog::kTopYOffset, top_y.size(), top_y);
    r.replace(nog::kLeftXOffset, left_x.size(), left_x);
    r.replace(nog::kLinesOffset, lines.size(), lines);
    r.replace(nog::kWidthOffset, width.size(), width);
    r.resize(size, '\0');
    return r;
  }
};

TEST(NogReader, ReadsHeaderTextsAndCellsTopLineFirstInsideTheDataFile) {
  TempDir dir;
  dir.WriteFile("map.001", NogRecord{"2,5", "6100000.5", "500000", "3", "4"}.Bytes());
  dir.WriteFile("map.002",
                Le<int16_t>({-2, 1, 2, 3, 10, 11, 12, 13, 20, 21, 22, -32768}) + "longer");
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("map.001"))) << in.GetErrorText();
  RasterReader& r = *in.GetReader();
  EXPECT_EQ(CellType::kSigned16, r.GetCellType());
  EXPECT_EQ("2.5 2.5, 500000 6100000.5,   ", Placement(r));
  // The first stored line is the top one; a longer data file keeps the described grid.
  ExpectCells(
      r, 4, 3, 1,
      [](uint32_t x, uint32_t y, uint32_t) {
        return x + y == 0 ? -2.0 : x == 3 && y == 2 ? -32768.0 : 10.0 * y + x;
      },
      false);
  // The data file is found whatever its case, an empty cell size reads as
  // zero, and a shorter data file (two and a half lines) bounds the reads.
  dir.WriteFile("Map.001", NogRecord{.cell_size = "", .lines = "1000000000", .width = "4"}.Bytes());
  dir.WriteFile("MAP.002", Le<int16_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  NogReader c;
  ASSERT_TRUE(c.Open(dir.Path("Map.001"))) << c.ErrorText;
  EXPECT_EQ(0, c.Header->Georef.CellSizeY);
  EXPECT_EQ(1000000000u, c.GetLines());  // as described
  float v = 0;
  ASSERT_TRUE(c.GetCell(3, 1, 0, v));
  EXPECT_EQ(8, v);
  EXPECT_FALSE(c.GetCell(0, 2, 0, v));
  EXPECT_FALSE(c.GetCell(4, 0, 0, v));
}

TEST(NogReader, BadHeadersOrDataFilesFailTheOpenWithAMessage) {
  TempDir dir;
  const struct {
    NogRecord record;
    const char* data;  // nullptr: no data file
    std::string message;
  } cases[] = {
      {{.size = 1699}, "12", "Header " + ShortenPath(dir.Path("map.001"), 20) + " reading error "},
      {{.width = "12a"}, "12", "Header map.001: the width '12a' is not an integer"},
      {{.lines = ""}, "12", "Header map.001: the line count '' is not an integer"},
      {{.lines = "-3"}, "12", "Header map.001 describes no cells: 1 cells per line, -3 lines"},
      {{.width = "0"}, "12", "Header map.001 describes no cells: 0 cells per line, 1 lines"},
      {{.width = "2000000000"},
       "12345678",
       "Data file map.002 holds 8 bytes, less than one line of 2000000000 signed 16-bit cells"},
      {{}, "x", "Data file map.002 holds 1 bytes, less than one line of 1 signed 16-bit cells"},
      {{}, nullptr, "Open Map Read Error=2 No such file or directory"},
  };
  for (const auto& k : cases) {
    dir.WriteFile("map.001", k.record.Bytes());
    std::remove(dir.Path("map.002").c_str());
    if (k.data) dir.WriteFile("map.002", k.data);
    Source in;
    EXPECT_FALSE(in.Open(dir.Path("map.001")));
    EXPECT_EQ(k.message, in.GetErrorText());
  }
}

TEST(NogWriter, RoundTripKeepsCellsOrientationAndGeoreference) {
  TempDir dir;
  dir.WriteFile("out.001", std::string(3000, 'x'));  // replaced, not kept
  {
    Output out(dir.Path("out.001"), 4, 3, CellType::kSigned16, 1, 1);
    // The registration cell (1, 2) moves the corner.
    out.SetGeoreference({100000, 100000, 1, 2, 4100000, 5800000, "BESSEL", "S42", "GK"});
    const Georeference g = out.GetWriter()->GetGeoreference();
    EXPECT_EQ("KA CS42 Gauss_North", g.Spheroid + " " + g.Datum + " " + g.Projection);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) out.PutValue(x, y, 0, 100.0 * y + x + 0.5);
  }
  EXPECT_EQ(24u, dir.ReadFile("out.002").size());
  // Round values in plain decimals, not as "6e+06".
  EXPECT_EQ((NogRecord{"100000", "6000000", "4000000", "3", "4"}.Bytes()), dir.ReadFile("out.001"));
  // Top line first; halves round to even.
  EXPECT_EQ((std::vector<float>{0, 2, 2, 4, 100, 102, 102, 104, 200, 202, 202, 204}),
            ReadAllCells(dir.Path("out.001")));
  // One band of signed 16-bit cells whatever is asked: the last band written
  // stays, and beyond the 16-bit range the low bits stay, as for every integer cell.
  {
    Output out(dir.Path("m.001"), 2, 2, CellType::kUnsigned8, 3, 1);
    EXPECT_EQ(CellType::kSigned16, out.GetWriter()->GetCellType());
    EXPECT_EQ(1u, out.GetWriter()->GetBands());
    out.PutValue(0, 0, 0, 1);
    out.PutValue(0, 0, 1, 2);
    out.PutValue(0, 0, 2, -2.5);
    out.PutValue(1, 1, 0, 40000);
    EXPECT_FALSE(out.PutValue(2, 0, 0, 1));
    EXPECT_FALSE(out.PutValue(0, 2, 0, 1));
  }
  EXPECT_EQ(Le<int16_t>({-2, 0, 0, static_cast<int16_t>(40000)}), dir.ReadFile("m.002"));
  // Small values stay plain too; only a value whose plain form would not
  // fit its field is written with an exponent, and still reads back.
  const nog::Record r = nog::MakeRecord(1e-7, -1e300, 0.1, 1, 1);
  EXPECT_EQ((NogRecord{"0.0000001", "-1e+300", "0.1"}.Bytes()), std::string(r.begin(), r.end()));
  EXPECT_EQ(-1e300, static_cast<double>(ParseFloatDef(nog::RecordText(r, nog::kTopYOffset), 0)));
}

}  // namespace
}  // namespace clipra
