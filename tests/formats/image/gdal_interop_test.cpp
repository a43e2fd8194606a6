// Rasters made by GDAL and ImageMagick, in every layout, compression and
// cell type the readers take, are clipped, and GDAL reads the clips back:
// each cell is the nearest of the source's cells as GDAL reads them (ties
// to even, the background outside the source), and the origin is the
// rectangle's first corner.
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <tuple>

#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

// source() is 70 x 50 cells of 2 m from (500000, 6200000) unless told:
// several 16 x 16 tiles; ers() is 12 x 9 cells from (1000, 5000) unless told. dump()
// prints a file as GDAL reads it, a palette expanded to RGB unless grey: name,
// "type/EPSG[/compression/predictor/tile width]", size, bands, geotransform,
// then the cells.
constexpr const char* kPython = R"(from osgeo import gdal, osr
import numpy, os, subprocess
gdal.UseExceptions()
B, U16, I16 = gdal.GDT_Byte, gdal.GDT_UInt16, gdal.GDT_Int16
I32, F32 = gdal.GDT_Int32, gdal.GDT_Float32
def source(bands, kind, lo=0, mul=None, gt=(500000, 2, 0, 6200000, 0, -2), w=70, h=50, epsg=32755):
    ds = gdal.GetDriverByName('MEM').Create('', w, h, bands, kind)
    ds.SetGeoTransform(gt)
    srs = osr.SpatialReference(); srs.ImportFromEPSG(epsg); ds.SetProjection(srs.ExportToWkt())
    mul = mul or (251 if kind == U16 else 1)  # 16-bit values use both bytes
    for b in range(bands):
        v = lo + mul * ((numpy.add.outer(numpy.arange(h) * 13, numpy.arange(w) * 7) + b * 50) % 250)
        ds.GetRasterBand(b + 1).WriteArray(v / 4 if kind == F32 else v)
    return ds
def tif(ds, *options, to=None, tile=None, **kw):
    if tile: options += ('TILED=YES', 'BLOCKXSIZE=%d' % tile[0], 'BLOCKYSIZE=%d' % tile[1])
    gdal.Translate(to or name, ds, creationOptions=list(options), **kw)
def ers(bands, kind, cx=10, cy=10, *options, x=1000, y=5000, **kw):
    d = source(bands, kind, gt=(x, cx, 0, y, 0, -cy), w=12, h=9, **kw)
    tif(d, *options, format='ERS')
def big(bands, kind, lo=0, mul=None):
    tif(source(bands, kind, lo, mul, w=300, h=270), format='ERS')
def magick(*options):
    tif(source(3, B), to='m.ppm', format='PNM')
    subprocess.run(['convert', 'm.ppm', *options, 'BMP3:' + name], check=True)
    open(name[:-4] + '.wld', 'w').write('2\n0\n0\n-2\n500001\n6199999\n')
def dump(f):
    d = gdal.Open(f)
    b, srs, s = d.GetRasterBand(1), d.GetSpatialRef(), d.GetMetadata('IMAGE_STRUCTURE')
    info = [gdal.GetDataTypeName(b.DataType), srs and srs.GetAuthorityCode(None)]
    if 'COMPRESSION' in s: info += [s['COMPRESSION'], s.get('PREDICTOR'), b.GetBlockSize()[0]]
    ct = b.GetColorTable()
    if ct and any(len(set(ct.GetColorEntry(i)[:3])) > 1 for i in range(ct.GetCount())):
        d = gdal.Translate('', d, format='MEM', rgbExpand='rgb')
    print(f, '/'.join(map(str, info)).replace(' ', '_'), d.RasterXSize, d.RasterYSize,
          d.RasterCount, *d.GetGeoTransform(), *d.ReadAsArray().flatten().tolist())
)";

struct View : GdalView {
  std::string info;
};

// Runs `body` after kPython in `dir`; the rasters it dumped, by name.
std::map<std::string, View> Python(const TempDir& dir, const std::string& body) {
  std::string text;
  EXPECT_TRUE(RunPython(dir, kPython + ("os.chdir('" + dir.path() + "')\n") + body, &text));
  std::map<std::string, View> views;
  std::istringstream lines(text);
  for (std::string line, name; std::getline(lines, line);) {
    std::istringstream in(line);
    View& v = views[(in >> name, name)];
    v.geo.resize(6);
    in >> v.info >> v.width >> v.height >> v.bands;
    for (double& g : v.geo) in >> g;
    for (double c = 0; in >> c;) v.cells.push_back(c);
  }
  return views;
}

// Round cell edges, then every point between two cells (ties), then a
// window reaching beyond the source.
constexpr const char* kRects =
    "500020:6199980:500080:6199920 500021:6199979:500081:6199921 499990:6200010:500150:6199890";

struct Row {
  const char* file;
  const char* make;             // Python lines that write `file`, as `name`
  const char* output = ".ers";  // the clips' extension
  const char* rects = kRects;
  const char* options = "";  // for clipra
  const char* gdal = "";     // the output's info, when given
};

// Two tiles across and down, the last cells past the source.
constexpr const char* kBig = "500004:6199996:500600:6199460";
// An ers() source, and one more column and line.
constexpr const char* kEdge = "1000:5000:1120:4910";

const Row kRows[] = {
    {"lzw.tif", "tif(source(3, B, epsg=25833), 'COMPRESS=LZW', 'PREDICTOR=2')"},
    {"deflate.tif", "tif(source(1, U16), 'COMPRESS=DEFLATE', tile=(16, 16))"},
    {"packbits.tif", "tif(source(3, B), 'COMPRESS=PACKBITS', 'INTERLEAVE=BAND', tile=(32, 16))"},
    {"ycbcr.tif", "tif(source(3, B), 'COMPRESS=JPEG', 'PHOTOMETRIC=YCBCR', tile=(32, 32))"},
    {"zstd.tif", "tif(source(1, I16, -100), 'COMPRESS=ZSTD')"},
    {"lzma.tif", "tif(source(1, I32, -100000, 997), 'COMPRESS=LZMA')"},
    {"webp.tif", "tif(source(3, B), 'COMPRESS=WEBP', 'WEBP_LOSSLESS=YES')"},
    {"big.tif", "tif(source(1, F32), 'BIGTIFF=YES', 'COMPRESS=DEFLATE', 'PREDICTOR=3')"},
    {"int8.tif", "tif(source(1, B), 'PIXELTYPE=SIGNEDBYTE', 'COMPRESS=LZW')"},
    {"palette.tif",
     "ct = gdal.ColorTable(); ct.CreateColorRamp(0, (0, 255, 9), 255, (255, 0, 99))\n"
     "d = source(1, B); d.GetRasterBand(1).SetColorTable(ct); tif(d)"},
    {"point.tif", "tif(source(1, B), metadataOptions=['AREA_OR_POINT=Point'])"},
    {"tfw.tif", "tif(source(1, B), 'PROFILE=BASELINE', 'TFW=YES')"},
    {"world.jpg", "tif(source(3, B), 'WORLDFILE=YES', 'QUALITY=95', format='JPEG')"},
    // Uncompressed strips, which the baseline reader takes.
    {"le8.tif", "tif(source(1, B), 'ENDIANNESS=LITTLE', 'TFW=YES')", ".tif"},
    {"be8.tif", "tif(source(1, B), 'ENDIANNESS=BIG')", ".tif"},
    {"le16.tif", "tif(source(1, U16), 'ENDIANNESS=LITTLE', 'BLOCKYSIZE=2')", ".tif"},
    {"be16.tif", "tif(source(1, U16), 'ENDIANNESS=BIG', 'BLOCKYSIZE=1')", ".tif"},
    {"le_rgb.tif", "tif(source(3, B), 'ENDIANNESS=LITTLE', 'BLOCKYSIZE=2', 'TFW=YES')", ".tif"},
    {"be_p.tif", "tif(source(3, B), 'ENDIANNESS=BIG', 'INTERLEAVE=BAND', 'BLOCKYSIZE=2')", ".tif"},
    {"le16p.tif", "tif(source(3, U16), 'ENDIANNESS=LITTLE', 'INTERLEAVE=BAND', 'BLOCKYSIZE=1')",
     ".tif"},
    {"be16_rgb.tif", "tif(source(3, U16), 'ENDIANNESS=BIG', 'BLOCKYSIZE=3')", ".tif"},
    {"grey.bmp", "tif(source(1, B), 'WORLDFILE=YES', format='BMP')", ".tif"},
    {"rgb.bmp", "tif(source(3, B), 'WORLDFILE=YES', format='BMP')", ".tif"},
    {"magick.bmp", "magick()", ".tif"},
    {"magick_palette.bmp", "magick('+dither', '-type', 'Palette', '-compress', 'None')", ".tif"},
    {"to_bmp.tif", "tif(source(1, B))", ".bmp"},
    {"rgb_to_bmp.tif", "tif(source(3, B))", ".bmp"},
    {"ties.ers", "ers(3, B)", ".ers", "1015:4985:1105:4905"},
    {"outside.ers", "ers(1, B)", ".ers", "995:5005:1040:4960"},
    {"non_square.ers", "ers(1, I16, cy=5)", ".ers", "1000:5000:1090:4900"},
    {"u16.ers", "ers(2, U16, 2.5, 2.5)", ".ers", "1001:4999:1020:4980"},
    {"reversed.ers", "ers(1, I32)", ".ers", "1090:4910:1000:5000"},
    // GDAL names the cells "IEEE4ByteReal", and opens no other name for them.
    {"float.ers", "ers(1, F32)", ".ers", "1005:4995:1050:4950"},
    // A TIFF output names the source's system (32635 is left for strings the
    // table does not know) and gives signed and float cells their sample format.
    {"nutm.ers", "ers(1, I16, lo=-30000, mul=240, epsg=32633)", ".tif", kEdge, "", "Int16/32633"},
    {"sutm.ers", "ers(1, I32, lo=-2e9, mul=16e6, epsg=32733)", ".tif", kEdge, "", "Int32/32733"},
    {"etrs.ers", "ers(1, F32, lo=-5000, epsg=25833)", ".tif", kEdge, "", "Float32/25833"},
    {"gda.ers", "ers(1, B, 0.25, 0.25, x=150, y=-30, epsg=4283)", ".tif",
     "150.25:-30.25:153.5:-32.5", "", "Byte/4283"},
    {"local.ers", "ers(1, B, 10, 10, 'PROJ=LOCAL', 'DATUM=MYDATUM')", ".tif", kEdge, "",
     "Byte/32635"},
    // Compressed tiles through libtiff.
    {"c16.ers", "big(1, I16, -30000, 240)", ".tif", kBig, "--compress zstd",
     "Int16/32755/ZSTD/2/256"},
    {"c32.ers", "big(1, F32)", ".tif", kBig, "--compress deflate", "Float32/32755/DEFLATE/3/256"},
    {"c8.ers", "big(3, B)", ".tif", kBig, "--compress lzw", "Byte/32755/LZW/2/256"},
    // Written below, as Geoscience Australia publishes its grids.
    {"grid.ers", "", ".ers", "109.5:-9.5:111:-12 109.125:-9.375:110:-11"},
};

TEST(GdalInterop, ClipsTheNearestCellsAndGdalReadsTheClips) {
  REQUIRE_GDAL_PYTHON();
  REQUIRE_TOOL("convert");
  REQUIRE_TOOL("tiffinfo");
  TempDir dir;
  // Geographic registration in degrees, minutes and seconds, a 512-byte
  // block before the cells, a data file of another name and float cells.
  std::string cells(512, 'x');
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) cells += Le<float>({static_cast<float>(x * 10 + y) - 50.5f});
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
  // Command-line arguments from words; those with a dot that are no options
  // name files in `dir`.
  const auto args = [&dir](const std::string& words) {
    std::vector<std::string> list;
    std::istringstream in(words);
    for (std::string a; in >> a;)
      list.push_back(a[0] == '-' || a.find('.') == a.npos ? a : dir.Path(a));
    return list;
  };
  std::string make, show;
  for (const Row& row : kRows)
    make += std::string("name = '") + row.file + "'\n" + row.make + "\ndump(name)\n";
  const std::map<std::string, View> sources = Python(dir, make);
  // Each row's rectangles, and the clips' names.
  std::vector<std::tuple<const Row&, std::string, std::string>> clips;
  for (const Row& row : kRows) {
    std::istringstream rects(row.rects);
    int k = 0;
    for (std::string rect; rects >> rect; ++k)
      clips.emplace_back(row, rect, row.file + std::to_string(k) + row.output);
  }
  std::string tiffs;
  for (const auto& [row, rect, out] : clips) {
    const CliResult r = RunClipra(
        args(std::string(row.options) + " -A" + rect + " -B7:8:9 " + row.file + " " + out));
    ASSERT_EQ(r.code, 0) << out << ": " << r.err;
    EXPECT_EQ(r.out.find("Note:"), std::string::npos) << r.out;
    show += "dump('" + out + "')\n";
    if (std::string(row.output) == ".tif") tiffs += " " + ShellQuote(dir.Path(out));
  }
  // A BMP clip clipped again at its own cell edges comes back cell for cell.
  ASSERT_EQ(RunClipra(args("-A500020:6199980:500080:6199920 rgb_to_bmp.tif0.bmp back.bmp")).code,
            0);
  const std::map<std::string, View> outputs = Python(dir, show + "dump('back.bmp')\n");
  EXPECT_EQ(outputs.at("back.bmp").cells, outputs.at("rgb_to_bmp.tif0.bmp").cells);
  for (const auto& [row, rect, name] : clips) {
    SCOPED_TRACE(name + " " + rect);
    const View& s = sources.at(row.file);
    const View& out = outputs.at(name);
    const double cx = s.geo[1], cy = -s.geo[5];
    double tlx = 0, tly = 0, brx = 0, bry = 0;
    std::sscanf(rect.c_str(), "%lf:%lf:%lf:%lf", &tlx, &tly, &brx, &bry);
    // GDAL takes a world file's numbers as the centre of cell (0, 0).
    const double half = std::string(row.output) == ".bmp" ? cx / 2 : 0;
    EXPECT_EQ(out.geo, (std::vector<double>{tlx - half, cx, 0, tly + half, 0, -cx}));
    const int ow = static_cast<int>(std::trunc(std::fabs(brx - tlx) / cx)) + 1;
    const int oh = static_cast<int>(std::trunc(std::fabs(bry - tly) / cx)) + 1;
    ASSERT_EQ(std::vector<int>({ow, oh, s.bands}),
              std::vector<int>({out.width, out.height, out.bands}));
    std::vector<double> want;
    for (int b = 0; b < s.bands; ++b)
      for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
          const double mx = static_cast<double>(static_cast<long double>(x) * cx + tlx);
          const double my = static_cast<double>(tly - static_cast<long double>(y) * cx);
          uint32_t col = 0, line = 0;
          want.push_back(s.bands == 3 ? 7 + b : 0);
          if (MapToIndex(mx, s.geo[0], cx, +1, col) && col < static_cast<uint32_t>(s.width) &&
              MapToIndex(my, s.geo[3], cy, -1, line) && line < static_cast<uint32_t>(s.height))
            want.back() = s.cells[(size_t(b) * s.height + line) * s.width + col];
        }
    EXPECT_EQ(want, out.cells);
    EXPECT_TRUE(!*row.gdal || out.info == row.gdal) << out.info;
  }
  std::string report;
  EXPECT_EQ(RunCommand("tiffinfo" + tiffs + " 2>&1", &report), 0);
  EXPECT_EQ(report.find("rror"), std::string::npos) << report;

  // GDAL's EPSG code names the system; a world file one cell off the tags wins,
  // and the note says what the tags said. Bad options and damaged files
  // (a strip cut short or garbled, tiles cut short) give messages.
  dir.WriteFile("lzw.tfw", "2\n0\n0\n-2\n500003\n6199999\n");
  const std::string lzw = dir.ReadFile("lzw.tif"), tiles = dir.ReadFile("deflate.tif");
  dir.WriteFile("cut.tif", lzw.substr(0, lzw.size() - 300));
  dir.WriteFile("garbled.tif", lzw.substr(0, 700) + std::string(300, '\xFF') + lzw.substr(1000));
  dir.WriteFile("cut_tiles.tif", tiles.substr(0, tiles.size() - 300));
  const std::string rect = "-A500000:6200000:500010:6199990 ";
  // Arguments, the exit code and words of the output.
  const std::tuple<std::string, int, const char*> runs[] = {
      {"--info lzw.tif", 0, "Projection:      EPSG:25833\n"},
      {"--info lzw.tif", 0, "EPSG code:       25833\n"},
      {"--info lzw.tif", 0, "First cell X Y:  500002 6200000\n"},
      {"--info grid.ers", 0, "First cell X Y:  109.1 -9.35\n"},
      {"--info grid.ers", 0, "EPSG code:       4283\n"},
      {rect + "lzw.tif o.ers", 0,
       "Note: The world file lzw.tfw overrides the GeoTIFF tags, which put the top-left corner at "
       "500000 6200000 with cells of 2 x 2; the world file puts it at 500002 6200000"},
      {"--compress jpeg " + rect + "lzw.tif no.tif", 2,
       "clipra-cli: --compress takes lzw, deflate or zstd, not jpeg"},
      {"--compress lzw " + rect + "lzw.tif no.ers", 2,
       "clipra-cli: --compress goes with TIFF outputs only: "},
      {rect + "cut.tif o.ers", 1, "ends past the end of the file"},
      {rect + "garbled.tif o.ers", 1, "Strip 0 cannot be decoded: "},
      {rect + "cut_tiles.tif o.ers", 1, "Tile "},
  };
  for (const auto& [words, code, output] : runs) {
    const CliResult r = RunClipra(args(words));
    EXPECT_EQ(r.code, code) << words;
    EXPECT_NE((r.out + r.err).find(output), std::string::npos) << r.out << r.err;
  }
  EXPECT_FALSE(FileExists(dir.Path("no.tif")) || FileExists(dir.Path("no.ers")));
}

}  // namespace
}  // namespace clipra
