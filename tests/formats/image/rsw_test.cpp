#include "formats/image/rsw.h"

#include "dataset/control_points.h"
#include "support/format_test.h"

namespace clipra {
namespace {

using namespace rsw;  // the header layout

double Pattern(uint32_t x, uint32_t y, uint32_t c) {
  return (x * 7 + y * 13 + c * 101) % 251;
}

// Colour pixels are stored blue, green, red.
double Colour(uint32_t x, uint32_t y, uint32_t b) {
  return Pattern(x, y, 2 - b);
}

using Patch = std::vector<std::pair<uint32_t, uint32_t>>;  // offsets and 32-bit values

constexpr uint32_t kTable = kHeaderSize + kPaletteSize;  // where the tile table goes

// An RSW file of Pattern() pixels: header, palette, tile table, then the tiles in table order,
// each a full tile height of rows. `patch` then overwrites the finished bytes.
struct RswFile {
  uint32_t bits = 24, width = 10, lines = 6, tile_width = 4, tile_height = 4;
  double cell_size = 1, bottom_y = 0, left_x = 0;
  std::string palette = std::string(kPaletteSize, '\0');
  Patch patch = {};

  std::string Build() const {
    const uint32_t across = (width + tile_width - 1) / tile_width;
    const uint32_t count = across * ((lines + tile_height - 1) / tile_height);
    const uint32_t last_width = width - (across - 1) * tile_width;
    std::string header(kHeaderSize, '\0');
    header.replace(0, 3, "RSW");
    const uint32_t at[] = {kBitsPerPixel,    kLines,          kWidth,         kTilesAcross,
                           kTileWidth,       kTileHeight,     kLastTileWidth, kPaletteOffset,
                           kTileTableOffset, kTileTableLength};
    const uint32_t value[] = {bits,        lines,      width,       across, tile_width,
                              tile_height, last_width, kHeaderSize, kTable, count * kTileEntrySize};
    for (size_t i = 0; i < std::size(at); ++i) write_le<uint32_t>(&header[at[i]], value[i]);
    write_le<double>(&header[kCellSize], cell_size);
    write_le<double>(&header[kBottomY], bottom_y);
    write_le<double>(&header[kLeftX], left_x);
    std::string table(count * kTileEntrySize, '\0'), tiles;
    for (uint32_t t = 0; t < count; ++t) {
      const uint32_t col = t % across, stride = col == across - 1 ? last_width : tile_width;
      const size_t start = tiles.size();
      for (uint32_t row = 0; row < tile_height; ++row)
        for (uint32_t x = 0; x < stride; ++x)
          for (uint32_t c = 0; c < bits / 8; ++c)
            tiles +=
                static_cast<char>(Pattern(col * tile_width + x, t / across * tile_height + row, c));
      write_le<uint32_t>(&table[t * 8], kTable + table.size() + start);
      write_le<uint32_t>(&table[t * 8 + 4], tiles.size() - start);
    }
    std::string file = header + palette + table + tiles;
    for (const auto& [at, v] : patch) write_le<uint32_t>(&file[at], v);
    return file;
  }
};

class RswTest : public ::testing::Test {
 protected:
  bool OpenFile(const RswFile& file, const std::string& name = "map.rsw") {
    dir_.WriteFile(name, file.Build());
    return reader_.Open(dir_.Path(name));
  }
  float Cell(uint32_t x, uint32_t y, uint32_t band, bool ok = true) {
    float v = -1;
    EXPECT_EQ(ok, reader_.GetCell(x, y, band, v)) << x << "," << y << " band " << band;
    return v;
  }

  TempDir dir_;
  RswReader reader_;
};

// 10 x 6 in 4 x 4 tiles is 3 across, the last 2 wide, and 2 down; 100 in
// tiles of 64 leaves a last column of 36. Palette entries hold red, green,
// blue and an unused byte.
TEST_F(RswTest, EveryCellComesFromItsTilePaletteIndexesPickTheirEntryAndTheFacadeClips) {
  for (const auto& [width, lines, tile_width] : {std::tuple{10u, 6u, 4u}, {100u, 3u, 64u}}) {
    ASSERT_TRUE(OpenFile({.width = width, .lines = lines, .tile_width = tile_width}))
        << reader_.ErrorText;
    ExpectCells(reader_, width, lines, 3, Colour);
  }
  RswFile file{.bits = 8};
  for (uint32_t i = 0; i < kPaletteSize; ++i)
    file.palette[i] = static_cast<char>(i / 4 + 40 * (i % 4));
  // Control points come from the GCP file beside it, found in any case.
  dir_.WriteFile("MAP.GCP", "p1 Yes 1 2 100 200 0\r\np2 No 3 4 300 400 0\r\n");
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  ExpectCells(reader_, 10, 6, 3, [](uint32_t x, uint32_t y, uint32_t b) {
    return static_cast<uint8_t>(Pattern(x, y, 0) + 40 * b);
  });
  ASSERT_NE(nullptr, reader_.GetControlPoints());
  EXPECT_EQ(2, reader_.GetControlPoints()->Count());
  // The facade clips 20 x 12 cells of 10 in tiles of 8 x 5; the bottom edge
  // at 4880 puts the top edge at 5000, the left one at 1000.
  dir_.WriteFile("src.rsw", RswFile{24, 20, 12, 8, 5, 10, 4880, 1000}.Build());
  Source source;
  ASSERT_TRUE(source.Open(dir_.Path("src.rsw"))) << source.GetErrorText();
  // The georeference is the top-left corner, in no coordinate system.
  EXPECT_EQ("10 10, 1000 5000, RAW RAW RAW", Placement(*source.GetReader()));
  ExpectClip({"-A1050:4950:1150:4900", dir_.Path("src.rsw"), dir_.Path("out.ers")}, 11, 6, 3,
             [](uint32_t x, uint32_t y, uint32_t b) { return Colour(x + 5, y + 5, b); });
}

TEST_F(RswTest, RefusesDamagedHeadersAndReadsFalseOutsideTheFileOrTable) {
  EXPECT_FALSE(reader_.Open(dir_.Path("none.rsw")));
  EXPECT_EQ("Open read error 2 No such file or directory", reader_.ErrorText);
  dir_.WriteFile("short.rsw", RswFile{}.Build().substr(0, 200));
  EXPECT_FALSE(reader_.Open(dir_.Path("short.rsw")));
  EXPECT_EQ("RSW header is incomplete: the file has 200 bytes, the header needs 248",
            reader_.ErrorText);
  const struct {
    Patch patch;
    std::string message;  // empty: the file opens
    uint32_t bits = 24;
  } cases[] = {
      {{{kTileTableOffset, 0xFFFFFFF8u}, {kTileTableLength, 48}},
       "RSW tile table (offset 4294967288, 48 bytes) lies outside the file of 1560 bytes"},
      {{{kTileTableOffset, kTable}, {kTileTableLength, 0xFFFFFFF0u}},
       "RSW tile table (offset 1272, 4294967280 bytes) lies outside the file of 1560 bytes"},
      {{{kTileHeight, 0}}, "RSW tile layout is empty: tile width 4, tile height 0, tiles across 3"},
      {{{kBitsPerPixel, 16}}, "RSW pixels of 16 bits are not supported"},
      // An indexed file needs its palette inside the file; a colour file ignores it.
      {{{kPaletteOffset, 400}},
       "RSW palette (offset 400, 1024 bytes) lies outside the file of 1400 bytes",
       8},
      {{{kPaletteOffset, 0xFFFFFFF0u}}, ""},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(k.message.empty(), OpenFile({.bits = k.bits, .patch = k.patch}, "damaged.rsw"))
        << k.message;
    if (k.message.empty())
      EXPECT_EQ(Colour(3, 2, 1), Cell(3, 2, 1));
    else
      EXPECT_EQ(k.message, reader_.ErrorText);
  }

  RswFile file;
  file.patch = {{kTable, 1560},                           // tile 0 starts at the end
                {kTable + 8 + 4, 0xFFFF0000u},            // tile 1 runs past the end
                {kTable + 16 + 4, 3},                     // tile 2 holds one pixel
                {kTileTableLength, 3 * kTileEntrySize}};  // only the first tile row
  ASSERT_TRUE(OpenFile(file, "damaged-tiles.rsw")) << reader_.ErrorText;
  EXPECT_EQ(0, Cell(0, 0, 0, false));
  EXPECT_EQ("Position outside of file", reader_.ErrorText);
  Cell(4, 0, 0, false);
  EXPECT_EQ("The rest of file is smaller than needed num of bytes", reader_.ErrorText);
  EXPECT_EQ(Colour(8, 0, 0), Cell(8, 0, 0));
  Cell(9, 0, 0, false);                // beyond the tile's one pixel
  EXPECT_EQ(0, Cell(0, 4, 0, false));  // beyond the table
  // Inconsistent tile geometry never leaves the tile: the third tile column
  // is not in the layout, and the second holds rows of one pixel.
  file.patch = {{kTilesAcross, 2}, {kLastTileWidth, 1}};
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  Cell(8, 0, 0, false);
  Cell(5, 0, 0, false);
  Cell(4, 0, 0);
  Cell(3, 3, 0);
}

}  // namespace
}  // namespace clipra
