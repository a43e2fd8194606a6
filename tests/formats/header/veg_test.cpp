#include "formats/header/veg.h"

#include <cerrno>
#include <map>

#include "support/format_test.h"

namespace clipra {
namespace {

constexpr size_t kTileBytes = 375000;
constexpr float kNoData = -9999.0f;

// The ".dat" text: bottom Y, left X, cell size, highest tile row and column.
std::string Dat(const std::string& row_max, const std::string& col_max,
                const std::string& bottom = "0", const std::string& left = "0",
                const std::string& cell = "1") {
  return bottom + "\r\n" + left + "\r\n" + cell + "\r\n" + row_max + "\r\n" + col_max + "\r\n";
}

// A ".veg" tile file: the index, then the present tiles in index order.
class VegTiles {
 public:
  VegTiles(int row_max, int col_max) : row_max_(row_max), col_max_(col_max) {}

  // A present tile, all zero bytes until written.
  std::string& Tile(int tile_row, int tile_col) {
    std::string& t = tiles_[{tile_row, tile_col}];
    if (t.empty()) t.assign(kTileBytes, '\0');
    return t;
  }
  static void SetCell(std::string& tile, int row_in_tile, int col_in_tile, int16_t code,
                      float value) {
    tile.replace(row_in_tile * 1500 + col_in_tile * 6, 6, Le<int16_t>({code}) + Le<float>({value}));
  }
  std::string Bytes() const {
    const size_t head = 4 + 8 * static_cast<size_t>((row_max_ + 1) * (col_max_ + 1));
    std::string index(4, '\0'), data;
    for (int r = 0; r <= row_max_; ++r)
      for (int c = 0; c <= col_max_; ++c) {
        const auto it = tiles_.find({r, c});
        // An absent tile's offset is 0; the second word is not interpreted.
        const size_t offset = it == tiles_.end() ? 0 : head + data.size();
        index += Le<uint32_t>({static_cast<uint32_t>(offset), 0xDEADBEEF});
        if (it != tiles_.end()) data += it->second;
      }
    return index + data;
  }

 private:
  int row_max_, col_max_;
  std::map<std::pair<int, int>, std::string> tiles_;
};

// Both files are written in capitals and looked up in any letter case.
class VegTest : public ::testing::Test {
 protected:
  bool OpenFiles(const std::string& dat, const std::string& veg) {
    dir_.WriteFile("map.DAT", dat);
    dir_.WriteFile("map.VEG", veg);
    return set_.Open(dir_.Path("map.VEG"));
  }
  float Cell(uint32_t x, uint32_t y, bool expect_ok = true) {
    float v = 0;
    EXPECT_EQ(expect_ok, set_.GetReader()->GetCell(x, y, 0, v)) << x << "," << y;
    return v;
  }

  TempDir dir_;
  Source set_;
};

// Tile rows run from the top, rows inside a tile from the bottom. A stored
// -9999 whatever its code, and an absent tile, reach the caller as values;
// cells outside the grid read false. The header takes decimal commas.
TEST_F(VegTest, HeaderAndCellsFromTheirTileBottomRowFirst) {
  VegTiles tiles(1, 2);  // tiles (1, 1), (0, 2) and (1, 2) are absent
  tiles.Tile(0, 0);
  std::string& t = tiles.Tile(1, 0);
  VegTiles::SetCell(t, 249, 0, 3, 42.0f);  // cell (0, 0)
  VegTiles::SetCell(t, 0, 0, 3, 43.0f);    // cell (0, 249)
  VegTiles::SetCell(t, 249, 1, 123, kNoData);
  VegTiles::SetCell(t, 249, 2, 123, 5.0f);                   // the code is not the value
  write_le<float>(tiles.Tile(0, 1).data() + 358508, 77.5f);  // 239 x 1,500 + 6 + 2
  ASSERT_TRUE(OpenFiles(Dat("1", "2", "1000", "500,25", "0,5"), tiles.Bytes()))
      << set_.GetErrorText();
  RasterReader* r = set_.GetReader();
  EXPECT_EQ(500u, r->GetLines());
  EXPECT_EQ(750u, r->GetWidth());
  EXPECT_EQ(CellType::kFloat32, r->GetCellType());
  EXPECT_EQ("0.5 0.5, 500.25 1249.5,   ", Placement(*r));  // the top is 499 cells up
  EXPECT_EQ(
      std::vector<float>({42, 43, 0, 77.5f, 0, kNoData, 5, kNoData, kNoData, kNoData, kNoData}),
      std::vector<float>({Cell(0, 0), Cell(0, 249), Cell(0, 250), Cell(251, 260), Cell(251, 259),
                          Cell(1, 0), Cell(2, 0), Cell(499, 249), Cell(750, 0, false),
                          Cell(0, 500, false), Cell(UINT32_MAX, UINT32_MAX, false)}));
  float v = 0;
  ASSERT_TRUE(set_.GetValue(0, v, 700.0, 1200.0, 0));
  EXPECT_EQ(kNoData, v);
}

TEST_F(VegTest, TilesOrIndexEntriesPastTheEndReadFalse) {
  VegTiles tiles(0, 2);
  VegTiles::SetCell(tiles.Tile(0, 0), 0, 249, 1, 7.5f);  // cell (249, 249)
  tiles.Tile(0, 1);
  std::string veg = tiles.Bytes();
  // Tile column 1 cut short by one byte; tile column 2 far beyond the end.
  veg.pop_back();
  write_le<uint32_t>(veg.data() + 4 + 16, 0xFFFFFF00u);
  ASSERT_TRUE(OpenFiles(Dat("0", "2"), veg)) << set_.GetErrorText();
  EXPECT_EQ(std::vector<float>({7.5f, kNoData, kNoData}),
            std::vector<float>({Cell(249, 249), Cell(250, 0, false), Cell(600, 100, false)}));
  // Four entries announced; the file holds the first two (both absent) and
  // three bytes of the third.
  ASSERT_TRUE(OpenFiles(Dat("1", "1"), std::string(4 + 8 * 2 + 3, '\0')));
  EXPECT_EQ(kNoData, Cell(499, 250));     // entry 1
  EXPECT_EQ(kNoData, Cell(0, 0, false));  // tile row 1: entries 2 and 3 are missing
}

TEST_F(VegTest, BadHeadersOrIndexFailTheOpen) {
  EXPECT_FALSE(OpenFiles(Dat("0", "0"), std::string(11, '\0')));  // no whole index entry
  EXPECT_EQ("VEG tile file " + ShortenPath(dir_.Path("map.VEG"), 20) +
                " is too short to hold its tile index: 11 bytes",
            set_.GetErrorText());
  const std::string veg = VegTiles(0, 0).Bytes();
  for (const std::string& dat : {Dat("x", "0"), Dat("0", "1.5"), Dat("", "0"),
                                 std::string("0\r\n0\r\n1\r\n0\r\n"), std::string()}) {
    EXPECT_FALSE(OpenFiles(dat, veg)) << dat;
    EXPECT_EQ("Error loading header", set_.GetErrorText()) << dat;
  }
  EXPECT_FALSE(OpenFiles(Dat("-1", "0"), veg));
  EXPECT_EQ("VEG header " + ShortenPath(dir_.Path("map.DAT"), 20) +
                " gives tile indices out of range: highest tile row -1, highest tile column 0",
            set_.GetErrorText());
  // 8,589,934 tile columns make more cells per line than a 32-bit count holds.
  EXPECT_FALSE(OpenFiles(Dat("0", "8589934"), veg));
  EXPECT_NE(std::string::npos, set_.GetErrorText().find("highest tile column 8589934"));
  ASSERT_TRUE(OpenFiles(Dat("8589933", "0"), veg)) << set_.GetErrorText();
  EXPECT_EQ(2147483500u, set_.GetReader()->GetLines());
  // The rest of the index is not in the file.
  EXPECT_EQ(1u, dynamic_cast<VegReader&>(*set_.GetReader()).TileTable.size());
  EXPECT_EQ(kNoData, Cell(0, 0, false));
  EXPECT_EQ(kNoData, Cell(0, 2147483499));
  dir_.WriteFile("alone.dat", Dat("0", "0"));
  VegReader reader;
  EXPECT_FALSE(reader.Open(dir_.Path("alone.dat")));
  EXPECT_EQ("Open Map Read Error=" + std::to_string(ENOENT) + " " + SystemErrorText(ENOENT),
            reader.ErrorText);
}

}  // namespace
}  // namespace clipra
