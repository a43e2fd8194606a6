#include "formats/header/dtm.h"

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

// A file whose header describes none of its cells fails the open; otherwise
// the cell skip and the file's end bound every read. Messages name the file as "*".
TEST(DtmReader, CellSkipHeaderAndFileEndBoundEveryRead) {
  const std::string cut = DtmFile(4, 4, 0, {1, 2, 3, 4, 5}) + "xy";  // a partial sixth cell
  const std::string huge = DtmFile(INT32_MAX, INT32_MAX, 3, {7, 7, 7, 9});
  const std::string none = "DTM grid * holds none of its cells: width ";
  const struct {
    std::string bytes, error;
    uint32_t x = 0, y = 0;
    bool ok = false;
    float value = 0;
  } cases[] = {
      // Cell (0, 0) is at byte 92.
      {DtmFile(3, 2, 10, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11.5f, 0, 0, 0, 15.5f}), "", 1, 1, true,
       15.5f},
      // Cells 0 and 1 would fall into the header.
      {DtmFile(3, 2, -2), "", 1, 0, false, 0},
      {DtmFile(3, 2, -2), "", 2, 1, true, 4},
      {cut, "", 0, 1, true, 5},
      {cut, "", 1, 1, false, 0},
      {cut, "", 3, 0, true, 4},
      {huge, "", 0, 0, true, 9},
      {huge, "", UINT32_MAX / 2 - 1, UINT32_MAX / 2 - 1, false, 0},
      // The signature compares as floats: -0 passes for 0, nothing else does.
      {DtmFile(3, 2, 0).replace(8, 8, Le<float>({-0.0f, -0.0f})), "", 2, 1, true, 6},
      {Le<float>({1}) + DtmFile(3, 2, 0).substr(4), "Header * reading error "},
      {DtmFile(3, 2, 0).substr(0, 51), "Header * reading error "},
      {DtmFile(-3, 2, 0, {1}), none + "-3, lines 2, cell skip 0 in a file of 56 bytes"},
      {DtmFile(3, 0, 0, {1}), none + "3, lines 0, cell skip 0 in a file of 56 bytes"},
      {DtmFile(3, -2, 0, {1}), none + "3, lines -2, cell skip 0 in a file of 56 bytes"},
      {DtmFile(3, 2, 6, {1}), none + "3, lines 2, cell skip 6 in a file of 56 bytes"},
      {DtmFile(3, 2, INT32_MAX, {1}),
       none + "3, lines 2, cell skip 2147483647 in a file of 56 bytes"},
      {DtmFile(3, 2, -6, {1}), none + "3, lines 2, cell skip -6 in a file of 56 bytes"},
      {DtmFile(INT32_MIN, INT32_MIN, 0, {1}),
       none + "-2147483648, lines -2147483648, cell skip 0 in a file of 56 bytes"},
      // The header alone holds no cell at all.
      {DtmFile(3, 2, 0, {}), none + "3, lines 2, cell skip 0 in a file of 52 bytes"},
  };
  TempDir dir;
  const std::string path = dir.Path("grid.dtm");
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    dir.WriteFile("grid.dtm", c.bytes);
    DtmReader r;
    std::string want = c.error;
    if (!want.empty()) want.replace(want.find('*'), 1, ShortenPath(path, 20));
    EXPECT_EQ(want.empty(), r.Open(path));
    EXPECT_EQ(want, r.ErrorText);
    // A reader that did not open reads nothing.
    float v = -1;
    EXPECT_EQ(c.ok, r.GetCell(c.x, c.y, 0, v));
    EXPECT_EQ(c.value, v);
  }
}

TEST(DtmWriter, WritesTheHeaderAtSetGeoreferenceThenFloatCells) {
  TempDir dir;
  {
    DtmWriter w(dir.Path("out.dtm"), 3, 2, CellType::kUnsigned8, 3, 1);
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
}

}  // namespace
}  // namespace clipra
