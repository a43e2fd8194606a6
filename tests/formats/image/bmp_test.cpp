#include "formats/image/bmp.h"

#include <array>
#include <cmath>
#include <memory>

#include "support/format_test.h"

namespace clipra {
namespace {

using Rgb = std::array<uint8_t, 3>;

std::vector<Rgb> GreyRamp() {
  std::vector<Rgb> p(256);
  for (int i = 0; i < 256; ++i) p[i].fill(static_cast<uint8_t>(i));
  return p;
}

double Colour(uint32_t x, uint32_t y, uint32_t b) {
  return static_cast<uint8_t>(b == 0 ? 10 + x * 20 + y : b == 1 ? 100 + x + y * 30 : 200 + x + y);
}
double Index(uint32_t x, uint32_t y, uint32_t) {
  return x + 5 * y;
}

// A bitmap file of 24-bit Colour() pixels, or with a palette of 8-bit
// Index() pixels. Rows are padded to 4 bytes and stored bottom-up, or
// top-down for a negative height.
struct BmpFile {
  uint32_t width = 2;
  int32_t height = 2;
  std::vector<Rgb> palette = {};
  bool core = false;
  uint16_t bits = palette.empty() ? 24 : 8;
  uint32_t compression = 0;
  int64_t colours_used = -1;  // -1: the palette's size

  std::string Build() const {
    std::string palette_bytes, pixels;
    for (const Rgb& c : palette)
      palette_bytes +=
          std::string{char(c[2]), char(c[1]), char(c[0])} + std::string(core ? 0 : 1, '\0');
    const uint32_t used = colours_used < 0 ? palette.size() : colours_used, h = height;
    const std::string info =
        core ? Le<uint32_t>({12}) + Le<uint16_t>({uint16_t(width), uint16_t(height), 1, bits})
             : Le<uint32_t>({40, width, h}) + Le<uint16_t>({1, bits}) +
                   Le<uint32_t>({compression, 0, 0, 0, used, 0});
    const uint32_t lines = std::abs(height);
    for (uint32_t i = 0; i < lines; ++i) {
      const uint32_t y = height < 0 ? i : lines - 1 - i;
      std::string row;
      for (uint32_t x = 0; x < width; ++x)
        row += palette.empty() ? std::string{char(Colour(x, y, 2)), char(Colour(x, y, 1)),
                                             char(Colour(x, y, 0))}
                               : std::string(1, char(Index(x, y, 0)));
      pixels += row + std::string(-row.size() % 4, '\0');
    }
    const uint32_t offset = 14 + info.size() + palette_bytes.size(), size = offset + pixels.size();
    return "BM" + Le<uint32_t>({size, 0, offset}) + info + palette_bytes + pixels;
  }
};

class BmpReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` written as `name` in a fresh reader; the open's result.
  bool OpenBytes(const std::string& bytes, const std::string& name = "t.bmp") {
    dir_.WriteFile(name, bytes);
    reader_ = std::make_unique<BmpReader>();
    return reader_->Open(dir_.Path(name));
  }

  TempDir dir_;
  std::unique_ptr<BmpReader> reader_ = std::make_unique<BmpReader>();
};

TEST_F(BmpReaderTest, ReadsRedGreenBlueTopLineFirstGreyRampsAsOneBandAndTheWorldFile) {
  // Bottom-up rows, top-down rows (a negative height) and the core header; a grey
  // ramp reads as one band, one entry that is not grey makes three, and indexes
  // past a palette of six entries read zero.
  std::vector<Rgb> palette = GreyRamp();
  palette[5] = {5, 5, 6};
  const std::vector<Rgb> six(palette.begin(), palette.begin() + 6);
  for (const BmpFile& s :
       {BmpFile{5, 3}, BmpFile{5, -3}, BmpFile{5, 3, {}, true}, BmpFile{5, 3, GreyRamp()},
        BmpFile{5, 3, GreyRamp(), true}, BmpFile{5, 3, palette}, BmpFile{5, 3, six}}) {
    ASSERT_TRUE(OpenBytes(s.Build())) << reader_->ErrorText;
    const bool grey = s.palette == GreyRamp();
    ExpectCells(*reader_, 5, 3, grey ? 1 : 3, [&](uint32_t x, uint32_t y, uint32_t b) {
      const uint32_t i = Index(x, y, b);
      return s.palette.empty() ? Colour(x, y, b) : i < s.palette.size() ? s.palette[i][b] : 0;
    });
  }
  // The georeference comes from the world file.
  const char* worlds[][2] = {
      {nullptr, "1 1, 0 0, RAW RAW RAW"},
      // Lines 5 and 6 are the centre of cell (0, 0); the corner is half a cell off.
      {"2.5\r\n0\r\n0\r\n-2.5\r\n300.25\r\n700\r\n",
       "2.5 2.5, 299 701.25, UNKNOWN UNKNOWN UNKNOWN"},
      // A positive fourth value stays positive.
      {"3\n0\n0\n3\n1\n2\n", "3 3, -0.5 3.5, UNKNOWN UNKNOWN UNKNOWN"},
      // Five numbers: the sixth is 0.
      {"3\n0\n0\n-3\n10 trailing words\n", "3 3, 8.5 1.5, UNKNOWN UNKNOWN UNKNOWN"},
      // This program's own layout keeps the corner.
      {"    2.00000000000000\r\n    0.00000000000000\r\n    0.00000000000000\r\n"
       "   -2.00000000000000\r\n   10.00000000000000\r\n   20.00000000000000\r\n",
       "2 2, 10 20, UNKNOWN UNKNOWN UNKNOWN"},
      // Text for the sixth number reads as 1, and RAW is kept.
      {"3\n0\n0\n-3\n10\nabc\n", "3 3, 10 1, RAW RAW RAW"},
      // A decimal comma is no number.
      {"1,5\n0\n0\n-2\n10\n20\n", "1 2, ?, RAW RAW RAW"},
  };
  for (const auto& [world, placement] : worlds) {
    if (world) dir_.WriteFile("w.bmpw", world);  // the first row has none
    ASSERT_TRUE(OpenBytes(BmpFile{}.Build(), "w.bmp")) << reader_->ErrorText;
    std::string got = Placement(*reader_);
    if (const size_t any = std::string(placement).find('?'); any != std::string::npos)
      got.replace(any, got.find(',', any) - any, "?");
    EXPECT_EQ(placement, got) << world;
  }
}

TEST_F(BmpReaderTest, RowsNotWhollyInsideTheFileReadFalseAndBadHeadersAreRefused) {
  // Ten 24-bit pixels need 30 bytes a row, but the file holds only 50
  // bytes of pixels for four rows: the stride from the file size is 12.
  ASSERT_TRUE(OpenBytes(BmpFile{10, 4}.Build().substr(0, 54 + 50))) << reader_->ErrorText;
  EXPECT_EQ(reader_->Stride, 12u);
  float v = -1;
  EXPECT_TRUE(reader_->GetCell(0, 3, 0, v));   // the first stored row
  EXPECT_FALSE(reader_->GetCell(0, 0, 0, v));  // the last stored row
  EXPECT_EQ(v, 0);

  // A file header and the size field of an info header, then zeros.
  const auto raw = [](uint32_t size, uint32_t offset, uint32_t info, size_t zeros) {
    return "BM" + Le<uint32_t>({size, 0, offset, info}) + std::string(zeros, '\0');
  };
  const std::vector<Rgb> ramp = GreyRamp();
  const std::string room = "Damaged bitmap: palette larger than the room before the pixel data";
  using S = BmpFile;
  const std::pair<std::string, std::string> cases[] = {
      {"II*\0" + std::string(60, '\0'), "Not a BMP file"},
      {"BM\0\0", "Not a BMP file"},
      {S{.palette = ramp, .compression = 1}.Build(), "Unknown bitmap type: RLE8"},
      {S{.palette = ramp, .compression = 2}.Build(), "Unknown bitmap type: RLE4"},
      {S{.compression = 3}.Build(), "Unknown bitmap type: Unknown compression"},
      {S{.bits = 16}.Build(), "Unknown bitmap type: not RGB or 8-bit pixel"},
      {S{.core = true, .bits = 4}.Build(), "Unknown bitmap type: Not RGB or 8-bit pixel"},
      {raw(200, 200, 124, 200), "Unknown bitmap type: "},  // a V5 header
      {S{.height = 0}.Build(), "Damaged bitmap: height 0"},
      {S{.palette = {{1, 2, 3}, {4, 5, 6}}, .colours_used = 3}.Build(), room},
      {S{.palette = {{1, 2, 3}}, .colours_used = 0xFFFFFFFF}.Build(), room},
      {raw(80, 30, 40, 66), "Damaged bitmap: pixel data inside the header"},
      {raw(80, 9000, 40, 66), "Damaged bitmap: pixel data beyond the end of file"},
  };
  for (const auto& [bytes, text] : cases) {
    EXPECT_FALSE(OpenBytes(bytes)) << text;
    EXPECT_EQ(reader_->ErrorText, text);
  }
  EXPECT_FALSE(reader_->Open(dir_.Path("none.bmp")));
  EXPECT_EQ(reader_->ErrorText, "Open read error 2 " + SystemErrorText(2));
  EXPECT_FALSE(reader_->OpenExisting(dir_.Path("none.bmp")));
  EXPECT_EQ(reader_->ErrorText, "File not Exists");
}

// Cells keep their low eight bits. Rows go bottom-up, blue first, padded to 4 bytes (a stride of 4
// for one band of width 1, 16 for three of width 5), with a grey palette for one band. The world
// file gives the corner, which the registration cell moves.
TEST(BmpWriter, WritesLowBitsInPaddedRowsBottomUpAndAWorldFileAndRefusesWiderCells) {
  TempDir dir;
  for (const uint32_t bands : {1u, 3u}) {
    const BmpFile want{.width = bands == 1 ? 1u : 5u,
                       .height = 3,
                       .palette = bands == 1 ? GreyRamp() : std::vector<Rgb>{},
                       .colours_used = 0};
    const CellFn cell = bands == 1 ? Index : Colour;
    const std::string name = "o" + std::to_string(bands);
    {
      BmpWriter out(dir.Path(name + ".bmp"), want.width, 3, CellType::kUnsigned8, bands, 1);
      out.SetGeoreference({2.5, 2.5, 1, 1, 0, 0, "S", "D", "P"});
      for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < want.width; ++x)
          for (uint32_t b = 0; b < bands; ++b)
            EXPECT_TRUE(out.SetCell(x, y, b, cell(x, y, b) + 256.4));  // the low eight bits
      EXPECT_FALSE(out.SetCell(want.width, 0, 0, 1));
      EXPECT_FALSE(out.SetCell(0, 3, 0, 1));
    }
    EXPECT_EQ(want.Build(), dir.ReadFile(name + ".bmp"));
    EXPECT_EQ(dir.ReadFile(name + ".bmpw"),
              "  2.50000000000000\r\n  0.00000000000000\r\n  0.00000000000000\r\n"
              " -2.50000000000000\r\n -2.50000000000000\r\n  2.50000000000000\r\n");
    BmpReader r;
    ASSERT_TRUE(r.Open(dir.Path(name + ".bmp"))) << r.ErrorText;
    ExpectCells(r, want.width, 3, bands, cell);
  }
  EXPECT_EQ("Not supported cell type(must be byte type): UNSIGNED16BITINTEGER",
            ThrownText<DatasetError>(
                [&] { Output out(dir.Path("c.bmp"), 2, 2, CellType::kUnsigned16, 1, 1); }));
}

}  // namespace
}  // namespace clipra
