#include "formats/image/jpeg_scaled.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

std::string MakePnm(uint32_t w, uint32_t h, bool colour) {
  std::string s = std::string(colour ? "P6" : "P5") + "\n" + std::to_string(w) + " " +
                  std::to_string(h) + "\n255\n";
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < (colour ? 3u : 1u); ++c)
        s += static_cast<char>((x * 5 + y * 3 + c * 70 + ((x * y + c) % 7) * 9) % 256);
  return s;
}

// The reduced image is djpeg's at the same scale, and each reduced cell
// lies at the centre of the block of full cells it stands for.
TEST(JpegScaled, DecodesLikeDjpegAtTheSmallestScaleThatKeepsTheAskedSize) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  TempDir dir;
  const struct {
    bool colour;
    uint32_t min_width, min_lines;
    int n;
  } kRows[] = {{true, 16, 10, 2}, {false, 1, 1, 1}, {true, 30, 1, 4}, {false, 61, 37, 8}};
  // The centre of cell (0, 0) at (100, 200), cells 2 across and 3 down: its
  // corner lies at (99, 201.5).
  dir.WriteFile("map.jgw", "2\n0\n0\n-3\n100\n200\n");
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.n);
    ASSERT_EQ(row.n, JpegScaleNumerator(61, 37, row.min_width, row.min_lines));
    dir.WriteFile("in.pnm", MakePnm(61, 37, row.colour));
    ASSERT_EQ(0, RunCommand("cjpeg -outfile " + ShellQuote(dir.Path("map.jpg")) + " " +
                            ShellQuote(dir.Path("in.pnm"))));
    std::string want;
    ASSERT_EQ(0, RunCommand("djpeg -pnm -scale " + std::to_string(row.n) + "/8 " +
                                ShellQuote(dir.Path("map.jpg")),
                            &want));
    std::string error;
    auto reader = OpenJpegScaled(dir.Path("map.jpg"), row.min_width, row.min_lines, error);
    ASSERT_TRUE(reader) << error;
    std::istringstream in(want);
    std::string magic;
    uint32_t w = 0, h = 0, max = 0;
    in >> magic >> w >> h >> max;
    in.get();
    const std::string pixels = want.substr(static_cast<size_t>(in.tellg()));
    const uint32_t bands = row.colour ? 3 : 1;
    ASSERT_EQ(w, reader->GetWidth());
    ASSERT_EQ(h, reader->GetLines());
    ASSERT_EQ(bands, reader->GetBands());
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t b = 0; b < bands; ++b) {
          float v = -1;
          ASSERT_TRUE(reader->GetCell(x, y, b, v));
          ASSERT_EQ(static_cast<uint8_t>(pixels[(size_t{y} * w + x) * bands + b]), v)
              << x << "," << y;
        }
    const double f = 8.0 / row.n;
    EXPECT_DOUBLE_EQ(2 * f, reader->GetCellSizeX());
    EXPECT_DOUBLE_EQ(3 * f, reader->GetCellSizeY());
    EXPECT_DOUBLE_EQ(99 + (f - 1) / 2 * 2, reader->GetLeftX());
    EXPECT_DOUBLE_EQ(201.5 - (f - 1) / 2 * 3, reader->GetTopY());
  }
  std::string error;
  dir.WriteFile("bad.jpg", "\xFF\xD8 not a JPEG");
  EXPECT_FALSE(OpenJpegScaled(dir.Path("bad.jpg"), 1, 1, error));
  EXPECT_EQ(0u, error.find("JPEG read error: ")) << error;
}

}  // namespace
}  // namespace clipra
