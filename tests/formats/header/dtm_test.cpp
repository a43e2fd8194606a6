#include "formats/header/dtm.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

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

template <typename T>
void AppendLe(std::string& bytes, T v) {
  char b[sizeof(T)];
  write_le<T>(b, v);
  bytes.append(b, sizeof(T));
}

// The signature, the header fields in file order, then the cells.
std::string DtmFile(int32_t width, int32_t lines, int32_t skip,
                    const std::vector<float>& cells = {1, 2, 3, 4, 5, 6}) {
  std::string b;
  for (float f : {-1.0f, -1.0f, 0.0f, 0.0f, -1.0f, -1.0f, 100.25f, 200.5f}) AppendLe(b, f);
  AppendLe(b, width);
  AppendLe(b, lines);
  AppendLe(b, 2.0f);
  AppendLe(b, 2.0f);
  AppendLe(b, skip);
  for (float v : cells) AppendLe(b, v);
  return b;
}

float FloatAt(const std::string& bytes, size_t offset) {
  return read_le<float>(bytes.data() + offset);
}

TEST(DtmReader, ReadsHeaderAndCellsLineByLineFromTheTop) {
  TempDir dir;
  dir.WriteFile("grid.dtm", DtmFile(3, 2, 0));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("grid.dtm"))) << in.GetErrorText();
  RasterReader* r = in.GetReader();
  EXPECT_EQ(3u, r->GetWidth());
  EXPECT_EQ(2u, r->GetLines());
  EXPECT_EQ(CellType::kFloat32, r->GetCellType());
  EXPECT_DOUBLE_EQ(100.25, r->GetLeftX());
  EXPECT_DOUBLE_EQ(200.5, r->GetTopY());
  EXPECT_DOUBLE_EQ(2.0, r->GetCellSizeX());
  float v = 0;
  ASSERT_TRUE(r->GetCell(0, 1, 0, v));
  EXPECT_EQ(4.0f, v);
  EXPECT_FALSE(r->SetCell(0, 0, 0, 9.0f));
  // Map points go through the same cells: (102.25, 198.5) is cell (1, 1).
  ASSERT_TRUE(in.GetValue(0, v, 102.25, 198.5, 0));
  EXPECT_EQ(5.0f, v);
}

TEST(DtmReader, CellSkipAndFileEndBoundEveryRead) {
  const struct {
    int32_t width, lines, skip;
    std::vector<float> cells;
    std::string tail;
    uint32_t x, y;
    bool ok;
    float value;
  } cases[] = {
      // Cell (0, 0) is at byte 92.
      {3, 2, 10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11.5f, 0, 0, 0, 15.5f}, "", 1, 1, true, 15.5f},
      // Cells 0 and 1 would fall into the header.
      {3, 2, -2, {1, 2, 3, 4, 5, 6}, "", 1, 0, false, 0},
      {3, 2, -2, {1, 2, 3, 4, 5, 6}, "", 2, 1, true, 4},
      // A partial sixth cell.
      {4, 4, 0, {1, 2, 3, 4, 5}, "xy", 0, 1, true, 5},
      {4, 4, 0, {1, 2, 3, 4, 5}, "xy", 1, 1, false, 0},
      {4, 4, 0, {1, 2, 3, 4, 5}, "xy", 3, 0, true, 4},
      {INT32_MAX, INT32_MAX, 3, {7, 7, 7, 9}, "", 0, 0, true, 9},
      {INT32_MAX, INT32_MAX, 3, {7, 7, 7, 9}, "", UINT32_MAX / 2 - 1, UINT32_MAX / 2 - 1, false, 0},
      {3, 2, 0, {1, 2, 3, 4, 5, 6}, "", 3, 0, false, 0},
      {3, 2, 0, {1, 2, 3, 4, 5, 6}, "", 0, 2, false, 0},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE("skip " + std::to_string(c.skip) + " at " + std::to_string(c.x) + "," +
                 std::to_string(c.y));
    dir.WriteFile("grid.dtm", DtmFile(c.width, c.lines, c.skip, c.cells) + c.tail);
    Source in;
    ASSERT_TRUE(in.Open(dir.Path("grid.dtm"))) << in.GetErrorText();
    float v = -1;
    EXPECT_EQ(c.ok, in.GetReader()->GetCell(c.x, c.y, 0, v));
    EXPECT_EQ(c.value, v);
  }
}

TEST(DtmReader, HeaderDescribingNoCellOfTheFileFailsTheOpen) {
  const struct {
    int32_t width, lines, skip;
    std::vector<float> cells;
  } cases[] = {{-3, 2, 0, {1}},
               {3, 0, 0, {1}},
               {3, -2, 0, {1}},
               {3, 2, 6, {1}},
               {3, 2, INT32_MAX, {1}},
               {3, 2, -6, {1}},
               {INT32_MIN, INT32_MIN, 0, {1}},
               {3, 2, 0, {}}};  // the header alone holds no cell at all
  TempDir dir;
  for (const auto& c : cases) {
    dir.WriteFile("grid.dtm", DtmFile(c.width, c.lines, c.skip, c.cells));
    Source in;
    EXPECT_FALSE(in.Open(dir.Path("grid.dtm")));
    EXPECT_EQ("DTM grid " + ShortenPath(dir.Path("grid.dtm"), 20) +
                  " holds none of its cells: width " + std::to_string(c.width) + ", lines " +
                  std::to_string(c.lines) + ", cell skip " + std::to_string(c.skip) +
                  " in a file of " + std::to_string(52 + 4 * c.cells.size()) + " bytes",
              in.GetErrorText());
  }
}

TEST(DtmReader, SignatureAllowsNegativeZeroButNothingElse) {
  TempDir dir;
  std::string wrong = DtmFile(3, 2, 0);
  write_le<float>(wrong.data(), 1.0f);
  std::string zero = DtmFile(3, 2, 0);
  write_le<float>(zero.data() + 8, -0.0f);
  write_le<float>(zero.data() + 12, -0.0f);
  const std::pair<const char*, std::string> cases[] = {
      {"short.dtm", DtmFile(3, 2, 0).substr(0, 51)}, {"sig.dtm", wrong}, {"zero.dtm", zero}};
  for (const auto& [name, bytes] : cases) {
    dir.WriteFile(name, bytes);
    DtmReader r;
    const bool ok = std::string(name) == "zero.dtm";
    EXPECT_EQ(ok, r.Open(dir.Path(name))) << name;
    if (!ok) {
      EXPECT_EQ("Header " + ShortenPath(dir.Path(name), 20) + " reading error ", r.ErrorText);
    }
  }
}

TEST(DtmWriter, WritesTheHeaderAtSetGeoreferenceThenFloatCells) {
  TempDir dir;
  {
    DtmWriter w(dir.Path("out.dtm"), 3, 2, CellType::kUnsigned8, 3, 1);
    EXPECT_EQ(std::string(52, '\0'), std::string(reinterpret_cast<char*>(w.Data()), 52));
    w.SetGeoreference({0.5, 0.5, 0, 0, 100.3, 7.0, "", "", ""});
    EXPECT_EQ(100.3f, read_le<float>(w.Data() + 24));  // the nearest float
    w.SetGeoreference({2.0, 2.0, 0, 0, 100.25, 200.5, "", "", ""});
    EXPECT_EQ(CellType::kFloat32, w.GetCellType());
    EXPECT_TRUE(w.SetCell(0, 0, 0, -3.25));
    // Every band lands on the same cell: the last one written stays.
    for (uint32_t b = 0; b < 3; ++b) EXPECT_TRUE(w.SetCell(2, 1, b, 5.5 + b));
    EXPECT_FALSE(w.SetCell(3, 0, 0, 1));
    EXPECT_FALSE(w.SetCell(0, 2, 0, 1));
  }
  EXPECT_EQ(DtmFile(3, 2, 0, {-3.25f, 0, 0, 0, 0, 7.5f}), dir.ReadFile("out.dtm"));
  const std::string expected =
      "Open map write error=" + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT);
  const std::string path = dir.Path("no-such-folder/out.dtm");
  EXPECT_EQ(expected,
            ThrownText<DtmError>([&] { DtmWriter w(path, 3, 2, CellType::kFloat32, 1, 1); }));
  EXPECT_EQ(expected,
            ThrownText<DatasetError>([&] { Output o(path, 3, 2, CellType::kFloat32, 1, 1); }));
  EXPECT_THROW(DtmWriter(dir.Path("zero.dtm"), 3, 2, CellType::kFloat32, 0, 1), DtmError);
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
  for (const auto& [from, to] :
       {std::pair{"src.ers", "mid.dtm"}, {"mid.dtm", "back.ers"}, {"src.ers", "direct.ers"}}) {
    const CliResult r = RunClipra({area, dir.Path(from), dir.Path(to)});
    ASSERT_EQ(0, r.code) << r.err;
  }
  const std::string mid = dir.ReadFile("mid.dtm");
  ASSERT_EQ(52u + 4 * 7 * 6, mid.size());
  EXPECT_EQ(1002.0f, FloatAt(mid, 24));
  EXPECT_EQ(1996.0f, FloatAt(mid, 28));
  const std::string back = dir.ReadFile("back");
  EXPECT_EQ(dir.ReadFile("direct"), back);
  // Output (0, 0) is source (1, 2); the column past the source is 0.
  EXPECT_EQ(1.5f + 200 + 0.25f, FloatAt(back, 0));
  EXPECT_EQ(0.0f, FloatAt(back, 4 * 6));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("mid.dtm"))) << in.GetErrorText();
  EXPECT_DOUBLE_EQ(1002.0, in.GetReader()->GetLeftX());
  EXPECT_DOUBLE_EQ(1996.0, in.GetReader()->GetTopY());
  EXPECT_EQ("", in.GetReader()->GetGeoreference().Datum);  // the grid has no place for it
}

}  // namespace
}  // namespace clipra
