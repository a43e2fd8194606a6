#include "formats/header/dtm.h"

#include <cerrno>

#include "support/format_test.h"

namespace clipra {
namespace {

// The signature, the header fields in file order, then the cells.
std::string DtmFile(int32_t width, int32_t lines, int32_t skip,
                    const std::vector<float>& cells = {1, 2, 3, 4, 5, 6}) {
  std::string b = Le<float>({-1, -1, 0, 0, -1, -1, 100.25f, 200.5f}) + Le<int32_t>({width, lines}) +
                  Le<float>({2, 2}) + Le<int32_t>({skip});
  for (float v : cells) b += Le<float>({v});
  return b;
}

TEST(DtmReader, ReadsHeaderAndCellsLineByLineFromTheTop) {
  TempDir dir;
  dir.WriteFile("grid.dtm", DtmFile(3, 2, 0));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("grid.dtm"))) << in.GetErrorText();
  RasterReader* r = in.GetReader();
  EXPECT_EQ(CellType::kFloat32, r->GetCellType());
  EXPECT_EQ("2 2, 100.25 200.5,   ", Placement(*r));
  ExpectCells(*r, 3, 2, 1, [](uint32_t x, uint32_t y, uint32_t) { return 1 + x + 3 * y; });
  EXPECT_FALSE(r->SetCell(0, 0, 0, 9.0f));
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
  EXPECT_THROW(DtmWriter(dir.Path("zero.dtm"), 3, 2, CellType::kFloat32, 0, 1), DtmError);
}

}  // namespace
}  // namespace clipra
