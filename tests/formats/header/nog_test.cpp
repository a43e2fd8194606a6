#include "formats/header/nog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// A header record with the five texts at their offsets.
struct NogRecord {
  std::string cell_size = "1";
  std::string top_y = "0";
  std::string left_x = "0";
  std::string lines = "1";
  std::string width = "1";
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

// The default record with one text changed.
NogRecord With(std::string NogRecord::*field, const std::string& text) {
  NogRecord r;
  r.*field = text;
  return r;
}

std::string Signed16Cells(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) {
    char b[2];
    write_le<int16_t>(b, static_cast<int16_t>(v));
    s.append(b, 2);
  }
  return s;
}

TEST(NogReader, ReadsHeaderTextsAndCellsTopLineFirst) {
  TempDir dir;
  NogRecord h{"2,5", "6100000.5", "500000", "3", "4"};
  dir.WriteFile("map.001", h.Bytes());
  dir.WriteFile("map.002", std::string("\xFE\xFF", 2) +
                               Signed16Cells({1, 2, 3, 10, 11, 12, 13, 20, 21, 22, -32768}));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("map.001"))) << in.GetErrorText();
  RasterReader& r = *in.GetReader();
  EXPECT_EQ(4u, r.GetWidth());
  EXPECT_EQ(3u, r.GetLines());
  EXPECT_EQ(CellType::kSigned16, r.GetCellType());
  EXPECT_EQ(2.5, r.GetCellSizeX());
  EXPECT_EQ(2.5, r.GetCellSizeY());
  EXPECT_EQ(500000, r.GetLeftX());
  EXPECT_EQ(6100000.5, r.GetTopY());
  float v = 0;
  ASSERT_TRUE(r.GetCell(0, 0, 0, v));
  EXPECT_EQ(-2, v);
  ASSERT_TRUE(r.GetCell(3, 2, 0, v));
  EXPECT_EQ(-32768, v);
  // Map point of column 1, line 2: the first stored line is the top one.
  ASSERT_TRUE(in.GetValue(0, v, 500000 + 2.5, 6100000.5 - 2 * 2.5, 0));
  EXPECT_EQ(21, v);
}

TEST(NogReader, BadHeadersFailTheOpenWithAMessage) {
  TempDir dir;
  dir.WriteFile("map.002", Signed16Cells({1, 2, 3, 4}));
  NogRecord short_record;
  short_record.size = 1699;
  const std::pair<NogRecord, std::string> cases[] = {
      {short_record, "Header " + ShortenPath(dir.Path("map.001"), 20) + " reading error "},
      {With(&NogRecord::width, "12a"), "Header map.001: the width '12a' is not an integer"},
      {With(&NogRecord::lines, ""), "Header map.001: the line count '' is not an integer"},
      {With(&NogRecord::lines, "-3"),
       "Header map.001 describes no cells: 1 cells per line, -3 lines"},
      {With(&NogRecord::width, "0"),
       "Header map.001 describes no cells: 0 cells per line, 1 lines"},
  };
  for (const auto& [record, message] : cases) {
    dir.WriteFile("map.001", record.Bytes());
    Source in;
    EXPECT_FALSE(in.Open(dir.Path("map.001")));
    EXPECT_EQ(message, in.GetErrorText());
  }
}

TEST(NogReader, ReadsStayInsideTheDataFile) {
  TempDir dir;
  NogRecord h;
  h.width = "4";
  h.lines = "1000000000";
  dir.WriteFile("s.001", h.Bytes());
  // Two and a half lines.
  dir.WriteFile("s.002", Signed16Cells({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  NogReader r;
  ASSERT_TRUE(r.Open(dir.Path("s.001"))) << r.ErrorText;
  EXPECT_EQ(1000000000u, r.GetLines());  // as described
  float v = 0;
  ASSERT_TRUE(r.GetCell(3, 1, 0, v));
  EXPECT_EQ(8, v);
  EXPECT_FALSE(r.GetCell(0, 2, 0, v));
  EXPECT_FALSE(r.GetCell(4, 0, 0, v));

  // A longer data file keeps the described grid.
  h.lines = "1";
  dir.WriteFile("s.001", h.Bytes());
  NogReader longer;
  ASSERT_TRUE(longer.Open(dir.Path("s.001"))) << longer.ErrorText;
  ASSERT_TRUE(longer.GetCell(3, 0, 0, v));
  EXPECT_EQ(4, v);
  EXPECT_FALSE(longer.GetCell(0, 1, 0, v));

  auto failure = [&](const std::string& width, const std::string* data) {
    dir.WriteFile("f.001", With(&NogRecord::width, width).Bytes());
    if (data)
      dir.WriteFile("f.002", *data);
    else
      std::remove(dir.Path("f.002").c_str());
    NogReader f;
    EXPECT_FALSE(f.Open(dir.Path("f.001")));
    return f.ErrorText;
  };
  const std::string four = Signed16Cells({1, 2, 3, 4}), odd = "x";
  EXPECT_EQ("Data file f.002 holds 8 bytes, less than one line of 2000000000 signed 16-bit cells",
            failure("2000000000", &four));
  EXPECT_EQ("Data file f.002 holds 1 bytes, less than one line of 1 signed 16-bit cells",
            failure("1", &odd));
  EXPECT_EQ("Open Map Read Error=2 No such file or directory", failure("1", nullptr));
}

TEST(NogReader, FindsTheDataFileWhateverItsCaseAndReadsAnEmptyCellSizeAsZero) {
  TempDir dir;
  dir.WriteFile("Map.001", With(&NogRecord::cell_size, "").Bytes());
  dir.WriteFile("MAP.002", Signed16Cells({77}));
  NogReader r;
  ASSERT_TRUE(r.Open(dir.Path("Map.001"))) << r.ErrorText;
  float v = 0;
  ASSERT_TRUE(r.GetCell(0, 0, 0, v));
  EXPECT_EQ(77, v);
  EXPECT_EQ(0, r.Header->Georef.CellSizeY);
}

TEST(NogWriter, RoundTripKeepsCellsOrientationAndGeoreference) {
  TempDir dir;
  dir.WriteFile("out.001", std::string(3000, 'x'));  // replaced, not kept
  {
    Output out(dir.Path("out.001"), 4, 3, CellType::kSigned16, 1, 1);
    out.SetGeoreference({2.5, 2.5, 0, 0, 500000.125, 6100000.75, "BESSEL", "S42", "GK"});
    const Georeference g = out.GetWriter()->GetGeoreference();
    EXPECT_EQ("KA CS42 Gauss_North", g.Spheroid + " " + g.Datum + " " + g.Projection);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) out.PutValue(x, y, 0, 100.0 * y + x + 0.5);
  }
  EXPECT_EQ(24u, dir.ReadFile("out.002").size());
  EXPECT_EQ((NogRecord{"2.5", "6100000.75", "500000.125", "3", "4"}.Bytes()),
            dir.ReadFile("out.001"));

  // Top line first; halves round to even.
  EXPECT_EQ((std::vector<float>{0, 2, 2, 4, 100, 102, 102, 104, 200, 202, 202, 204}),
            ReadAllCells(dir.Path("out.001")));
}

TEST(NogWriter, WritesTheTopLeftCornerInPlainDecimals) {
  TempDir dir;
  {
    Output out(dir.Path("g.001"), 2, 2, CellType::kSigned16, 1, 1);
    // The registration cell (1, 2) moves the corner.
    out.SetGeoreference({100000, 100000, 1, 2, 4100000, 5800000, "", "", ""});
  }
  EXPECT_EQ((NogRecord{"100000", "6000000", "4000000", "2", "2"}.Bytes()), dir.ReadFile("g.001"));

  // Small values stay plain too; only a value whose plain form would not
  // fit its field is written with an exponent, and still reads back.
  const nog::Record r = nog::MakeRecord(1e-7, -1e300, 0.1, 1, 1);
  EXPECT_EQ("0.0000001", nog::RecordText(r, nog::kCellSizeOffset));
  EXPECT_EQ("0.1", nog::RecordText(r, nog::kLeftXOffset));
  EXPECT_EQ("-1e+300", nog::RecordText(r, nog::kTopYOffset));
  EXPECT_EQ(-1e300, static_cast<double>(ParseFloatDef(nog::RecordText(r, nog::kTopYOffset), 0)));
}

TEST(NogWriter, StoresOneBandOfSigned16WhateverItIsAsked) {
  TempDir dir;
  {
    Output out(dir.Path("m.001"), 4, 3, CellType::kUnsigned8, 3, 1);
    EXPECT_EQ(CellType::kSigned16, out.GetWriter()->GetCellType());
    EXPECT_EQ(1u, out.GetWriter()->GetBands());
    out.PutValue(0, 0, 0, 1);
    out.PutValue(0, 0, 1, 2);
    out.PutValue(0, 0, 2, -2.5);  // the last band written stays
    out.PutValue(3, 2, 0, 40000);
    EXPECT_FALSE(out.PutValue(4, 0, 0, 1));
    EXPECT_FALSE(out.PutValue(0, 3, 0, 1));
  }
  const std::string data = dir.ReadFile("m.002");
  ASSERT_EQ(24u, data.size());
  EXPECT_EQ(-2, read_le<int16_t>(data.data()));
  // Beyond the 16-bit range the low bits stay, as for every integer cell.
  EXPECT_EQ(static_cast<int16_t>(40000), read_le<int16_t>(data.data() + 22));
}

TEST(NogWriter, FailuresArriveAsDataSetErrors) {
  TempDir dir;
  EXPECT_EQ("Open map write error=2 No such file or directory", ThrownText<DatasetError>([&] {
              Output out(dir.Path("nofolder/x.001"), 1, 1, CellType::kSigned16, 1, 1);
            }));
}

double Heights(uint32_t x, uint32_t y, uint32_t) {
  return static_cast<double>(x * 37) - static_cast<double>(y * 101) + 5;
}

TEST(NogCli, ClipThroughNogMatchesDirectErsClip) {
  for (const char* rect : {"-A1015:4985:1075:4935", "-A985:5012:1030:4960"}) {
    SCOPED_TRACE(rect);
    TempDir dir;
    ErsSource s;
    s.width = 9;
    s.lines = 7;
    s.cell_type = "Signed16BitInteger";
    s.cell_size_x = s.cell_size_y = "10";
    s.eastings = "1000";
    s.northings = "5000";
    s.data = MakeCells(s, Heights);
    s.Write(dir.Path("src"));
    for (const auto& [from, to] :
         {std::pair{"src.ers", "clip.001"}, {"clip.001", "back.ers"}, {"src.ers", "direct.ers"}}) {
      const CliResult r = RunClipra({rect, dir.Path(from), dir.Path(to)});
      ASSERT_EQ(0, r.code) << r.err;
    }
    uint32_t w1 = 0, w2 = 0;
    const std::vector<float> direct = ReadAllCells(dir.Path("direct.ers"), &w2);
    ASSERT_FALSE(direct.empty());
    EXPECT_EQ(direct, ReadAllCells(dir.Path("back.ers"), &w1));
    EXPECT_EQ(w2, w1);
  }
}

TEST(NogGdal, GdalReadsTheDataFileTopLineFirst) {
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  {
    Output out(dir.Path("g.001"), 3, 2, CellType::kSigned16, 1, 1);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, 0, Heights(x, y, 0));
  }
  // GDAL has no NOG driver; an ENVI header describes the data file.
  dir.WriteFile("g.hdr",
                "ENVI\nsamples = 3\nlines = 2\nbands = 1\nheader offset = 0\n"
                "data type = 2\ninterleave = bsq\nbyte order = 0\n");
  ASSERT_EQ(0, RunCommand("gdal_translate -q -of XYZ " + ShellQuote(dir.Path("g.002")) + " " +
                          ShellQuote(dir.Path("g.xyz"))));
  std::istringstream in(dir.ReadFile("g.xyz"));
  double gx = 0, gy = 0, v = 0;
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) {
      ASSERT_TRUE(in >> gx >> gy >> v);
      EXPECT_EQ(Heights(x, y, 0), v) << x << "," << y;
    }
}

}  // namespace
}  // namespace clipra
