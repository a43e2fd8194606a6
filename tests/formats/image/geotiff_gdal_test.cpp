// TIFFs, JPEGs and ER Mapper grids as GDAL writes them clip to the same
// cells as the same data written by GDAL as a plain ER Mapper file, at the
// same map position: at round cell edges and between cells.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/ers_builder.h"
#include "support/gdal.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// 70 x 50 cells of 2 m from (500000, 6200000): several 16 x 16 tiles.
constexpr const char* kPython = R"(from osgeo import gdal, osr
import struct, sys
gdal.UseExceptions()
W, H = 70, 50
def source(bands, kind, lo=0):
    ds = gdal.GetDriverByName('MEM').Create('', W, H, bands, kind)
    ds.SetGeoTransform((500000, 2, 0, 6200000, 0, -2))
    srs = osr.SpatialReference(); srs.ImportFromEPSG(32755); ds.SetProjection(srs.ExportToWkt())
    for b in range(bands):
        v = [lo + (x * 7 + y * 13 + b * 50) % 250 for y in range(H) for x in range(W)]
        if kind == gdal.GDT_Float32: v = [a / 4.0 for a in v]
        fmt = {gdal.GDT_Byte: 'B', gdal.GDT_Int16: 'h', gdal.GDT_UInt16: 'H',
               gdal.GDT_Int32: 'i', gdal.GDT_Float32: 'f'}[kind]
        ds.GetRasterBand(b + 1).WriteRaster(0, 0, W, H, struct.pack('<%d%s' % (len(v), fmt), *v))
    return ds
)";

struct Fixture {
  const char* name;
  const char* file;
  // Python lines that write `file` from source(...).
  const char* make;
  // gdal.Translate options for the reference ER Mapper file.
  const char* reference;
};

const Fixture kFixtures[] = {
    {"Lzw", "s.tif",
     "gdal.Translate('s.tif', source(3, gdal.GDT_Byte), creationOptions=['COMPRESS=LZW', "
     "'PREDICTOR=2'])",
     ""},
    {"DeflateTiled", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_UInt16), creationOptions=['COMPRESS=DEFLATE', "
     "'TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16'])",
     ""},
    {"PackBitsPlanarTiled", "s.tif",
     "gdal.Translate('s.tif', source(3, gdal.GDT_Byte), creationOptions=['COMPRESS=PACKBITS', "
     "'INTERLEAVE=BAND', 'TILED=YES', 'BLOCKXSIZE=32', 'BLOCKYSIZE=16'])",
     ""},
    {"JpegYcbcr", "s.tif",
     "gdal.Translate('s.tif', source(3, gdal.GDT_Byte), creationOptions=['COMPRESS=JPEG', "
     "'PHOTOMETRIC=YCBCR', 'TILED=YES', 'BLOCKXSIZE=32', 'BLOCKYSIZE=32'])",
     ""},
    {"ZstdInt16", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Int16, -100), creationOptions=['COMPRESS=ZSTD'])",
     ""},
    {"LzmaInt32", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Int32, -100000), "
     "creationOptions=['COMPRESS=LZMA'])",
     ""},
    {"WebP", "s.tif",
     "gdal.Translate('s.tif', source(3, gdal.GDT_Byte), creationOptions=['COMPRESS=WEBP', "
     "'WEBP_LOSSLESS=YES'])",
     ""},
    {"BigTiffFloat", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Float32), creationOptions=['BIGTIFF=YES', "
     "'COMPRESS=DEFLATE', 'PREDICTOR=3'])",
     ""},
    {"SignedByte", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Byte), creationOptions=['PIXELTYPE=SIGNEDBYTE', "
     "'COMPRESS=LZW'])",
     ""},
    {"Palette", "s.tif",
     "d = source(1, gdal.GDT_Byte)\nct = gdal.ColorTable()\nfor i in range(256): "
     "ct.SetColorEntry(i, (i, 255 - i, (i * 3) % 256, "
     "255))\nd.GetRasterBand(1).SetColorTable(ct)\ngdal.Translate('s.tif', d)",
     "rgbExpand='rgb'"},
    {"PixelIsPoint", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Byte), metadataOptions=['AREA_OR_POINT=Point'])",
     ""},
    {"WorldFileNoTags", "s.tif",
     "gdal.Translate('s.tif', source(1, gdal.GDT_Byte), creationOptions=['PROFILE=BASELINE', "
     "'TFW=YES'])",
     ""},
    {"JpegWorldFile", "s.jpg",
     "gdal.Translate('s.jpg', source(3, gdal.GDT_Byte), format='JPEG', "
     "creationOptions=['WORLDFILE=YES', 'QUALITY=95'])",
     ""},
};

class GdalSourceTest : public ::testing::TestWithParam<Fixture> {
 protected:
  // Clips `source` with the rectangle into `output` (ER Mapper); its data bytes.
  std::string Clip(const std::string& source, const std::string& rect, const std::string& output) {
    const CliResult r = RunClipra({"-A" + rect, dir_.Path(source), dir_.Path(output + ".ers")});
    EXPECT_EQ(r.code, 0) << source << ": " << r.err;
    EXPECT_EQ(r.out.find("Note:"), std::string::npos) << r.out;
    return dir_.ReadFile(output);
  }
  TempDir dir_;
};

TEST_P(GdalSourceTest, ClipsLikeTheSameDataAsPlainErMapper) {
  REQUIRE_GDAL_PYTHON();
  const Fixture& f = GetParam();
  std::ostringstream py;
  py << kPython << "import os\nos.chdir('" << dir_.path() << "')\n"
     << f.make << "\n"
     << "gdal.Translate('ref.ers', '" << f.file << "', format='ERS'" << (*f.reference ? ", " : "")
     << f.reference << ")\n";
  ASSERT_TRUE(RunPython(dir_, py.str())) << f.make;
  // Round cell edges, then every point between two cells (ties), then a
  // window reaching beyond the source.
  for (const char* rect : {"500020:6199980:500080:6199920", "500021:6199979:500081:6199921",
                           "499990:6200010:500150:6199890"}) {
    SCOPED_TRACE(rect);
    const std::string want = Clip("ref.ers", rect, "want");
    const std::string got = Clip(f.file, rect, "got");
    ASSERT_FALSE(want.empty());
    EXPECT_NE(want.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(got == want) << "the clips differ";
  }
}

INSTANTIATE_TEST_SUITE_P(Gdal, GdalSourceTest, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<Fixture>& i) { return i.param.name; });

// GDAL's own placement of an image through its tags and its world file.
TEST(GdalSources, EpsgAndTheWorldFileAgainstTheTags) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  std::ostringstream py;
  py << kPython << "import os\nos.chdir('" << dir.path() << "')\n"
     << "d = source(1, gdal.GDT_Byte)\n"
     << "srs = osr.SpatialReference(); srs.ImportFromEPSG(25833); "
        "d.SetProjection(srs.ExportToWkt())\n"
     << "gdal.Translate('e.tif', d, creationOptions=['COMPRESS=LZW'])\n";
  ASSERT_TRUE(RunPython(dir, py.str()));
  CliResult r = RunClipra({"--info", dir.Path("e.tif")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Projection:      EPSG:25833\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("EPSG code:       25833\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("First cell X Y:  500000 6200000\n"), std::string::npos) << r.out;
  // A world file one cell off the tags wins, and the note says what the tags said.
  dir.WriteFile("e.tfw", "2\n0\n0\n-2\n500003\n6199999\n");
  r = RunClipra({"-A500010:6199990:500020:6199980", dir.Path("e.tif"), dir.Path("o.ers")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Note: The world file e.tfw overrides the GeoTIFF tags, which put the "
                       "top-left corner at 500000 6200000 with cells of 2 x 2; the world file puts "
                       "it at 500002 6200000"),
            std::string::npos)
      << r.out;
}

// Damaged files give messages: a strip cut short and a tile past the end.
TEST(GdalSources, DamagedStreamsGiveMessages) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  std::ostringstream py;
  py << kPython << "import os\nos.chdir('" << dir.path() << "')\n"
     << "gdal.Translate('l.tif', source(1, gdal.GDT_Byte), creationOptions=['COMPRESS=LZW'])\n"
     << "gdal.Translate('t.tif', source(1, gdal.GDT_Byte), creationOptions=['TILED=YES', "
        "'BLOCKXSIZE=16', 'BLOCKYSIZE=16', 'COMPRESS=DEFLATE'])\n";
  ASSERT_TRUE(RunPython(dir, py.str()));
  // The file ends inside the last LZW strip.
  const std::string lzw = dir.ReadFile("l.tif");
  ASSERT_GT(lzw.size(), 400u);
  dir.WriteFile("cut.tif", lzw.substr(0, lzw.size() - 300));
  // The strip's LZW codes are overwritten with garbage in place.
  std::string garbled = lzw;
  for (size_t i = 400; i < 700 && i < garbled.size(); ++i) garbled[i] = static_cast<char>(0xFF);
  dir.WriteFile("garbled.tif", garbled);
  // The first tile's offset points past the end of the file.
  ASSERT_TRUE(
      RunPython(dir, "import struct, os\nos.chdir('" + dir.path() + "')\n" +
                         "b = bytearray(open('t.tif', 'rb').read())\n"
                         "ifd = struct.unpack_from('<I', b, 4)[0]\n"
                         "for i in range(struct.unpack_from('<H', b, ifd)[0]):\n"
                         "  tag, typ, cnt, val = struct.unpack_from('<HHII', b, ifd + 2 + 12 * i)\n"
                         "  if tag == 324: struct.pack_into('<I', b, val, 99999999)\n"
                         "open('t.tif', 'wb').write(b)\n"));
  struct {
    const char* file;
    const char* words;
  } const cases[] = {
      {"cut.tif", "ends past the end of the file"},
      {"garbled.tif", "Strip 0 cannot be decoded: "},
      {"t.tif", "Tile 0 ends past the end of the file"},
  };
  for (const auto& c : cases) {
    const CliResult r =
        RunClipra({"-A500000:6200000:500138:6199902", dir.Path(c.file), dir.Path("o.ers")});
    EXPECT_NE(r.code, 0) << c.file;
    EXPECT_NE(r.err.find(c.words), std::string::npos) << c.file << ": " << r.err;
  }
}

// An ER Mapper grid as Geoscience Australia publishes them: geographic
// registration in degrees, minutes and seconds, a 512-byte block before the
// cells, a data file of another name and float cells. GDAL places it.
TEST(GdalSources, ErMapperGridOfOtherSoftware) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  std::string cells(512, 'x');
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      const float v = static_cast<float>(x * 10 + y) - 50.5f;
      cells.append(reinterpret_cast<const char*>(&v), 4);
    }
  dir.WriteFile("grid.bin", cells);
  dir.WriteFile("grid.ers",
                "DatasetHeader Begin\n\tVersion\t= \"5.0\"\n\tDataSetType\t= ERStorage\n"
                "\tDataType\t= Raster\n\tByteOrder = LSBFirst\n\tHeaderOffset = 512\n"
                "\tDataFile\t= \"grid.bin\"\n\tCoordinateSpace Begin\n\t\tDatum\t= \"GDA94\"\n"
                "\t\tProjection\t= \"GEODETIC\"\n\t\tCoordinateType\t= LATLONG\n"
                "\tCoordinateSpace End\n\tRasterInfo Begin\n\t\tcelltype  =   IEEE4ByteReal\n"
                "\t\tNullCellValue\t= -99999\n\t\tCellInfo Begin\n\t\t\tXdimension\t= 0.25\n"
                "\t\t\tYdimension\t= 0.25\n\t\tCellInfo End\n\t\tNrOfLines\t= 20\n"
                "\t\tNrOfCellsPerLine\t= 30\n\t\tRegistrationCoord Begin\n"
                "\t\t\tLongitude\t= 109:6:0\n\t\t\tLatitude\t= -9:21:0\n"
                "\t\tRegistrationCoord End\n\t\tNrOfBands\t= 1\n\tRasterInfo End\n"
                "DatasetHeader End\n");
  std::ostringstream py;
  py << "from osgeo import gdal\nimport os\nos.chdir('" << dir.path() << "')\n"
     << "gdal.Translate('ref.ers', 'grid.ers', format='ERS')\n";
  ASSERT_TRUE(RunPython(dir, py.str()));
  const GdalView gdal = ReadWithGdal(dir, "grid.ers");
  ASSERT_EQ(gdal.geo.size(), 6u);
  CliResult r = RunClipra({"--info", dir.Path("grid.ers")});
  EXPECT_NE(r.out.find("First cell X Y:  " + std::string("109.1 -9.35\n")), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("EPSG code:       4283\n"), std::string::npos) << r.out;
  for (const char* rect : {"109.5:-9.5:111:-12", "109.125:-9.375:110:-11"}) {
    std::string clips[2];
    for (int i = 0; i < 2; ++i) {
      r = RunClipra({std::string("-A") + rect, dir.Path(i ? "grid.ers" : "ref.ers"),
                     dir.Path(i ? "got.ers" : "want.ers")});
      ASSERT_EQ(r.code, 0) << r.err;
      clips[i] = dir.ReadFile(i ? "got" : "want");
    }
    EXPECT_FALSE(clips[0].empty());
    EXPECT_TRUE(clips[0] == clips[1]) << rect;
  }
}

// A BMP clip of a GDAL TIFF, clipped again at its own cell edges, comes back
// cell for cell.
TEST(GdalSources, BitmapOutputClipsBackAtItsOwnCellEdges) {
  REQUIRE_GDAL_PYTHON();
  TempDir dir;
  std::ostringstream py;
  py << kPython << "import os\nos.chdir('" << dir.path() << "')\n"
     << "gdal.Translate('s.tif', source(3, gdal.GDT_Byte), creationOptions=['COMPRESS=LZW'])\n";
  ASSERT_TRUE(RunPython(dir, py.str()));
  const std::string rect = "-A500020:6199980:500060:6199950";
  ASSERT_EQ(RunClipra({rect, dir.Path("s.tif"), dir.Path("a.bmp")}).code, 0);
  ASSERT_EQ(RunClipra({rect, dir.Path("a.bmp"), dir.Path("b.bmp")}).code, 0);
  const GdalView a = ReadWithGdal(dir, "a.bmp");
  const GdalView b = ReadWithGdal(dir, "b.bmp");
  ASSERT_EQ(a.width, 21);
  ASSERT_EQ(a.height, 16);
  EXPECT_EQ(a.cells, b.cells);
}

// A TIFF output names the source's system to GDAL; 32635 is left for
// strings the table does not know.
TEST(GdalOutputs, TiffOutputsNameTheSourceSystem) {
  REQUIRE_GDAL_PYTHON();
  struct {
    const char* projection;
    const char* datum;
    const char* corner;  // eastings, northings
    int epsg;
  } const cases[] = {
      {"\"NUTM33\"", "\"WGS84\"", "500000:6200000", 32633},
      {"\"SUTM33\"", "\"WGS84\"", "500000:6200000", 32733},
      {"\"EPSG:25833\"", "\"EPSG:25833\"", "500000:6200000", 25833},
      {"\"GEODETIC\"", "\"GDA94\"", "150:-30", 4283},
      {"\"RAW\"", "\"RAW\"", "500000:6200000", 32635},
      {"\"LOCAL\"", "\"MYDATUM\"", "500000:6200000", 32635},
  };
  TempDir dir;
  std::ostringstream py;
  py << "from osgeo import gdal\n";
  for (size_t i = 0; i < std::size(cases); ++i) {
    const std::string corner = cases[i].corner;
    const std::string east = corner.substr(0, corner.find(':'));
    const std::string north = corner.substr(corner.find(':') + 1);
    ErsSource s;
    s.width = 4;
    s.lines = 4;
    s.projection = cases[i].projection;
    s.datum = cases[i].datum;
    s.eastings = east;
    s.northings = north;
    s.data = std::string(16, '\x07');
    const std::string name = "s" + std::to_string(i);
    s.Write(dir.Path(name));
    const CliResult r =
        RunClipra({"-A" + east + ":" + north + ":" + std::to_string(std::stoi(east) + 4) + ":" +
                       std::to_string(std::stoi(north) - 4),
                   dir.Path(name + ".ers"), dir.Path(name + ".tif")});
    ASSERT_EQ(r.code, 0) << r.err;
    py << "print(gdal.Open('" << dir.Path(name + ".tif")
       << "').GetSpatialRef().GetAuthorityCode(None))\n";
  }
  std::string out;
  ASSERT_TRUE(RunPython(dir, py.str(), &out));
  std::istringstream codes(out);
  for (const auto& c : cases) {
    int code = 0;
    codes >> code;
    EXPECT_EQ(code, c.epsg) << c.projection << " " << c.datum;
  }
}

// Signed and float cells go out with their sample format: GDAL reads the
// same type and the same cells as from the source, across a source edge.
TEST(GdalOutputs, TiffOutputsKeepSignedAndFloatCells) {
  REQUIRE_GDAL_PYTHON();
  struct {
    const char* cell_type;
    const char* gdal_type;
    double (*f)(uint32_t, uint32_t, uint32_t);
  } const cases[] = {
      {"Signed16BitInteger", "Int16",
       [](uint32_t x, uint32_t y, uint32_t) { return x * 900.0 - y * 1100.0; }},
      {"Signed32BitInteger", "Int32",
       [](uint32_t x, uint32_t y, uint32_t) { return x * 9e6 - y * 1.1e7 - 3; }},
      {"IEEE4ByteReal", "Float32",
       [](uint32_t x, uint32_t y, uint32_t) { return x * 0.25 - y * 1e5 - 0.5; }},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cell_type);
    ErsSource s;
    s.width = 5;
    s.lines = 4;
    s.cell_type = c.cell_type;
    s.projection = "\"NUTM33\"";
    s.eastings = "1000";
    s.northings = "2000";
    s.data = MakeCells(s, c.f);
    s.Write(dir.Path("s"));
    // Whole source, then one column and one line past its right and bottom.
    for (const char* rect : {"-A1000:2000:1005:1996", "-A1001:1999:1007:1994"}) {
      const CliResult r = RunClipra({rect, dir.Path("s.ers"), dir.Path("o.tif")});
      ASSERT_EQ(r.code, 0) << r.err;
      const CliResult e = RunClipra({rect, dir.Path("s.ers"), dir.Path("o.ers")});
      ASSERT_EQ(e.code, 0) << e.err;
      const GdalView tif = ReadWithGdal(dir, "o.tif");
      const GdalView ers = ReadWithGdal(dir, "o.ers");
      ASSERT_FALSE(tif.cells.empty());
      EXPECT_EQ(tif.cells, ers.cells) << rect;
      EXPECT_EQ(tif.geo, ers.geo) << rect;
      std::string type;
      ASSERT_TRUE(RunPython(dir,
                            "from osgeo import gdal\nprint(gdal.GetDataTypeName(gdal.Open('" +
                                dir.Path("o.tif") + "').GetRasterBand(1).DataType))\n",
                            &type));
      EXPECT_EQ(type, std::string(c.gdal_type) + "\n");
    }
  }
}

}  // namespace
}  // namespace clipra
