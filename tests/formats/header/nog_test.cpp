#include "formats/header/nog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "dataset/byte_order.h"
#include "dataset/dataset.h"
#include "dataset/dataset2.h"
#include "dataset/identify.h"
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
  NogRecord h;
  h.cell_size = "2,5";
  h.top_y = "6100000.5";
  h.left_x = "500000";
  h.lines = "3";
  h.width = "4";
  dir.WriteFile("map.001", h.Bytes());
  dir.WriteFile("map.002", std::string("\xFE\xFF", 2) +
                               Signed16Cells({1, 2, 3, 10, 11, 12, 13, 20, 21, 22, -32768}));
  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir.Path("map.001"), 0, 0, 1, 1, 0)) << in.GetErrorText();
  TDataSetRoot2& r = *in.GetReader();
  EXPECT_EQ(4u, r.GetWidth());
  EXPECT_EQ(3u, r.GetLines());
  EXPECT_EQ(1u, r.GetBands());
  EXPECT_EQ(kCellSigned16, r.GetCellType());
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

TEST(NogReader, EmptyCellSizeTextStoresZero) {
  TempDir dir;
  NogRecord h;
  h.cell_size = "";
  dir.WriteFile("z.001", h.Bytes());
  dir.WriteFile("z.002", Signed16Cells({5}));
  TNogMap2 r;
  ASSERT_TRUE(r.Open(dir.Path("z.001"), 0, 0, 1, 1, 0)) << r.ErrorText;
  EXPECT_EQ(0, r.Header->CellSizeX);
  EXPECT_EQ(0, r.Header->CellSizeY);
}

TEST(NogReader, BadHeadersFailTheOpenWithAMessage) {
  TempDir dir;
  dir.WriteFile("map.002", Signed16Cells({1, 2, 3, 4}));
  auto open = [&](const NogRecord& h) {
    dir.WriteFile("map.001", h.Bytes());
    TNogMap2 r;
    EXPECT_FALSE(r.Open(dir.Path("map.001"), 0, 0, 1, 1, 0));
    return r.ErrorText;
  };
  NogRecord h;
  h.size = 1699;
  EXPECT_EQ("Header " + ShortenPath(dir.Path("map.001"), 20) + " reading error ", open(h));
  h = NogRecord();
  h.width = "12a";
  EXPECT_EQ("Header map.001: the width '12a' is not an integer", open(h));
  h = NogRecord();
  h.lines = "";
  EXPECT_EQ("Header map.001: the line count '' is not an integer", open(h));
  h = NogRecord();
  h.lines = "-3";
  EXPECT_EQ("Header map.001 describes no cells: 1 cells per line, -3 lines", open(h));
  h = NogRecord();
  h.width = "0";
  EXPECT_EQ("Header map.001 describes no cells: 0 cells per line, 1 lines", open(h));

  // The facade reports the same, never an exception.
  h = NogRecord();
  h.width = "12a";
  dir.WriteFile("map.001", h.Bytes());
  TDataSet2 in;
  EXPECT_FALSE(in.Open(dir.Path("map.001"), 0, 0, 1, 1, 0));
  EXPECT_EQ("Header map.001: the width '12a' is not an integer", in.GetErrorText());
}

TEST(NogReader, ReadsStayInsideTheDataFile) {
  TempDir dir;
  NogRecord h;
  h.width = "4";
  h.lines = "1000000000";
  dir.WriteFile("s.001", h.Bytes());
  // Two and a half lines.
  dir.WriteFile("s.002", Signed16Cells({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  TNogMap2 r;
  ASSERT_TRUE(r.Open(dir.Path("s.001"), 0, 0, 1, 1, 0)) << r.ErrorText;
  EXPECT_EQ(1000000000u, r.GetLines());  // as described
  float v = 0;
  ASSERT_TRUE(r.GetCell(3, 1, 0, v));
  EXPECT_EQ(8, v);
  EXPECT_FALSE(r.GetCell(0, 2, 0, v));
  EXPECT_FALSE(r.GetCell(4, 0, 0, v));
  EXPECT_FALSE(r.GetCell(0, 999999999, 0, v));

  // A longer data file keeps the described grid.
  h.lines = "1";
  dir.WriteFile("s.001", h.Bytes());
  TNogMap2 longer;
  ASSERT_TRUE(longer.Open(dir.Path("s.001"), 0, 0, 1, 1, 0)) << longer.ErrorText;
  ASSERT_TRUE(longer.GetCell(3, 0, 0, v));
  EXPECT_EQ(4, v);
  EXPECT_FALSE(longer.GetCell(0, 1, 0, v));

  auto failure = [&](const std::string& width, const std::string& data) {
    NogRecord k;
    k.width = width;
    dir.WriteFile("f.001", k.Bytes());
    dir.WriteFile("f.002", data);
    TNogMap2 f;
    EXPECT_FALSE(f.Open(dir.Path("f.001"), 0, 0, 1, 1, 0));
    return f.ErrorText;
  };
  EXPECT_EQ("Data file f.002 holds 8 bytes, less than one line of 2000000000 signed 16-bit cells",
            failure("2000000000", Signed16Cells({1, 2, 3, 4})));
  EXPECT_EQ("Data file f.002 holds 0 bytes, less than one line of 1 signed 16-bit cells",
            failure("1", ""));
  EXPECT_EQ("Data file f.002 holds 1 bytes, less than one line of 1 signed 16-bit cells",
            failure("1", "x"));
  std::remove(dir.Path("f.002").c_str());
  NogRecord k;
  dir.WriteFile("f.001", k.Bytes());
  TNogMap2 missing;
  EXPECT_FALSE(missing.Open(dir.Path("f.001"), 0, 0, 1, 1, 0));
  EXPECT_EQ("Open Map Read Error=2 No such file or directory", missing.ErrorText);
}

TEST(NogReader, FindsTheDataFileWhateverItsCase) {
  TempDir dir;
  dir.WriteFile("Map.001", NogRecord().Bytes());
  dir.WriteFile("MAP.002", Signed16Cells({77}));
  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir.Path("Map.001"), 0, 0, 1, 1, 0)) << in.GetErrorText();
  float v = 0;
  ASSERT_TRUE(in.GetReader()->GetCell(0, 0, 0, v));
  EXPECT_EQ(77, v);
}

TEST(NogWriter, RoundTripKeepsCellsOrientationAndGeoreference) {
  TempDir dir;
  dir.WriteFile("out.001", std::string(3000, 'x'));  // replaced, not kept
  {
    TDataSet out(dir.Path("out.001"), 4, 3, kCellSigned16, 1, 1);
    out.SetGeoreference("BESSEL", "S42", 2.5, 2.5, 0, 0, 500000.125, 6100000.75, "GK");
    std::string s;
    out.GetWriter()->GetSpheroid(s);
    EXPECT_EQ("KA", s);
    out.GetWriter()->GetDatum(s);
    EXPECT_EQ("CS42", s);
    out.GetWriter()->GetProjection(s);
    EXPECT_EQ("Gauss_North", s);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) out.PutValue(x, y, 0, 100.0 * y + x + 0.5);
  }
  EXPECT_EQ(24u, dir.ReadFile("out.002").size());
  const std::string record = dir.ReadFile("out.001");
  ASSERT_EQ(nog::kRecordSize, record.size());
  NogRecord expected;
  expected.cell_size = "2.5";
  expected.top_y = "6100000.75";
  expected.left_x = "500000.125";
  expected.lines = "3";
  expected.width = "4";
  EXPECT_EQ(expected.Bytes(), record);

  uint32_t w = 0, h = 0, n = 0;
  const std::vector<float> c = ReadAllCells(dir.Path("out.001"), &w, &h, &n);
  EXPECT_EQ(4u, w);
  EXPECT_EQ(3u, h);
  EXPECT_EQ(1u, n);
  // Top line first; halves round to even.
  EXPECT_EQ((std::vector<float>{0, 2, 2, 4, 100, 102, 102, 104, 200, 202, 202, 204}), c);
  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir.Path("out.001"), 0, 0, 1, 1, 0));
  EXPECT_EQ(500000.125, in.GetReader()->GetLeftX());
  EXPECT_EQ(6100000.75, in.GetReader()->GetTopY());
  EXPECT_EQ(2.5, in.GetCellSizeX());
}

TEST(NogWriter, RegistrationCellBecomesTheTopLeftCorner) {
  TempDir dir;
  {
    TDataSet out(dir.Path("r.001"), 2, 2, kCellSigned16, 1, 1);
    out.SetGeoreference("", "", 5, 5, 1, 2, 505, 995, "");
    EXPECT_EQ(500, out.GetWriter()->GetLeftX());
    EXPECT_EQ(1005, out.GetWriter()->GetTopY());
  }
  TDataSet2 in;
  ASSERT_TRUE(in.Open(dir.Path("r.001"), 0, 0, 1, 1, 0)) << in.GetErrorText();
  EXPECT_EQ(500, in.GetReader()->GetLeftX());
  EXPECT_EQ(1005, in.GetReader()->GetTopY());
}

TEST(NogWriter, NumbersAreWrittenInPlainDecimals) {
  TempDir dir;
  {
    TDataSet out(dir.Path("g.001"), 2, 2, kCellSigned16, 1, 1);
    out.SetGeoreference("", "", 100000, 100000, 0, 0, 4000000, 6000000, "");
  }
  NogRecord expected;
  expected.cell_size = "100000";
  expected.top_y = "6000000";
  expected.left_x = "4000000";
  expected.lines = "2";
  expected.width = "2";
  EXPECT_EQ(expected.Bytes(), dir.ReadFile("g.001"));

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
    TDataSet out(dir.Path("m.001"), 4, 3, kCellUnsigned8, 3, 1);
    TDataSetRoot& w = *out.GetWriter();
    EXPECT_EQ(kCellSigned16, w.GetCellType());
    EXPECT_EQ(1u, w.GetBands());
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
  try {
    TDataSet out(dir.Path("zero.001"), 1, 1, kCellSigned16, 0, 1);
    FAIL() << "no error";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("MMapFile 0 Bands", e.what());
  }
  try {
    TDataSet out(dir.Path("nofolder/x.001"), 1, 1, kCellSigned16, 1, 1);
    FAIL() << "no error";
  } catch (const EDataSetError& e) {
    EXPECT_STREQ("Open map write error=2 No such file or directory", e.what());
  }
}

double Heights(uint32_t x, uint32_t y, uint32_t) {
  return static_cast<double>(x * 37) - static_cast<double>(y * 101) + 5;
}

TEST(NogCli, ClipThroughNogMatchesDirectErsClip) {
  const char* rects[] = {"-A1015:4985:1075:4935", "-A985:5012:1030:4960"};
  for (const char* rect : rects) {
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
    CliResult r = RunClipra({rect, dir.Path("src.ers"), dir.Path("clip.001")});
    ASSERT_EQ(0, r.code) << r.err;
    r = RunClipra({rect, dir.Path("clip.001"), dir.Path("back.ers")});
    ASSERT_EQ(0, r.code) << r.err;
    r = RunClipra({rect, dir.Path("src.ers"), dir.Path("direct.ers")});
    ASSERT_EQ(0, r.code) << r.err;
    uint32_t w1 = 0, h1 = 0, w2 = 0, h2 = 0;
    const std::vector<float> back = ReadAllCells(dir.Path("back.ers"), &w1, &h1);
    const std::vector<float> direct = ReadAllCells(dir.Path("direct.ers"), &w2, &h2);
    ASSERT_FALSE(direct.empty());
    EXPECT_EQ(w2, w1);
    EXPECT_EQ(h2, h1);
    EXPECT_EQ(direct, back);
  }
}

TEST(NogGdal, GdalReadsTheDataFileTopLineFirst) {
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  {
    TDataSet out(dir.Path("g.001"), 3, 2, kCellSigned16, 1, 1);
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
