#include "formats/image/bmp.h"

#include <array>
#include <cmath>
#include <memory>

#include "support/format_test.h"

namespace clipra {
namespace {

using namespace std::string_literals;

using Rgb = std::array<uint8_t, 3>;

std::string Le32(uint32_t v) {
  return Le<uint32_t>({v});
}
std::string Le16(uint16_t v) {
  return Le<uint16_t>({v});
}

// A bitmap file. `lines` holds each image line's pixel bytes, top line
// first; rows are padded to 4 bytes and stored bottom-up, or top-down for
// a negative height.
struct BmpSpec {
  uint32_t width = 0, compression = 0;
  int32_t height = 0;
  uint16_t bits = 24;
  bool core = false;
  std::vector<Rgb> palette;
  int64_t colours_used = -1;  // -1: the palette's size
  std::vector<std::string> lines;

  std::string Build() const {
    std::string palette_bytes;
    for (const Rgb& c : palette)
      palette_bytes += std::string{char(c[2]), char(c[1]), char(c[0])} + (core ? "" : "\0"s);
    std::string info;
    if (core) {
      info = Le32(12) + Le16(static_cast<uint16_t>(width)) + Le16(static_cast<uint16_t>(height)) +
             Le16(1) + Le16(bits);
    } else {
      const uint32_t used =
          colours_used < 0 ? static_cast<uint32_t>(palette.size()) : uint32_t(colours_used);
      info = Le32(40) + Le32(width) + Le32(static_cast<uint32_t>(height)) + Le16(1) + Le16(bits) +
             Le32(compression) + Le32(0) + Le32(2835) + Le32(2835) + Le32(used) + Le32(0);
    }
    std::string pixels;
    const size_t n = lines.size();
    for (size_t i = 0; i < n; ++i) {
      std::string row = lines[height < 0 ? i : n - 1 - i];
      row.resize((row.size() + 3) / 4 * 4, '\0');
      pixels += row;
    }
    const uint32_t offset = static_cast<uint32_t>(14 + info.size() + palette_bytes.size());
    return "BM" + Le32(offset + static_cast<uint32_t>(pixels.size())) + Le32(0) + Le32(offset) +
           info + palette_bytes + pixels;
  }
};

std::vector<Rgb> GreyRamp() {
  std::vector<Rgb> p(256);
  for (int i = 0; i < 256; ++i) p[i].fill(static_cast<uint8_t>(i));
  return p;
}

Rgb Colour(uint32_t x, uint32_t y) {
  return {static_cast<uint8_t>(10 + x * 20 + y), static_cast<uint8_t>(100 + x + y * 30),
          static_cast<uint8_t>(200 + x + y)};
}

double ColourCell(uint32_t x, uint32_t y, uint32_t b) {
  return Colour(x, y)[b];
}

// A 24-bit image of Colour(x, y), or with a palette an 8-bit image whose
// pixel (x, y) is index x + 4y.
BmpSpec Image(uint32_t w, uint32_t h, std::vector<Rgb> palette = {}) {
  BmpSpec s;
  s.width = w;
  s.height = static_cast<int32_t>(h);
  s.bits = palette.empty() ? 24 : 8;
  s.palette = std::move(palette);
  for (uint32_t y = 0; y < h; ++y) {
    std::string line;
    for (uint32_t x = 0; x < w; ++x) {
      const Rgb c = Colour(x, y);
      line += s.bits == 8 ? std::string(1, char(x + 4 * y))
                          : std::string{char(c[2]), char(c[1]), char(c[0])};
    }
    s.lines.push_back(line);
  }
  return s;
}

class BmpReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` written as `name` in a fresh reader; the open's result.
  bool OpenBytes(const std::string& bytes, const std::string& name = "t.bmp") {
    dir_.WriteFile(name, bytes);
    reader_ = std::make_unique<BmpReader>();
    return reader_->Open(dir_.Path(name));
  }
  float Cell(uint32_t x, uint32_t y, uint32_t band) {
    float v = -1;
    EXPECT_TRUE(reader_->GetCell(x, y, band, v)) << x << "," << y << "," << band;
    return v;
  }

  TempDir dir_;
  std::unique_ptr<BmpReader> reader_ = std::make_unique<BmpReader>();
};

TEST_F(BmpReaderTest, TwentyFourBitReadsRedGreenBlueTopLineFirst) {
  // Bottom-up rows, top-down rows (a negative height), and the core header.
  for (int variant = 0; variant < 3; ++variant) {
    SCOPED_TRACE(variant);
    BmpSpec s = Image(5, 3);
    if (variant == 1) s.height = -3;
    s.core = variant == 2;
    ASSERT_TRUE(OpenBytes(s.Build())) << reader_->ErrorText;
    ExpectCells(*reader_, 5, 3, 3, ColourCell);
  }
}

TEST_F(BmpReaderTest, GreyRampIsOneBandOtherPalettesThreeAndZeroPastTheirEnd) {
  for (const bool core : {false, true}) {
    BmpSpec s = Image(4, 3, GreyRamp());
    s.core = core;
    ASSERT_TRUE(OpenBytes(s.Build())) << reader_->ErrorText;
    ASSERT_EQ(reader_->GetBands(), 1u);
    EXPECT_EQ(Cell(3, 2, 0), 11);
  }
  std::vector<Rgb> palette = GreyRamp();
  palette[5] = {5, 5, 6};
  ASSERT_TRUE(OpenBytes(Image(4, 3, palette).Build())) << reader_->ErrorText;
  ASSERT_EQ(reader_->GetBands(), 3u);
  EXPECT_EQ(Cell(1, 1, 0), 5);  // index 5
  EXPECT_EQ(Cell(1, 1, 2), 6);
  EXPECT_EQ(Cell(3, 1, 1), 7);
  palette.resize(6);
  ASSERT_TRUE(OpenBytes(Image(4, 3, palette).Build())) << reader_->ErrorText;
  EXPECT_EQ(Cell(1, 1, 2), 6);
  for (uint32_t b = 0; b < 3; ++b) EXPECT_EQ(Cell(2, 1, b), 0);  // index 6
}

TEST_F(BmpReaderTest, RowNotWhollyInsideTheFileReadsFalse) {
  // Ten 24-bit pixels need 30 bytes a row, but the file holds only 50
  // bytes of pixels for four rows: the stride from the file size is 12.
  BmpSpec s = Image(10, 4);
  std::string bytes = s.Build();
  const uint32_t offset = read_le<uint32_t>(bytes.data() + 10);
  bytes.resize(offset + 50);
  ASSERT_TRUE(OpenBytes(bytes)) << reader_->ErrorText;
  EXPECT_EQ(reader_->Stride, 12u);
  float v = -1;
  EXPECT_TRUE(reader_->GetCell(0, 3, 0, v));   // the first stored row
  EXPECT_FALSE(reader_->GetCell(0, 0, 0, v));  // the last stored row
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(reader_->GetCell(10, 3, 0, v));
  EXPECT_FALSE(reader_->GetCell(0, 4, 0, v));
}

TEST_F(BmpReaderTest, RefusesWithItsMessage) {
  const auto with = [](BmpSpec s, const std::function<void(BmpSpec&)>& change) {
    change(s);
    return s.Build();
  };
  // A file header and the size field of an info header, then zeros.
  const auto raw = [](uint32_t size, uint32_t offset, uint32_t info, size_t zeros) {
    return "BM" + Le32(size) + Le32(0) + Le32(offset) + Le32(info) + std::string(zeros, '\0');
  };
  const std::string palette_room =
      "Damaged bitmap: palette larger than the room before the pixel data";
  const struct {
    std::string bytes;
    uint32_t status;
    std::string text;
  } cases[] = {
      {"II*\0" + std::string(60, '\0'), 2, "Not a BMP file"},
      {"BM\0\0", 2, "Not a BMP file"},
      {with(Image(4, 2, GreyRamp()), [](BmpSpec& s) { s.compression = 1; }), 3,
       "Unknown bitmap type: RLE8"},
      {with(Image(4, 2, GreyRamp()), [](BmpSpec& s) { s.compression = 2; }), 3,
       "Unknown bitmap type: RLE4"},
      {with(Image(2, 2), [](BmpSpec& s) { s.compression = 3; }), 3,
       "Unknown bitmap type: Unknown compression"},
      {with(Image(2, 2), [](BmpSpec& s) { s.bits = 16; }), 3,
       "Unknown bitmap type: not RGB or 8-bit pixel"},
      {with(Image(2, 2), [](BmpSpec& s) { s.core = true, s.bits = 4; }), 3,
       "Unknown bitmap type: Not RGB or 8-bit pixel"},
      {raw(200, 200, 124, 200), 3, "Unknown bitmap type: "},  // a V5 header
      {with(Image(2, 2), [](BmpSpec& s) { s.height = 0; }), 4, "Damaged bitmap: height 0"},
      {with(Image(4, 2, {{1, 2, 3}, {4, 5, 6}}), [](BmpSpec& s) { s.colours_used = 3; }), 4,
       palette_room},
      {with(Image(4, 2, {{1, 2, 3}}), [](BmpSpec& s) { s.colours_used = 0xFFFFFFFF; }), 4,
       palette_room},
      {raw(80, 30, 40, 66), 4, "Damaged bitmap: pixel data inside the header"},
      {raw(80, 9000, 40, 66), 4, "Damaged bitmap: pixel data beyond the end of file"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(&k - cases);
    EXPECT_FALSE(OpenBytes(k.bytes));
    EXPECT_EQ(reader_->LastError, k.status);
    EXPECT_EQ(reader_->ErrorText, k.text);
    EXPECT_EQ(reader_->GetBands(), 0u);
  }
  EXPECT_FALSE(reader_->Open(dir_.Path("none.bmp")));
  EXPECT_EQ(reader_->LastError, 1u);
  EXPECT_EQ(reader_->ErrorText, "Open read error 2 " + SystemErrorText(2));
  EXPECT_FALSE(reader_->OpenExisting(dir_.Path("none.bmp")));
  EXPECT_EQ(reader_->ErrorText, "File not Exists");
}

TEST_F(BmpReaderTest, GeoreferenceComesFromTheWorldFile) {
  const char* cases[][2] = {
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
  for (const auto& [world, placement] : cases) {
    const std::string name = "w" + std::to_string((&world - &cases[0][0]) / 2);
    if (world) dir_.WriteFile(name + ".bmpw", world);
    ASSERT_TRUE(OpenBytes(Image(2, 2).Build(), name + ".bmp")) << reader_->ErrorText;
    std::string got = Placement(*reader_);
    if (const size_t any = std::string(placement).find('?'); any != std::string::npos)
      got.replace(any, got.find(',', any) - any, "?");
    EXPECT_EQ(placement, got) << name;
  }
}

// The headers as the layout tables give them, built independently.
std::string ExpectedBmpHeader(uint32_t w, uint32_t h, uint16_t bits, uint32_t palette_bytes,
                              uint32_t stride) {
  const uint32_t offset = 54 + palette_bytes;
  return "BM" + Le32(offset + stride * h) + Le32(0) + Le32(offset) + Le32(40) + Le32(w) + Le32(h) +
         Le16(1) + Le16(bits) + std::string(24, '\0');
}

class BmpWriterTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(BmpWriterTest, WritesPaddedRowsBottomUpAndReadsThemBack) {
  // One band of width 1 has a stride of 4 and a grey palette; three bands of
  // width 5 have a stride of 16, blue first.
  for (const auto& [w, bands] : {std::pair{1u, 1}, std::pair{5u, 3}}) {
    const uint32_t h = 3, stride = (w * bands + 3) / 4 * 4;
    const std::string name = dir_.Path("o" + std::to_string(bands) + ".bmp");
    {
      BmpWriter out(name, w, h, CellType::kUnsigned8, bands, 1);
      EXPECT_TRUE(out.StoresByIndex());
      out.SetGeoreference({0.5, 0.5, 0, 0, 1000, 2000, "S", "D", "P"});
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          for (int32_t b = 0; b < bands; ++b) EXPECT_TRUE(out.SetCell(x, y, b, Colour(x, y)[b]));
      EXPECT_FALSE(out.SetCell(w, 0, 0, 1));
      EXPECT_FALSE(out.SetCell(0, h, 0, 1));
    }
    std::string want;
    for (int i = 0; bands == 1 && i < 256; ++i) want += {char(i), char(i), char(i), '\0'};
    const uint32_t offset = 54 + static_cast<uint32_t>(want.size());
    for (uint32_t y = h; y-- > 0;) {
      std::string row;
      for (uint32_t x = 0; x < w; ++x)
        for (int32_t b = bands; b-- > 0;) row += char(Colour(x, y)[bands == 1 ? 0 : b]);
      row.resize(stride, '\0');
      want += row;
    }
    const std::string f = dir_.ReadFile("o" + std::to_string(bands) + ".bmp");
    EXPECT_EQ(f.substr(0, 54), ExpectedBmpHeader(w, h, bands == 1 ? 8 : 24, offset - 54, stride));
    EXPECT_EQ(f.substr(54), want);

    BmpReader r;
    ASSERT_TRUE(r.Open(name)) << r.ErrorText;
    EXPECT_EQ("0.5 0.5, 1000 2000, UNKNOWN UNKNOWN UNKNOWN", Placement(r));
    ExpectCells(r, w, h, bands, ColourCell);
  }
}

TEST_F(BmpWriterTest, StoresLowEightBitsAndRefusesOtherBandsAndCellTypes) {
  {
    BmpWriter w(dir_.Path("c.bmp"), 1, 1, CellType::kUnsigned8, 3, 1);
    w.SetCell(0, 0, 0, 300.4);
  }
  EXPECT_EQ(static_cast<uint8_t>(dir_.ReadFile("c.bmp")[54 + 2]), 44);
  EXPECT_EQ("Wrong number of bands(must be 1 or 3)", ThrownText<DatasetError>([&] {
              Output out(dir_.Path("c.bmp"), 2, 2, CellType::kUnsigned8, 2, 1);
            }));
  EXPECT_EQ("Not supported cell type(must be byte type): UNSIGNED16BITINTEGER",
            ThrownText<DatasetError>(
                [&] { Output out(dir_.Path("c.bmp"), 2, 2, CellType::kUnsigned16, 1, 1); }));
}

// The registration cell moves the origin.
TEST_F(BmpWriterTest, WritesWorldFileWith14Decimals) {
  {
    BmpWriter w(dir_.Path("g.bmp"), 2, 2, CellType::kUnsigned8, 1, 1);
    w.SetGeoreference({2.5, 2.5, 1, 1, 0, 0, "", "", ""});
  }
  EXPECT_EQ(dir_.ReadFile("g.bmpw"),
            "  2.50000000000000\r\n  0.00000000000000\r\n  0.00000000000000\r\n"
            " -2.50000000000000\r\n -2.50000000000000\r\n  2.50000000000000\r\n");
}

}  // namespace
}  // namespace clipra
