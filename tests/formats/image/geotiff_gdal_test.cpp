// TIFFs, JPEGs and ER Mapper grids as GDAL writes them clip to the same
// cells as the same data written by GDAL as a plain ER Mapper file, at the
// same map position: at round cell edges and between cells.
#include <sstream>

#include "support/app_fixtures.h"
#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

// 70 x 50 cells of 2 m from (500000, 6200000): several 16 x 16 tiles.
constexpr const char* kPython = R"(from osgeo import gdal, osr
import os, struct
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
def tif(ds, *options, name='s.tif', **kw):
    gdal.Translate(name, ds, creationOptions=list(options), **kw)
B, U16 = gdal.GDT_Byte, gdal.GDT_UInt16
)";

// Runs `body` after kPython in `dir`.
bool Python(const TempDir& dir, const std::string& body) {
  return RunPython(dir, kPython + ("os.chdir('" + dir.path() + "')\n") + body + "\n");
}

struct Fixture {
  const char* name;
  const char* file;
  // Python lines that write `file` from source(...).
  const char* make;
  // gdal.Translate options for the reference ER Mapper file.
  const char* reference = "";
};

const Fixture kFixtures[] = {
    {"Lzw", "s.tif", "tif(source(3, B), 'COMPRESS=LZW', 'PREDICTOR=2')"},
    {"DeflateTiled", "s.tif",
     "tif(source(1, U16), 'COMPRESS=DEFLATE', 'TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16')"},
    {"PackBitsPlanarTiled", "s.tif",
     "tif(source(3, B), 'COMPRESS=PACKBITS', 'INTERLEAVE=BAND', 'TILED=YES', 'BLOCKXSIZE=32', "
     "'BLOCKYSIZE=16')"},
    {"JpegYcbcr", "s.tif",
     "tif(source(3, B), 'COMPRESS=JPEG', 'PHOTOMETRIC=YCBCR', 'TILED=YES', 'BLOCKXSIZE=32', "
     "'BLOCKYSIZE=32')"},
    {"ZstdInt16", "s.tif", "tif(source(1, gdal.GDT_Int16, -100), 'COMPRESS=ZSTD')"},
    {"LzmaInt32", "s.tif", "tif(source(1, gdal.GDT_Int32, -100000), 'COMPRESS=LZMA')"},
    {"WebP", "s.tif", "tif(source(3, B), 'COMPRESS=WEBP', 'WEBP_LOSSLESS=YES')"},
    {"BigTiffFloat", "s.tif",
     "tif(source(1, gdal.GDT_Float32), 'BIGTIFF=YES', 'COMPRESS=DEFLATE', 'PREDICTOR=3')"},
    {"SignedByte", "s.tif", "tif(source(1, B), 'PIXELTYPE=SIGNEDBYTE', 'COMPRESS=LZW')"},
    {"Palette", "s.tif",
     "d = source(1, B)\nct = gdal.ColorTable()\nfor i in range(256): "
     "ct.SetColorEntry(i, (i, 255 - i, (i * 3) % 256, 255))\n"
     "d.GetRasterBand(1).SetColorTable(ct)\ntif(d)",
     "rgbExpand='rgb'"},
    {"PixelIsPoint", "s.tif", "tif(source(1, B), metadataOptions=['AREA_OR_POINT=Point'])"},
    {"WorldFileNoTags", "s.tif", "tif(source(1, B), 'PROFILE=BASELINE', 'TFW=YES')"},
    {"JpegWorldFile", "s.jpg",
     "tif(source(3, B), 'WORLDFILE=YES', 'QUALITY=95', name='s.jpg', format='JPEG')"},
};

class GdalSources : public ::testing::Test {
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

class GdalSourceTest : public GdalSources, public ::testing::WithParamInterface<Fixture> {};

TEST_P(GdalSourceTest, ClipsLikeTheSameDataAsPlainErMapper) {
  REQUIRE_GDAL_PYTHON();
  const Fixture& f = GetParam();
  ASSERT_TRUE(Python(dir_, f.make + std::string("\ngdal.Translate('ref.ers', '") + f.file +
                               "', format='ERS'" + (*f.reference ? ", " : "") + f.reference + ")"))
      << f.make;
  // Round cell edges, then every point between two cells (ties), then a
  // window reaching beyond the source.
  for (const char* rect : {"500020:6199980:500080:6199920", "500021:6199979:500081:6199921",
                           "499990:6200010:500150:6199890"}) {
    SCOPED_TRACE(rect);
    const std::string want = Clip("ref.ers", rect, "want");
    ASSERT_FALSE(want.empty());
    EXPECT_NE(want.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(Clip(f.file, rect, "got") == want) << "the clips differ";
  }
}

INSTANTIATE_TEST_SUITE_P(Gdal, GdalSourceTest, ::testing::ValuesIn(kFixtures),
                         [](const ::testing::TestParamInfo<Fixture>& i) { return i.param.name; });

// GDAL's own placement of an image through its tags and its world file.
TEST_F(GdalSources, EpsgAndTheWorldFileAgainstTheTags) {
  REQUIRE_GDAL_PYTHON();
  ASSERT_TRUE(Python(dir_,
                     "d = source(1, B)\nsrs = osr.SpatialReference(); srs.ImportFromEPSG(25833); "
                     "d.SetProjection(srs.ExportToWkt())\ntif(d, 'COMPRESS=LZW', name='e.tif')"));
  CliResult r = RunClipra({"--info", dir_.Path("e.tif")});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line : {"Projection:      EPSG:25833\n", "EPSG code:       25833\n",
                           "First cell X Y:  500000 6200000\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
  // A world file one cell off the tags wins, and the note says what the tags said.
  dir_.WriteFile("e.tfw", "2\n0\n0\n-2\n500003\n6199999\n");
  r = RunClipra({"-A500010:6199990:500020:6199980", dir_.Path("e.tif"), dir_.Path("o.ers")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Note: The world file e.tfw overrides the GeoTIFF tags, which put the "
                       "top-left corner at 500000 6200000 with cells of 2 x 2; the world file puts "
                       "it at 500002 6200000"),
            std::string::npos)
      << r.out;
}

// Damaged files give messages: a strip cut short or garbled, a tile past the end.
TEST_F(GdalSources, DamagedStreamsGiveMessages) {
  REQUIRE_GDAL_PYTHON();
  ASSERT_TRUE(Python(dir_,
                     "tif(source(1, B), 'COMPRESS=LZW', name='l.tif')\n"
                     "tif(source(1, B), 'TILED=YES', 'BLOCKXSIZE=16', 'BLOCKYSIZE=16', "
                     "'COMPRESS=DEFLATE', name='t.tif')\n"
                     // The first tile's offset points past the end of the file.
                     "b = bytearray(open('t.tif', 'rb').read())\n"
                     "ifd = struct.unpack_from('<I', b, 4)[0]\n"
                     "for i in range(struct.unpack_from('<H', b, ifd)[0]):\n"
                     "  tag, typ, cnt, val = struct.unpack_from('<HHII', b, ifd + 2 + 12 * i)\n"
                     "  if tag == 324: struct.pack_into('<I', b, val, 99999999)\n"
                     "open('t.tif', 'wb').write(b)"));
  const std::string lzw = dir_.ReadFile("l.tif");
  ASSERT_GT(lzw.size(), 700u);
  dir_.WriteFile("cut.tif", lzw.substr(0, lzw.size() - 300));  // ends inside the last strip
  dir_.WriteFile("garbled.tif", lzw.substr(0, 400) + std::string(300, '\xFF') + lzw.substr(700));
  for (const auto& [file, words] : {std::pair{"cut.tif", "ends past the end of the file"},
                                    {"garbled.tif", "Strip 0 cannot be decoded: "},
                                    {"t.tif", "Tile 0 ends past the end of the file"}}) {
    const CliResult r =
        RunClipra({"-A500000:6200000:500138:6199902", dir_.Path(file), dir_.Path("o.ers")});
    EXPECT_NE(r.code, 0) << file;
    EXPECT_NE(r.err.find(words), std::string::npos) << file << ": " << r.err;
  }
}

// An ER Mapper grid as Geoscience Australia publishes them: geographic
// registration in degrees, minutes and seconds, a 512-byte block before the
// cells, a data file of another name and float cells. GDAL places it.
TEST_F(GdalSources, ErMapperGridOfOtherSoftware) {
  REQUIRE_GDAL_PYTHON();
  std::string cells(512, 'x');
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) cells += Le<float>({static_cast<float>(x * 10 + y) - 50.5f});
  dir_.WriteFile("grid.bin", cells);
  dir_.WriteFile("grid.ers",
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
  ASSERT_TRUE(Python(dir_, "gdal.Translate('ref.ers', 'grid.ers', format='ERS')"));
  ASSERT_EQ(ReadWithGdal(dir_, "grid.ers").geo.size(), 6u);
  const CliResult r = RunClipra({"--info", dir_.Path("grid.ers")});
  EXPECT_NE(r.out.find("First cell X Y:  109.1 -9.35\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("EPSG code:       4283\n"), std::string::npos) << r.out;
  for (const char* rect : {"109.5:-9.5:111:-12", "109.125:-9.375:110:-11"}) {
    const std::string want = Clip("ref.ers", rect, "want");
    EXPECT_FALSE(want.empty());
    EXPECT_TRUE(Clip("grid.ers", rect, "got") == want) << rect;
  }
}

// A BMP clip of a GDAL TIFF, clipped again at its own cell edges, comes back
// cell for cell.
TEST_F(GdalSources, BitmapOutputClipsBackAtItsOwnCellEdges) {
  REQUIRE_GDAL_PYTHON();
  ASSERT_TRUE(Python(dir_, "tif(source(3, B), 'COMPRESS=LZW')"));
  const std::string rect = "-A500020:6199980:500060:6199950";
  ASSERT_EQ(RunClipra({rect, dir_.Path("s.tif"), dir_.Path("a.bmp")}).code, 0);
  ASSERT_EQ(RunClipra({rect, dir_.Path("a.bmp"), dir_.Path("b.bmp")}).code, 0);
  const GdalView a = ReadWithGdal(dir_, "a.bmp");
  ASSERT_EQ(a.width, 21);
  ASSERT_EQ(a.height, 16);
  EXPECT_EQ(a.cells, ReadWithGdal(dir_, "b.bmp").cells);
}

double Signed16(uint32_t x, uint32_t y, uint32_t) {
  return x * 900.0 - y * 1100.0;
}
double Signed32(uint32_t x, uint32_t y, uint32_t) {
  return x * 9e6 - y * 1.1e7 - 3;
}
double Float(uint32_t x, uint32_t y, uint32_t) {
  return x * 0.25 - y * 1e5 - 0.5;
}
double Byte(uint32_t x, uint32_t y, uint32_t) {
  return x * 40 + y;
}

// A TIFF output names the source's system to GDAL (32635 is left for strings
// the table does not know), and signed and float cells go out with their
// sample format: GDAL reads the type, and the cells and placement of an ER
// Mapper clip, of the whole source and across its right and bottom edges.
TEST(GdalOutputs, TiffOutputsNameTheSystemAndKeepTheCells) {
  REQUIRE_GDAL_PYTHON();
  const struct {
    const char *projection, *datum;
    int east, north, epsg;
    const char *cell_type, *gdal_type;
    CellFn f;
  } cases[] = {
      {"\"NUTM33\"", "\"WGS84\"", 500000, 6200000, 32633, "Signed16BitInteger", "Int16", Signed16},
      {"\"SUTM33\"", "\"WGS84\"", 500000, 6200000, 32733, "Signed32BitInteger", "Int32", Signed32},
      {"\"EPSG:25833\"", "\"EPSG:25833\"", 500000, 6200000, 25833, "IEEE4ByteReal", "Float32",
       Float},
      {"\"GEODETIC\"", "\"GDA94\"", 150, -30, 4283, "Unsigned8BitInteger", "Byte", Byte},
      {"\"RAW\"", "\"RAW\"", 500000, 6200000, 32635, "Unsigned8BitInteger", "Byte", Byte},
      {"\"LOCAL\"", "\"MYDATUM\"", 500000, 6200000, 32635, "Unsigned8BitInteger", "Byte", Byte},
  };
  TempDir dir;
  std::string py = "from osgeo import gdal\n", want;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.projection);
    ErsSource s =
        Grid(5, 4, 1, "1", "1", std::to_string(c.east), std::to_string(c.north), c.cell_type);
    s.datum = c.datum;
    s.projection = c.projection;
    const std::string name = "s" + std::to_string(&c - cases);
    WriteSource(dir, name, s, c.f);
    for (const int past : {0, 1}) {
      const std::string rect =
          "-A" + std::to_string(c.east + past) + ":" + std::to_string(c.north - past) + ":" +
          std::to_string(c.east + 5 + 2 * past) + ":" + std::to_string(c.north - 4 - 2 * past);
      for (const char* ext : {".tif", ".ers"})
        ASSERT_EQ(RunClipra({rect, dir.Path(name + ".ers"), dir.Path("o" + name + ext)}).code, 0);
      const GdalView tif = ReadWithGdal(dir, "o" + name + ".tif");
      const GdalView ers = ReadWithGdal(dir, "o" + name + ".ers");
      ASSERT_FALSE(tif.cells.empty());
      EXPECT_EQ(tif.cells, ers.cells) << rect;
      // GDAL places no ER Mapper raster in the RAW system.
      if (std::string(c.projection) != "\"RAW\"") {
        EXPECT_EQ(tif.geo, ers.geo) << rect;
      }
    }
    py += "d = gdal.Open('" + dir.Path("o" + name + ".tif") + "')\nprint(d.GetSpatialRef()." +
          "GetAuthorityCode(None), gdal.GetDataTypeName(d.GetRasterBand(1).DataType))\n";
    want += std::to_string(c.epsg) + " " + c.gdal_type + "\n";
  }
  std::string out;
  ASSERT_TRUE(RunPython(dir, py, &out));
  EXPECT_EQ(want, out);
}

}  // namespace
}  // namespace clipra
