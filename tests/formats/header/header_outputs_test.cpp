// What the header formats' outputs share: a clip through any of them and
// back holds the cells of a direct ER Mapper clip, GDAL reads their data
// files, and a folder that is not there gives the system's error.
#include <sstream>

#include "support/app_fixtures.h"
#include "support/format_test.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return static_cast<double>(x * 3 + y * 7 + b * 50) - 60;
}
double Positive(uint32_t x, uint32_t y, uint32_t b) {
  return Pattern(x, y, b) + 60;
}
double Heights(uint32_t x, uint32_t y, uint32_t) {
  return x * 1.5 + y * 100 + 0.25;
}

// The source is clipped into the format, that output clipped back into ER
// Mapper, and the source clipped straight into ER Mapper.
TEST(HeaderOutputs, ClipThroughTheFormatMatchesADirectErsClip) {
  const struct {
    const char *output, *reopened;  // the clip, and the name it is read back by
    uint32_t width, lines, bands;
    const char *cell_type, *cell_size, *eastings, *northings;
    bool msb_first;
    CellFn cells;
    const char* rect;
  } cases[] = {
      {"clip.001", "clip.001", 9, 7, 1, "Signed16BitInteger", "10", "1000", "5000", false, Pattern,
       "-A1015:4985:1075:4935"},
      {"clip.001", "clip.001", 9, 7, 1, "Signed16BitInteger", "10", "1000", "5000", false, Pattern,
       "-A985:5012:1030:4960"},
      // An OrthoSetData header under a name that holds another format's key.
      {"clip.jpgw", "clip.jpgw", 9, 7, 2, "Signed16BitInteger", "10", "1000", "5000", true, Pattern,
       "-A1015:4985:1075:4935"},
      // Three bands partly outside the source: the background colour.
      {"clip", "clip.osd", 6, 5, 3, "Unsigned8BitInteger", "2.5", "300", "800", false, Positive,
       "-A295:805:310:792"},
      // The last column and three lines lie outside.
      {"clip.dtm", "clip.dtm", 6, 5, 1, "Signed32BitSingle", "2.0", "1000.0", "2000.0", false,
       Heights, "-A1002:1996:1014:1986"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.output) + " " + k.rect);
    TempDir dir;
    ErsSource s = Grid(k.width, k.lines, k.bands, k.cell_size, k.cell_size, k.eastings, k.northings,
                       k.cell_type);
    s.msb_first = k.msb_first;
    WriteSource(dir, "src", s, k.cells);
    for (const auto& [from, to] :
         {std::pair{"src.ers", k.output}, {k.reopened, "back.ers"}, {"src.ers", "direct.ers"}}) {
      const CliResult r = RunClipra({k.rect, "-B7:8:9", dir.Path(from), dir.Path(to)});
      ASSERT_EQ(0, r.code) << r.err;
    }
    // The clip in the format has the direct clip's size too.
    uint32_t w[3] = {}, l[3] = {};
    const std::vector<float> direct = ReadAllCells(dir.Path("direct.ers"), &w[0], &l[0]);
    ASSERT_FALSE(direct.empty());
    EXPECT_EQ(direct, ReadAllCells(dir.Path("back.ers"), &w[1], &l[1]));
    ReadAllCells(dir.Path(k.reopened), &w[2], &l[2]);
    EXPECT_EQ(std::vector<uint32_t>({w[0], l[0], w[0], l[0]}),
              std::vector<uint32_t>({w[1], l[1], w[2], l[2]}));
    Source back, want;
    ASSERT_TRUE(back.Open(dir.Path("back.ers")));
    ASSERT_TRUE(want.Open(dir.Path("direct.ers")));
    RasterReader &a = *back.GetReader(), &b = *want.GetReader();
    EXPECT_EQ(std::vector<double>({b.GetLeftX(), b.GetTopY(), b.GetCellSizeX()}),
              std::vector<double>({a.GetLeftX(), a.GetTopY(), a.GetCellSizeX()}));
  }
}

// GDAL has no driver for these formats; an ENVI header describes the data
// file: NOG's one band top line first, OrthoSetData's bands interleaved by line.
TEST(HeaderOutputs, GdalReadsTheDataFiles) {
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  const struct {
    const char *output, *data, *envi;
    uint32_t bands;
  } cases[] = {{"n.001", "n.002", "n.hdr", 1}, {"o.osd", "o", "o.hdr", 2}};
  for (const auto& k : cases) {
    {
      Output out(dir.Path(k.output), 3, 2, CellType::kSigned16, k.bands, 1);
      for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t b = 0; b < k.bands; ++b)
          for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, b, Pattern(x, y, b) * 10);
    }
    dir.WriteFile(k.envi, "ENVI\nsamples = 3\nlines = 2\nbands = " + std::to_string(k.bands) +
                              "\nheader offset = 0\ndata type = 2\ninterleave = bil\n"
                              "byte order = 0\n");
    for (uint32_t b = 0; b < k.bands; ++b) {
      ASSERT_EQ(0, RunCommand("gdal_translate -q -of XYZ -b " + std::to_string(b + 1) + " " +
                              ShellQuote(dir.Path(k.data)) + " " + ShellQuote(dir.Path("b.xyz"))));
      std::istringstream in(dir.ReadFile("b.xyz"));
      double gx = 0, gy = 0, v = 0;
      for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) {
          ASSERT_TRUE(in >> gx >> gy >> v);
          EXPECT_EQ(Pattern(x, y, b) * 10, v)
              << k.output << " band " << b << " at " << x << "," << y;
        }
    }
  }
}

TEST(HeaderOutputs, AMissingFolderGivesTheSystemError) {
  TempDir dir;
  for (const auto& [name, text] : {std::pair{"x.osd", "Open map write error=2 "},
                                   {"x.001", "Open map write error=2 "},
                                   {"x.dtm", "Open map write error=2 "},
                                   {"x.ers", "Open Map write error 2 "}})
    EXPECT_EQ(text + SystemErrorText(2), ThrownText<DatasetError>([&] {
                Output out(dir.Path("nofolder/") + name, 1, 1, CellType::kSigned16, 1, 1);
              }))
        << name;
}

}  // namespace
}  // namespace clipra
