#include "formats/header/dtm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/identify.h"
#include "dataset/os_file.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

template <typename T>
void AppendLe(std::string& bytes, T v) {
  char b[sizeof(T)];
  write_le<T>(b, v);
  bytes.append(b, sizeof(T));
}

struct Grid {
  int32_t width = 3;
  int32_t lines = 2;
  float x = 100.25f;
  float y = 200.5f;
  float cell_x = 2.0f;
  float cell_y = 2.0f;
  int32_t skip = 0;
  std::vector<float> cells = {1, 2, 3, 4, 5, 6};
};

Grid Sized(int32_t width, int32_t lines, int32_t skip, std::vector<float> cells) {
  Grid g;
  g.width = width;
  g.lines = lines;
  g.skip = skip;
  g.cells = std::move(cells);
  return g;
}

// The signature, the header fields in file order, then the cells.
std::string DtmFile(const Grid& g) {
  std::string b;
  for (float f : {-1.0f, -1.0f, 0.0f, 0.0f, -1.0f, -1.0f, g.x, g.y}) AppendLe(b, f);
  AppendLe(b, g.width);
  AppendLe(b, g.lines);
  AppendLe(b, g.cell_x);
  AppendLe(b, g.cell_y);
  AppendLe(b, g.skip);
  for (float v : g.cells) AppendLe(b, v);
  return b;
}

float FloatAt(const std::string& bytes, size_t offset) {
  return read_le<float>(bytes.data() + offset);
}

class DtmReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` as a ".dtm" file through the reading facade.
  bool OpenBytes(const std::string& bytes) {
    dir_.WriteFile("grid.dtm", bytes);
    return set_.Open(dir_.Path("grid.dtm"));
  }
  float Cell(uint32_t x, uint32_t y, bool expect_ok = true) {
    float v = -1;
    EXPECT_EQ(expect_ok, set_.GetReader()->GetCell(x, y, 0, v)) << x << "," << y;
    return v;
  }

  TempDir dir_;
  Source set_;
};

TEST_F(DtmReaderTest, ReadsHeaderAndCellsLineByLineFromTheTop) {
  ASSERT_TRUE(OpenBytes(DtmFile(Grid{}))) << set_.GetErrorText();
  RasterReader* r = set_.GetReader();
  ASSERT_NE(nullptr, dynamic_cast<DtmReader*>(r));
  EXPECT_EQ(3u, r->GetWidth());
  EXPECT_EQ(2u, r->GetLines());
  EXPECT_EQ(1u, r->GetBands());
  EXPECT_EQ(kCellFloat32, r->GetCellType());
  EXPECT_DOUBLE_EQ(100.25, r->GetLeftX());
  EXPECT_DOUBLE_EQ(200.5, r->GetTopY());
  EXPECT_DOUBLE_EQ(2.0, r->GetCellSizeX());
  EXPECT_FALSE(r->HasPlainLayout());
  EXPECT_EQ(1.0f, Cell(0, 0));
  EXPECT_EQ(3.0f, Cell(2, 0));
  EXPECT_EQ(4.0f, Cell(0, 1));
  EXPECT_EQ(6.0f, Cell(2, 1));
  EXPECT_EQ(0.0f, Cell(3, 0, false));
  EXPECT_EQ(0.0f, Cell(0, 2, false));
  // Map points go through the same cells: (102.25, 198.5) is cell (1, 1).
  float v = 0;
  ASSERT_TRUE(set_.GetValue(0, v, 102.25, 198.5, 0));
  EXPECT_EQ(5.0f, v);
}

TEST_F(DtmReaderTest, CellSkipAndFileEndBoundEveryRead) {
  struct Probe {
    uint32_t x, y;
    bool ok;
    float value;  // 0 when !ok
  };
  auto expect = [&](int32_t width, int32_t lines, int32_t skip, std::vector<float> cells,
                    const std::string& tail, const std::vector<Probe>& probes) {
    ASSERT_TRUE(OpenBytes(DtmFile(Sized(width, lines, skip, std::move(cells))) + tail))
        << set_.GetErrorText();
    for (const Probe& p : probes) EXPECT_EQ(p.value, Cell(p.x, p.y, p.ok)) << "skip " << skip;
  };
  // Cell (0, 0) is at byte 92.
  expect(3, 2, 10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11.5f, 0, 0, 0, 15.5f, 0}, "",
         {{0, 0, true, 11.5f}, {1, 1, true, 15.5f}});
  // Cells 0 and 1 would fall into the header.
  expect(3, 2, -2, {1, 2, 3, 4, 5, 6}, "",
         {{0, 0, false, 0}, {1, 0, false, 0}, {2, 0, true, 1}, {2, 1, true, 4}});
  // A partial sixth cell.
  expect(4, 4, 0, {1, 2, 3, 4, 5}, "xy", {{0, 1, true, 5}, {1, 1, false, 0}, {3, 3, false, 0}});
  expect(INT32_MAX, INT32_MAX, 3, {7, 7, 7, 9}, "",
         {{0, 0, true, 9}, {1, 0, false, 0}, {UINT32_MAX / 2 - 1, UINT32_MAX / 2 - 1, false, 0}});
}

TEST_F(DtmReaderTest, HeaderDescribingNoCellOfTheFileFailsTheOpen) {
  struct Case {
    int32_t width, lines, skip;
  };
  for (const Case c : {Case{-3, 2, 0}, Case{3, 0, 0}, Case{3, -2, 0}, Case{3, 2, 6},
                       Case{3, 2, INT32_MAX}, Case{3, 2, -6}, Case{INT32_MIN, INT32_MIN, 0}}) {
    EXPECT_FALSE(OpenBytes(DtmFile(Sized(c.width, c.lines, c.skip, Grid{}.cells))))
        << c.width << " " << c.lines << " " << c.skip;
    EXPECT_EQ(0u, set_.GetErrorText().find("DTM grid ")) << set_.GetErrorText();
    EXPECT_NE(std::string::npos,
              set_.GetErrorText().find("holds none of its cells: width " + std::to_string(c.width) +
                                       ", lines " + std::to_string(c.lines) + ", cell skip " +
                                       std::to_string(c.skip) + " in a file of 76 bytes"))
        << set_.GetErrorText();
  }
  // The header alone holds no cell at all.
  EXPECT_FALSE(OpenBytes(DtmFile(Sized(3, 2, 0, {}))));
  EXPECT_NE(std::string::npos, set_.GetErrorText().find("in a file of 52 bytes"));
}

TEST_F(DtmReaderTest, SignatureAllowsNegativeZeroButNothingElse) {
  auto open = [&](const std::string& name, const std::string& bytes, DtmReader& reader) {
    dir_.WriteFile(name, bytes);
    return reader.Open(dir_.Path(name));
  };
  DtmReader short_file, wrong, missing, negative_zero;
  EXPECT_FALSE(open("short.dtm", DtmFile(Grid{}).substr(0, 51), short_file));
  EXPECT_EQ("Header " + ShortenPath(dir_.Path("short.dtm"), 20) + " reading error ",
            short_file.ErrorText);
  EXPECT_EQ(1, short_file.Header->Status);

  std::string bytes = DtmFile(Grid{});
  write_le<float>(bytes.data(), 1.0f);
  EXPECT_FALSE(open("sig.dtm", bytes, wrong));
  EXPECT_EQ("Header " + ShortenPath(dir_.Path("sig.dtm"), 20) + " reading error ", wrong.ErrorText);

  EXPECT_FALSE(missing.Open(dir_.Path("none.dtm")));
  EXPECT_EQ(2, missing.Header->Status);

  bytes = DtmFile(Grid{});
  write_le<float>(bytes.data() + 8, -0.0f);
  write_le<float>(bytes.data() + 12, -0.0f);
  ASSERT_TRUE(open("zero.dtm", bytes, negative_zero)) << negative_zero.ErrorText;
  float v = 0;
  ASSERT_TRUE(negative_zero.GetCell(2, 1, 0, v));
  EXPECT_EQ(6.0f, v);
}

TEST_F(DtmReaderTest, ReaderWritesNoCells) {
  ASSERT_TRUE(OpenBytes(DtmFile(Grid{})));
  EXPECT_FALSE(set_.GetReader()->SetCell(0, 0, 0, 9.0f));
}

TEST(DtmWriter, OutputOf3x2IsTheHeaderThenCellsWithCell21AtOffset72) {
  TempDir dir;
  {
    DtmWriter w(dir.Path("out.dtm"), 3, 2, kCellFloat32, 1, 1);
    w.SetGeoreference({2.0, 2.0, 0, 0, 100.25, 200.5, "", "", ""});
    EXPECT_TRUE(w.SetCell(2, 1, 0, 7.5));
    EXPECT_TRUE(w.SetCell(0, 0, 0, -3.25));
  }
  const std::string bytes = dir.ReadFile("out.dtm");
  EXPECT_EQ(DtmFile(Sized(3, 2, 0, {-3.25f, 0, 0, 0, 0, 7.5f})), bytes);
  ASSERT_EQ(76u, bytes.size());
  EXPECT_EQ(7.5f, FloatAt(bytes, 72));
}

TEST(DtmWriter, HeaderIsWrittenAtSetGeoreference) {
  TempDir dir;
  DtmWriter w(dir.Path("out.dtm"), 3, 2, kCellFloat32, 1, 1);
  EXPECT_EQ(std::string(52, '\0'), std::string(reinterpret_cast<char*>(w.Data), 52));
  w.SetGeoreference({0.5, 0.5, 0, 0, 100.3, 7.0, "", "", ""});
  const float easting = read_le<float>(w.Data + 24);
  EXPECT_EQ(100.3f, easting);  // the nearest float
  EXPECT_NE(100.3, static_cast<double>(easting));
}

TEST(DtmWriter, CellsAreFloatsWhateverTheSourceCellType) {
  TempDir dir;
  {
    DtmWriter w(dir.Path("out.dtm"), 2, 1, kCellUnsigned8, 3, 1);
    EXPECT_EQ(kCellFloat32, w.GetCellType());
    w.SetGeoreference({1, 1, 0, 0, 0, 0, "", "", ""});
    EXPECT_TRUE(w.SetCell(0, 0, 0, 200));
    // Every band lands on the same cell: the last one written stays.
    for (uint32_t b = 0; b < 3; ++b) EXPECT_TRUE(w.SetCell(1, 0, b, 10.0 + b));
    EXPECT_FALSE(w.SetCell(2, 0, 0, 1));
    EXPECT_FALSE(w.SetCell(0, 1, 0, 1));
  }
  const std::string bytes = dir.ReadFile("out.dtm");
  ASSERT_EQ(60u, bytes.size());
  EXPECT_EQ(200.0f, FloatAt(bytes, 52));
  EXPECT_EQ(12.0f, FloatAt(bytes, 56));
}

TEST(DtmWriter, CreationFailureRaisesWithTheSystemText) {
  TempDir dir;
  const std::string path = dir.Path("no-such-folder/out.dtm");
  const std::string expected =
      "Open map write error=" + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT);
  try {
    DtmWriter w(path, 3, 2, kCellFloat32, 1, 1);
    ADD_FAILURE() << "no exception";
  } catch (const DtmError& e) {
    EXPECT_EQ(expected, e.what());
  }
  // The facade passes the same text on.
  try {
    Output set(path, 3, 2, kCellFloat32, 1, 1);
    ADD_FAILURE() << "no exception";
  } catch (const DatasetError& e) {
    EXPECT_EQ(expected, e.what());
  }
  EXPECT_THROW(DtmWriter(dir.Path("zero.dtm"), 3, 2, kCellFloat32, 0, 1), DtmError);
}

TEST(DtmWriter, RoundTripsThroughTheFacades) {
  TempDir dir;
  {
    Output out(dir.Path("rt.dtm"), 4, 3, kCellSigned16, 1, 1);
    ASSERT_NE(nullptr, dynamic_cast<DtmWriter*>(out.GetWriter()));
    out.SetGeoreference({0.5, 0.5, 0, 0, 4000.5, 9000.25, "WGS84", "WGS84", "NUTM33"});
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 4; ++x) EXPECT_TRUE(out.PutValue(x, y, 0, x * 10.0 + y + 0.5));
  }
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("rt.dtm"))) << in.GetErrorText();
  RasterReader* r = in.GetReader();
  EXPECT_EQ(4u, r->GetWidth());
  EXPECT_EQ(3u, r->GetLines());
  EXPECT_DOUBLE_EQ(0.5, r->GetCellSizeY());
  EXPECT_DOUBLE_EQ(4000.5, r->GetLeftX());
  EXPECT_DOUBLE_EQ(9000.25, r->GetTopY());
  EXPECT_EQ("", r->GetGeoreference().Datum);  // the grid has no place for it
  for (uint32_t y = 0; y < 3; ++y) {
    for (uint32_t x = 0; x < 4; ++x) {
      float v = 0;
      ASSERT_TRUE(r->GetCell(x, y, 0, v));
      EXPECT_EQ(static_cast<float>(x * 10.0 + y + 0.5), v) << x << "," << y;
    }
  }
}

double Heights(uint32_t x, uint32_t y, uint32_t) {
  return x * 1.5 + y * 100 + 0.25;
}

TEST(DtmClip, ErsThroughDtmAndBackMatchesADirectClip) {
  TempDir dir;
  ErsSource s;
  s.width = 6;
  s.lines = 5;
  s.cell_type = "Signed32BitSingle";
  s.cell_size_x = s.cell_size_y = "2.0";
  s.eastings = "1000.0";
  s.northings = "2000.0";
  s.data = MakeCells(s, Heights);
  s.Write(dir.Path("src"));
  // Columns 1 to 7 and lines 2 to 7: the last column and three lines lie outside.
  const std::string area = "-A1002:1996:1014:1986";
  CliResult r = RunClipra({area, dir.Path("src.ers"), dir.Path("mid.dtm")});
  ASSERT_EQ(0, r.code) << r.err;
  r = RunClipra({area, dir.Path("mid.dtm"), dir.Path("back.ers")});
  ASSERT_EQ(0, r.code) << r.err;
  r = RunClipra({area, dir.Path("src.ers"), dir.Path("direct.ers")});
  ASSERT_EQ(0, r.code) << r.err;

  const std::string mid = dir.ReadFile("mid.dtm");
  ASSERT_EQ(52u + 4 * 7 * 6, mid.size());
  EXPECT_EQ(1002.0f, FloatAt(mid, 24));
  EXPECT_EQ(1996.0f, FloatAt(mid, 28));

  const std::string back = dir.ReadFile("back");
  ASSERT_EQ(4u * 7 * 6, back.size());
  EXPECT_EQ(dir.ReadFile("direct"), back);
  // Output (0, 0) is source (1, 2); the column past the source is 0.
  EXPECT_EQ(1.5f + 200 + 0.25f, FloatAt(back, 0));
  EXPECT_EQ(0.0f, FloatAt(back, 4 * 6));
  EXPECT_EQ(0.0f, FloatAt(back, 4 * 7 * 5));

  Source in;
  ASSERT_TRUE(in.Open(dir.Path("back.ers"))) << in.GetErrorText();
  EXPECT_DOUBLE_EQ(1002.0, in.GetReader()->GetLeftX());
  EXPECT_DOUBLE_EQ(1996.0, in.GetReader()->GetTopY());
}

}  // namespace
}  // namespace clipra
