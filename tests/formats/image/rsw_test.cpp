#include "formats/image/rsw.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dataset/byte_order.h"
#include "dataset/control_points.h"
#include "dataset/source.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// One byte of pixel (x, y), channel c, as stored in the file.
using PixelFn = std::function<uint8_t(uint32_t x, uint32_t y, uint32_t c)>;

uint8_t Pattern(uint32_t x, uint32_t y, uint32_t c) {
  return static_cast<uint8_t>((x * 7 + y * 13 + c * 101) % 251);
}

// Builds an RSW file: header, palette, tile table, then the tiles in table
// order, each a full tile height of rows. Offsets may be overridden to damage it.
struct RswFile {
  uint32_t bits = 24;
  uint32_t width = 10;
  uint32_t lines = 6;
  uint32_t tile_width = 4;
  uint32_t tile_height = 4;
  double cell_size = 1;
  double bottom_y = 0;
  double left_x = 0;
  PixelFn pixel = Pattern;
  std::string palette = std::string(rsw::kPaletteSize, '\0');
  // Applied to the finished bytes, to damage the file.
  std::function<void(std::string&)> damage;

  uint32_t TilesAcross() const { return (width + tile_width - 1) / tile_width; }
  uint32_t TilesDown() const { return (lines + tile_height - 1) / tile_height; }
  uint32_t LastTileWidth() const { return width - (TilesAcross() - 1) * tile_width; }
  uint32_t TableOffset() const { return rsw::kHeaderSize + rsw::kPaletteSize; }

  std::string Build() const {
    const uint32_t pixel_bytes = bits / 8;
    const uint32_t across = TilesAcross();
    const uint32_t count = across * TilesDown();
    std::string header(rsw::kHeaderSize, '\0');
    std::copy_n("RSW", 3, header.begin());
    auto put = [&header](uint32_t offset, uint32_t v) { write_le<uint32_t>(&header[offset], v); };
    put(rsw::kBitsPerPixel, bits);
    put(rsw::kLines, lines);
    put(rsw::kWidth, width);
    put(rsw::kTilesAcross, across);
    put(rsw::kTileWidth, tile_width);
    put(rsw::kTileHeight, tile_height);
    put(rsw::kLastTileWidth, LastTileWidth());
    put(rsw::kPaletteOffset, rsw::kHeaderSize);
    put(rsw::kTileTableOffset, TableOffset());
    put(rsw::kTileTableLength, count * rsw::kTileEntrySize);
    write_le<double>(&header[rsw::kCellSize], cell_size);
    write_le<double>(&header[rsw::kBottomY], bottom_y);
    write_le<double>(&header[rsw::kLeftX], left_x);

    std::string table(count * rsw::kTileEntrySize, '\0');
    std::string tiles;
    uint32_t offset = TableOffset() + count * rsw::kTileEntrySize;
    for (uint32_t t = 0; t < count; ++t) {
      const uint32_t tile_col = t % across;
      const uint32_t stride = tile_col == across - 1 ? LastTileWidth() : tile_width;
      std::string tile;
      for (uint32_t row = 0; row < tile_height; ++row)
        for (uint32_t col = 0; col < stride; ++col)
          for (uint32_t c = 0; c < pixel_bytes; ++c)
            tile += static_cast<char>(
                pixel(tile_col * tile_width + col, (t / across) * tile_height + row, c));
      write_le<uint32_t>(&table[t * 8], offset);
      write_le<uint32_t>(&table[t * 8 + 4], static_cast<uint32_t>(tile.size()));
      offset += static_cast<uint32_t>(tile.size());
      tiles += tile;
    }
    std::string file = header + palette + table + tiles;
    if (damage) damage(file);
    return file;
  }
};

void PutU32(std::string& file, uint32_t offset, uint32_t v) {
  write_le<uint32_t>(&file[offset], v);
}

class RswTest : public ::testing::Test {
 protected:
  // Writes the file and opens it the way the job does.
  bool OpenFile(const RswFile& file, const std::string& name = "map.rsw") {
    dir_.WriteFile(name, file.Build());
    return reader_.Open(dir_.Path(name));
  }
  float Cell(uint32_t x, uint32_t y, uint32_t band) {
    float v = -1;
    EXPECT_TRUE(reader_.GetCell(x, y, band, v)) << x << "," << y << " band " << band;
    return v;
  }

  TempDir dir_;
  RswReader reader_;
};

TEST_F(RswTest, EveryColourCellComesFromItsTileStoredBlueGreenRed) {
  RswFile file;  // 10 x 6 in 4 x 4 tiles: 3 across, the last 2 wide; 2 down
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  EXPECT_EQ(10u, reader_.GetWidth());
  EXPECT_EQ(6u, reader_.GetLines());
  EXPECT_EQ(3u, reader_.GetBands());
  EXPECT_EQ(CellType::kUnsigned8, reader_.GetCellType());
  EXPECT_FALSE(reader_.HasPlainLayout());
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 10; ++x)
      for (uint32_t b = 0; b < 3; ++b) ASSERT_EQ(Pattern(x, y, 2 - b), Cell(x, y, b));
  EXPECT_EQ(Pattern(1, 2, 0), Cell(1, 2, 5));  // bands beyond the last read the last
}

TEST_F(RswTest, PaletteIndexesPickRedGreenBlueOfTheEntry) {
  RswFile file;
  file.bits = 8;
  file.pixel = [](uint32_t x, uint32_t y, uint32_t) -> uint8_t { return x == 5 && y == 0 ? 7 : 1; };
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 4; ++c) file.palette[i * 4 + c] = static_cast<char>(i + 40 * c);
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  EXPECT_EQ(7, Cell(5, 0, 0));
  EXPECT_EQ(47, Cell(5, 0, 1));
  EXPECT_EQ(87, Cell(5, 0, 2));
  EXPECT_EQ(41, Cell(4, 0, 1));
}

TEST_F(RswTest, LastTileColumnHasRowsOfTheLastTileWidth) {
  RswFile file;
  file.width = 100;
  file.lines = 3;
  file.tile_width = 64;
  ASSERT_EQ(2u, file.TilesAcross());
  ASSERT_EQ(36u, file.LastTileWidth());
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x : {0u, 63u, 64u, 70u, 99u}) ASSERT_EQ(Pattern(x, y, 0), Cell(x, y, 2));
}

TEST_F(RswTest, CellsOutsideTheRasterReadFalseAndZero) {
  ASSERT_TRUE(OpenFile(RswFile{})) << reader_.ErrorText;
  float v = 9;
  EXPECT_FALSE(reader_.GetCell(10, 0, 0, v));
  EXPECT_EQ(0, v);
  v = 9;
  EXPECT_FALSE(reader_.GetCell(0, 6, 0, v));
  EXPECT_EQ(0, v);
  EXPECT_FALSE(reader_.SeekLine(0, 0));
}

TEST_F(RswTest, LoadsControlPointsFromTheGcpFile) {
  dir_.WriteFile("MAP.GCP", "p1 Yes 1 2 100 200 0\r\np2 No 3 4 300 400 0\r\n");
  ASSERT_TRUE(OpenFile(RswFile{})) << reader_.ErrorText;
  ASSERT_NE(nullptr, reader_.GetControlPoints());
  EXPECT_EQ(2, reader_.GetControlPoints()->Count());
}

TEST_F(RswTest, MissingFileGivesTheSystemError) {
  EXPECT_FALSE(reader_.Open(dir_.Path("none.rsw")));
  EXPECT_EQ(1u, reader_.LastError);
  EXPECT_EQ("Open read error 2 No such file or directory", reader_.ErrorText);
}

TEST_F(RswTest, RefusesDamagedHeadersNamingTheDefect) {
  const std::string size = std::to_string(RswFile{}.Build().size());
  struct Case {
    std::function<void(std::string&)> damage;
    std::string message;
    uint32_t last_error;  // 0: not checked
  };
  const Case cases[] = {
      {[](std::string& f) { f.resize(200); },
       "RSW header is incomplete: the file has 200 bytes, the header needs 248", 0},
      {[](std::string& f) {
         PutU32(f, rsw::kTileTableOffset, 0xFFFFFFF8u);
         PutU32(f, rsw::kTileTableLength, 48);
       },
       "RSW tile table (offset 4294967288, 48 bytes) lies outside the file of " + size + " bytes",
       2},
      {[](std::string& f) {
         PutU32(f, rsw::kTileTableOffset, 1272);
         PutU32(f, rsw::kTileTableLength, 0xFFFFFFF0u);
       },
       "RSW tile table (offset 1272, 4294967280 bytes) lies outside the file of " + size + " bytes",
       2},
      {[](std::string& f) { PutU32(f, rsw::kTileHeight, 0); },
       "RSW tile layout is empty: tile width 4, tile height 0, tiles across 3", 0},
      {[](std::string& f) { PutU32(f, rsw::kBitsPerPixel, 16); },
       "RSW pixels of 16 bits are not supported", 0},
  };
  for (const Case& c : cases) {
    RswFile file;
    file.damage = c.damage;
    EXPECT_FALSE(OpenFile(file, "damaged.rsw"));
    EXPECT_EQ(c.message, reader_.ErrorText);
    if (c.last_error != 0) {
      EXPECT_EQ(c.last_error, reader_.LastError);
    }
  }
  // An indexed file needs its palette inside the file.
  RswFile indexed;
  indexed.bits = 8;
  indexed.damage = [](std::string& f) {
    PutU32(f, rsw::kPaletteOffset, static_cast<uint32_t>(f.size() - 1000));
  };
  EXPECT_FALSE(OpenFile(indexed, "palette-past-end.rsw"));
  EXPECT_NE(std::string::npos, reader_.ErrorText.find("RSW palette (offset ")) << reader_.ErrorText;
  EXPECT_NE(std::string::npos, reader_.ErrorText.find("lies outside the file"));
}

TEST_F(RswTest, ColourFileIgnoresItsUnusedPaletteOffset) {
  RswFile file;
  file.damage = [](std::string& f) { PutU32(f, rsw::kPaletteOffset, 0xFFFFFFF0u); };
  ASSERT_TRUE(OpenFile(file, "colour-palette-past-end.rsw")) << reader_.ErrorText;
  EXPECT_EQ(Pattern(3, 2, 1), Cell(3, 2, 1));
}

TEST_F(RswTest, TilesOutsideTheFileOrTableReadFalse) {
  RswFile file;
  file.damage = [&file](std::string& f) {
    const uint32_t table = file.TableOffset();
    PutU32(f, table + 0 * 8, static_cast<uint32_t>(f.size()));  // tile 0 starts at the end
    PutU32(f, table + 1 * 8 + 4, 0xFFFF0000u);                  // tile 1 runs past the end
    PutU32(f, table + 2 * 8 + 4, 3);                            // tile 2 holds one pixel
    // The table lists only the first tile row.
    PutU32(f, rsw::kTileTableLength, 3 * rsw::kTileEntrySize);
  };
  ASSERT_TRUE(OpenFile(file, "damaged-tiles.rsw")) << reader_.ErrorText;
  float v = 9;
  EXPECT_FALSE(reader_.GetCell(0, 0, 0, v));
  EXPECT_EQ(0, v);
  EXPECT_EQ("Position outside of file", reader_.ErrorText);
  EXPECT_FALSE(reader_.GetCell(4, 0, 0, v));
  EXPECT_EQ("The rest of file is smaller than needed num of bytes", reader_.ErrorText);
  EXPECT_EQ(Pattern(8, 0, 2), Cell(8, 0, 0));
  EXPECT_FALSE(reader_.GetCell(9, 0, 0, v));  // beyond the tile's one pixel
  EXPECT_FALSE(reader_.GetCell(0, 4, 0, v));  // beyond the table
  EXPECT_EQ(0, v);
}

TEST_F(RswTest, InconsistentTileGeometryNeverLeavesTheTile) {
  RswFile file;
  file.damage = [](std::string& f) {
    PutU32(f, rsw::kTilesAcross, 2);    // the third tile column is not in the layout
    PutU32(f, rsw::kLastTileWidth, 1);  // and the second holds rows of one pixel
  };
  ASSERT_TRUE(OpenFile(file)) << reader_.ErrorText;
  float v = 9;
  EXPECT_FALSE(reader_.GetCell(8, 0, 0, v));
  EXPECT_FALSE(reader_.GetCell(5, 0, 0, v));
  EXPECT_TRUE(reader_.GetCell(4, 0, 0, v));
  EXPECT_TRUE(reader_.GetCell(3, 3, 0, v));
}

TEST_F(RswTest, FacadeIdentifiesGeoreferencesAndClipsRsw) {
  RswFile file;
  file.width = 20;
  file.lines = 12;
  file.tile_width = 8;
  file.tile_height = 5;
  file.cell_size = 10;
  file.left_x = 1000;
  file.bottom_y = 4880;  // top edge at 5000
  dir_.WriteFile("src.rsw", file.Build());
  Source source;
  ASSERT_TRUE(source.Open(dir_.Path("src.rsw"))) << source.GetErrorText();
  // The georeference is the top-left corner, in no coordinate system.
  float v = 0;
  ASSERT_TRUE(source.GetValue(0, v, 1000 + 10 * 17, 5000 - 10 * 9, 0));
  EXPECT_EQ(Pattern(17, 9, 2), v);
  RasterReader& in = *source.GetReader();
  EXPECT_EQ(1000, in.GetGeoreference().RegX);
  EXPECT_EQ(5000, in.GetGeoreference().RegY);
  EXPECT_EQ(10, in.GetCellSizeY());
  EXPECT_EQ("RAW RAW RAW", in.GetGeoreference().Projection + " " + in.GetGeoreference().Datum +
                               " " + in.GetGeoreference().Spheroid);

  const CliResult r =
      RunClipra({"-A1050:4950:1150:4900", dir_.Path("src.rsw"), dir_.Path("out.ers")});
  ASSERT_EQ(0, r.code) << r.err;
  Source out;
  ASSERT_TRUE(out.Open(dir_.Path("out.ers"))) << out.GetErrorText();
  RasterReader& o = *out.GetReader();
  ASSERT_EQ(11u, o.GetWidth());
  ASSERT_EQ(6u, o.GetLines());
  ASSERT_EQ(3u, o.GetBands());
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 11; ++x)
      for (uint32_t b = 0; b < 3; ++b) {
        ASSERT_TRUE(o.GetCell(x, y, b, v));
        ASSERT_EQ(Pattern(x + 5, y + 5, 2 - b), v) << x << "," << y << " band " << b;
      }
}

}  // namespace
}  // namespace clipra
