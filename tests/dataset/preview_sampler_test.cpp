#include "dataset/preview_sampler.h"

#include "support/app_fixtures.h"
#include "support/format_test.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return 1 + x + 16 * y + 100 * b;
}

// Every pixel against the reading facade's own nearest-cell lookup at the
// pixel's centre.
TEST(PreviewSampler, EveryPixelShowsTheCellNearestToItsCentre) {
  TempDir dir;
  const struct {
    const char* name;
    uint32_t bands;
    const char* cell_type;
    bool msb_first;
  } kSources[] = {
      {"grey16", 1, "Signed16BitInteger", true},
      {"rgb", 3, "Unsigned8BitInteger", false},
      {"two", 2, "IEEE4ByteReal", false},
  };
  // The source: 7 x 5 cells of 10 x 4 map units, cell (0, 0) at (1000, 2000).
  const PreviewView kViews[] = {
      {995, 2002, 10, 4, 7, 5},         // one pixel per cell
      {960, 2030, 3.3, 3.3, 40, 20},    // zoomed in, square pixels, beyond every edge
      {1012.5, 1994, 0.9, 0.9, 30, 9},  // deep inside
      {940, 2030, 21, 7, 9, 9},         // zoomed out past the whole source
      {1002.5, 2004, 5, 4, 4, 4},       // pixel centres on the rounding ties
  };
  for (const auto& src : kSources) {
    ErsSource s = Grid(7, 5, src.bands, "10", "4", "1000", "2000", src.cell_type);
    s.msb_first = src.msb_first;
    Source source;
    ASSERT_TRUE(source.Open(WriteSource(dir, src.name, s, Pattern))) << source.GetErrorText();
    for (const PreviewView& view : kViews) {
      SCOPED_TRACE(std::string(src.name) + " view left " + std::to_string(view.left));
      PreviewSamples out;
      ASSERT_TRUE(SamplePreview(*source.GetReader(), view, out));
      const uint32_t bands = src.bands == 3 ? 3 : 1;
      ASSERT_EQ(bands, out.bands);
      int covered = 0;
      for (uint32_t py = 0; py < view.height; ++py)
        for (uint32_t px = 0; px < view.width; ++px) {
          const double x = static_cast<double>(view.left + (px + 0.5L) * view.unit_x);
          const double y = static_cast<double>(view.top - (py + 0.5L) * view.unit_y);
          float want = 0;
          const bool found = source.GetValue(0, want, x, y, 0);
          const size_t i = size_t{py} * view.width + px;
          ASSERT_EQ(found, out.covered[i] != 0) << px << "," << py;
          covered += found;
          for (uint32_t b = 0; found && b < bands; ++b) {
            ASSERT_TRUE(source.GetValue(b, want, x, y, 0));
            EXPECT_EQ(want, out.values[i * bands + b]) << px << "," << py << " band " << b;
          }
        }
      EXPECT_GT(covered, 0);
    }
  }
  // A request that is cancelled stops before its next line.
  Source source;
  ASSERT_TRUE(source.Open(dir.Path("rgb.ers")));
  PreviewSamples out;
  int asked = 0;
  EXPECT_FALSE(SamplePreview(*source.GetReader(), kViews[0], out, [&] { return ++asked == 2; }));
  EXPECT_EQ(2, asked);
}

TEST(PreviewSampler, OneBandStretchesBetweenPercentilesColourBytesShowAsStoredAndTheRestIsChecker) {
  // The first 100 pixels hold 0 to 99 in a shuffled order (value v at
  // v * 73 % 100); the rest are empty.
  PreviewSamples grey{20, 6, 1, false, std::vector<float>(120), std::vector<uint8_t>(120)};
  for (uint32_t i = 0; i < 100; ++i) {
    grey.values[i] = static_cast<float>((i * 37) % 100);
    grey.covered[i] = 1;
  }
  const std::vector<uint32_t> g = RenderPreview(grey, 8);
  // The 2nd and 98th percentiles of 0..99 are 1 and 97.
  const uint32_t black = 0xFF000000u, white = 0xFFFFFFFFu;
  const std::pair<uint32_t, uint32_t> stretched[] = {
      {0, black}, {1, black}, {49, 0xFF808080u}, {97, white}, {99, white}};
  for (const auto& [v, want] : stretched) EXPECT_EQ(want, g[v * 73 % 100]) << v;
  // Row 5 is empty: squares of 8 pixels alternate.
  EXPECT_EQ(g[5 * 20 + 0], g[5 * 20 + 7]);
  EXPECT_NE(g[5 * 20 + 7], g[5 * 20 + 8]);

  const PreviewSamples rgb{2, 1, 3, true, {10, 20, 30, 0, 0, 0}, {1, 0}};
  EXPECT_EQ((std::vector<uint32_t>{0xFF0A141Eu, 0xFFD0D0D0u}), RenderPreview(rgb));
}

}  // namespace
}  // namespace clipra
