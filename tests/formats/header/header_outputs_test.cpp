// What the header formats' outputs share: GDAL reads their data files, and
// every failure reaches the caller with its message.
#include "formats/header/osd.h"
#include "support/format_test.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return static_cast<double>(x * 3 + y * 7 + b * 50) - 60;
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
    std::string want, got;  // band by band, each line by line
    for (uint32_t b = 0; b < k.bands; ++b) {
      for (uint32_t i = 0; i < 6; ++i) want += Num(Pattern(i % 3, i / 3, b) * 10) + "\n";
      // The values: the third column of GDAL's XYZ text.
      ASSERT_EQ(0, RunCommand("gdal_translate -q -of XYZ -b " + std::to_string(b + 1) + " " +
                                  ShellQuote(dir.Path(k.data)) + " /vsistdout/ | cut -d' ' -f3",
                              &got));
    }
    EXPECT_EQ(want, got) << k.output;
  }
}

// Creating (mode 1), and opening an existing raster for reading (0) or update (2).
TEST(HeaderOutputs, FailuresArriveWithTheirMessages) {
  TempDir dir;
  dir.WriteFile("nodata.osd", "OrthoSetDataHeader [\nNrOfBands = 1\n");
  const struct {
    const char* name;
    int32_t bands;
    uint8_t mode;
    const char* message;
  } cases[] = {
      {"nofolder/x.osd", 1, 1, "Open map write error=2 No such file or directory"},
      {"nofolder/x.001", 1, 1, "Open map write error=2 No such file or directory"},
      {"nofolder/x.dtm", 1, 1, "Open map write error=2 No such file or directory"},
      {"nofolder/x.ers", 1, 1, "Open Map write error 2 No such file or directory"},
      {"zero.ers", 0, 1, "MMapFile 0 Bands"},
      {"zero.dtm", 0, 1, "MMapFile 0 Bands"},
      {"none.osd", 1, 0, "Open Header Read Error"},
      {"nodata.osd", 1, 0, "Open Map Read Error=2 No such file or directory"},
      {"nodata.osd", 1, 2, "Open Map update error=2 No such file or directory"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.Path(c.name);
    auto create = [&] { Output out(path, 1, 1, CellType::kSigned16, c.bands, 1); };
    auto open = [&] { OsdWriter w(path, 0, 0, CellType::kUnsigned8, 1, c.mode); };
    EXPECT_EQ(c.message,
              c.mode == 1 ? ThrownText<DatasetError>(create) : ThrownText<OsdError>(open))
        << c.name;
  }
}

}  // namespace
}  // namespace clipra
