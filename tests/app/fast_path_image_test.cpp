// TIFF and BMP sources, made by GDAL, through the indexed path with its runs
// of stored cells and through the facades cell by cell: the outputs are the
// same byte for byte.
#include <gtest/gtest.h>

#include "app/core/job.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return (x * 7 + y * 13 + b * 29) % 251;
}

struct Variant {
  const char* name;
  uint32_t bands;
  const char* options;  // gdal_translate options
  const char* extension;
};

TEST(FastPathImage, GdalMadeSourcesMatchCellByCell) {
  REQUIRE_TOOL("gdal_translate");
  const Variant variants[] = {
      {"chunky", 3, "-of GTiff -co TFW=YES -co INTERLEAVE=PIXEL", ".tif"},
      {"planar", 3, "-of GTiff -co TFW=YES -co INTERLEAVE=BAND -co BLOCKYSIZE=2", ".tif"},
      {"big_endian16", 3, "-of GTiff -co TFW=YES -co ENDIANNESS=BIG -ot UInt16", ".tif"},
      {"grey16", 1, "-of GTiff -co TFW=YES -ot UInt16 -co BLOCKYSIZE=3", ".tif"},
      {"white_is_zero", 1, "-of GTiff -co TFW=YES -co PHOTOMETRIC=MINISWHITE", ".tif"},
      {"rgb_bmp", 3, "-of BMP -co WORLDFILE=YES", ".bmp"},
      {"grey_bmp", 1, "-of BMP -co WORLDFILE=YES", ".bmp"},
      {"rgb_jpeg", 3, "-of JPEG -co WORLDFILE=YES", ".jpg"},
      {"grey_jpeg", 1, "-of JPEG -co WORLDFILE=YES", ".jpg"},
  };
  TempDir dir;
  for (const Variant& v : variants) {
    ErsSource s;
    s.width = 9;
    s.lines = 7;
    s.bands = v.bands;
    s.cell_size_x = s.cell_size_y = "2";
    s.eastings = "100";
    s.northings = "200";
    s.data = MakeCells(s, Pattern);
    const std::string base = dir.Path(std::string("ers_") + v.name);
    s.Write(base);
    const std::string source = dir.Path(std::string(v.name) + v.extension);
    ASSERT_EQ(0, RunCommand("gdal_translate -q " + std::string(v.options) + " " +
                            ShellQuote(base + ".ers") + " " + ShellQuote(source)))
        << v.name;
    // GDAL names these world files ".wld"; the readers want ".bmpw" and ".jgw".
    const std::string world = std::string(v.extension) == ".bmp" ? ".bmpw" : ".jgw";
    std::rename(dir.Path(std::string(v.name) + ".wld").c_str(),
                dir.Path(std::string(v.name) + world).c_str());

    ExtractOptions o;
    o.TopLeftX = 95;  // partly outside on the left and the top
    o.TopLeftY = 205;
    o.BotRightX = 117;
    o.BotRightY = 185;
    o.BgrColor = 0x102030;
    for (const char* out_ext : {".ers", ".tif", ".bmp"}) {
      std::string data[2];
      for (int cell_by_cell = 0; cell_by_cell < 2; ++cell_by_cell) {
        const std::string out = std::string("out_") + v.name + std::to_string(cell_by_cell);
        AbortRequested = false;
        ExtractJob job(source, dir.Path(out + out_ext), o, nullptr);
        job.CellByCell = cell_by_cell == 1;
        job.Run();
        const bool refused = job.StatusText.find("support") != std::string::npos;
        if (refused) break;  // a 16-bit source into a bitmap
        ASSERT_EQ("Successful Finish", job.StatusText) << v.name << out_ext;
        data[cell_by_cell] = dir.ReadFile(std::string(out_ext) == ".ers" ? out : out + out_ext);
      }
      EXPECT_EQ(data[1], data[0]) << v.name << " into " << out_ext;
    }
  }
}

}  // namespace
}  // namespace clipra
