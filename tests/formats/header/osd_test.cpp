#include "formats/header/osd.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "dataset/control_points.h"
#include "dataset/identify.h"
#include "dataset/output.h"
#include "dataset/source.h"
#include "dataset/utils.h"
#include "formats/header/ers.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

constexpr const char* kStamp = "Sat Dec 05 16:46:03 GMT 2026";

// The value of the time-stamp line.
std::string TimeStampOf(const std::string& text) {
  const size_t value = text.find("= ", text.find("  LastUpdated ")) + 2;
  return text.substr(value, text.find("\r\n", value) - value);
}

// The header text with the value of its time-stamp line replaced by "*".
std::string WithoutTimeStamp(std::string text) {
  if (text.find("  LastUpdated ") == std::string::npos) return text;
  const size_t value = text.find("= ", text.find("  LastUpdated ")) + 2;
  return text.replace(value, TimeStampOf(text).size(), "*");
}

std::string CrLf(const std::string& lf_text) {
  std::string out;
  for (char c : lf_text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

ControlPoint Point(const std::string& line) {
  return *ControlPoint::CreateFromLine(line);
}

TEST(OsdWriter, RawOutputHeaderTemplate) {
  TempDir dir;
  {
    Output out(dir.Path("raw.osd"), 300, 200, CellType::kUnsigned8, 3, 1);
    out.SetGeoreference({0.5, 0.5, 0, 0, 4521.12345, 10, "BESSEL", "\"RAW\"", "RAW"});
  }
  const std::string text = dir.ReadFile("raw.osd");
  EXPECT_EQ(CrLf(R"(OrthoSetDataHeader [
  Version      = 1.0
  LastUpdated  = *
  DataSetType  = OrthoSetData
  ByteOrder = LSBFirst
  CoordinateSystem [
    Datum      = "RAW"
    Projection = "RAW"
    CoordinateType  = RAW
  CoordinateSystem ]
  ImageInfo [
    CellType   = UNSIGNED8BITINTEGER
    NrOfLines  = 200
    NrOfCellsPerLine = 300
    NrOfBands = 3
  ImageInfo ]
OrthoSetDataHeader ]
)"),
            WithoutTimeStamp(text));
  // The writer's stamp: local time labelled GMT, English names whatever the locale.
  EXPECT_TRUE(std::regex_match(
      TimeStampOf(text),
      std::regex(
          R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec))"
          R"( \d\d \d\d:\d\d:\d\d GMT \d{4})")))
      << TimeStampOf(text);
  EXPECT_EQ(180000u, dir.ReadFile("raw").size());
}

TEST(OsdWriter, EnOutputWithControlPoints) {
  TempDir dir;
  {
    Output out(dir.Path("en.osd"), 2, 1, CellType::kSigned16, 1, 1);
    out.SetGeoreference({2, 2, 0, 0, 4521.12345, 6100000.5, "KRASSOVSKY", "S42", "GK"});
    const ControlPoint p1 = Point("P1 Yes 1 2.5 300 400.25 9");
    const ControlPoint p2 = Point("\"\" No");
    out.GetWriter()->AddControlPoint(&p1);
    out.GetWriter()->AddControlPoint(&p2);
  }
  EXPECT_EQ(CrLf("OrthoSetDataHeader [\n"
                 "  Version      = 1.0\n"
                 "  LastUpdated  = *\n"
                 "  DataSetType  = OrthoSetData\n"
                 "  ByteOrder = LSBFirst\n"
                 "  CoordinateSystem [\n"
                 "    Datum      = \"S42\"\n"
                 "    Projection = \"GK\"\n"
                 "    Spheroid = \"KRASSOVSKY\"\n"
                 "    Units      = \"METERS\"\n"
                 "    CoordinateType  = EN\n"
                 "  CoordinateSystem ]\n"
                 "  ImageInfo [\n"
                 "    CellType   = SIGNED16BITINTEGER\n"
                 "    Xdimension = 2.000\n"
                 "    Ydimension = 2.000\n"
                 "    NrOfLines  = 1\n"
                 "    NrOfCellsPerLine = 2\n"
                 "    RegistrationPoint [\n"
                 "      Eastings  = 4521.123\n"
                 "      Northings = 6100000.500\n"
                 "    RegistrationPoint ]\n"
                 "    RegistrationCellX\t= 0.000\n"
                 "    RegistrationCellY\t= 0.000\n"
                 "    NrOfBands = 1\n"
                 "    WarpControl [\n"
                 "      CoordinateSpace [\n"
                 "        Datum      = \"\"\n"
                 "        Projection = \"\"\n"
                 "        Spheroid = \"\"\n"
                 "        Units      = \"METERS\"\n"
                 "        CoordinateType  = EN\n"
                 "      CoordinateSpace ]\n"
                 "      ControlPoints\t= {\n"
                 "\t\t\tP1 Yes 1.000 2.500 300.000 400.250 9.000\n"
                 "\t\t\t\"\" No 0.000 0.000 0.000 0.000 0.000\n"
                 "      }\n"
                 "    WarpControl ]\n"
                 "  ImageInfo ]\n"
                 "OrthoSetDataHeader ]\n"),
            WithoutTimeStamp(dir.ReadFile("en.osd")));
}

TEST(OsdHeader, FamiliesDifferInStampLabelNamesAndCounts) {
  OsdOutputHeader writer("w.osd");
  OsdHeader reader;
  for (KeywordHeader* h :
       {static_cast<KeywordHeader*>(&writer), static_cast<KeywordHeader*>(&reader)}) {
    h->Lines = -1;
    h->Width = 7;
  }
  const std::string w = writer.Compose(kStamp);
  const std::string r = reader.Compose(kStamp);
  EXPECT_NE(std::string::npos, w.find("\r\n  LastUpdated  = Sat Dec 05 16:46:03 GMT 2026\r\n"));
  EXPECT_NE(std::string::npos, r.find("\r\n  LastUpdated = Sat Dec 05 16:46:03 GMT 2026\r\n"));
  EXPECT_NE(std::string::npos, w.find("NrOfLines  = -1\r\n"));
  EXPECT_NE(std::string::npos, r.find("NrOfLines  = 4294967295\r\n"));
}

TEST(OsdHeader, RawWarpSpaceDropsTheWarpSpheroidAndUnits) {
  OsdOutputHeader h("w.osd");
  h.Georef.Datum = h.Georef.Spheroid = "WGS84";
  h.Georef.Projection = "UTM";
  h.WarpDatum = "RAW";
  h.WarpProjection = "\"RAW\"";
  h.WarpSpheroid = "GRS80";
  const ControlPoint p = Point("A Yes 1 2 3 4 5");
  h.ControlPoints->AddPoint(&p);
  const std::string text = h.Compose(kStamp);
  EXPECT_NE(std::string::npos, text.find("    Spheroid = \"WGS84\"\r\n"));
  EXPECT_NE(std::string::npos, text.find("        Datum      = \"RAW\"\r\n"
                                         "        Projection = \"RAW\"\r\n"
                                         "        CoordinateType  = EN\r\n"));
  EXPECT_EQ(std::string::npos, text.find("GRS80"));
  EXPECT_EQ(CoordinateType::kRaw, h.GetCoordinateType());
}

TEST(OsdWriter, EveryNameWithoutItsOwnWriterBecomesAZeroedOsd) {
  TempDir dir;
  const char* cases[][3] = {{"a.osd", "a.osd", "a"},
                            {"b.jpg", "b.jpg", "b"},
                            {"d", "d.osd", "d"},
                            {"e.xyz", "e.xyz", "e"},
                            {"f.veg", "f.veg", "f"}};
  for (const auto& [given, header, data] : cases) {
    { Output out(dir.Path(given), 3, 2, CellType::kSigned16, 1, 1); }
    EXPECT_EQ(0u, dir.ReadFile(header).rfind("OrthoSetDataHeader [\r\n", 0)) << given;
    EXPECT_EQ(std::string(12, '\0'), dir.ReadFile(data)) << given;
    EXPECT_EQ(FormatCode::kOsd, IdentifyExisting(dir.Path(header))) << given;
  }
  // Without a georeference the header holds the defaults.
  const std::string text = dir.ReadFile("a.osd");
  for (const char* line : {"    Spheroid = \"\"\r\n", "    Xdimension = 1.000\r\n",
                           "      Eastings  = 0.000\r\n", "    RegistrationCellY\t= 0.000\r\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line;
}

TEST(OsdWriter, FailuresArriveWithTheirMessages) {
  TempDir dir;
  EXPECT_EQ("Open map write error=2 No such file or directory", ThrownText<DatasetError>([&] {
              Output out(dir.Path("nofolder/x.osd"), 1, 1, CellType::kUnsigned8, 1, 1);
            }));
  auto message = [&](const char* name, uint8_t mode) {
    return ThrownText<OsdError>(
        [&] { OsdWriter map(dir.Path(name), 0, 0, CellType::kUnsigned8, 1, mode); });
  };
  EXPECT_EQ("Open Header Read Error", message("none.osd", 0));
  dir.WriteFile("nodata.osd", "OrthoSetDataHeader [\nNrOfBands = 1\n");
  EXPECT_EQ("Open Map Read Error=2 No such file or directory", message("nodata.osd", 0));
  EXPECT_EQ("Open Map update error=2 No such file or directory", message("nodata.osd", 2));
}

TEST(OsdReader, KeywordsSpheroidsAndControlPoints) {
  TempDir dir;
  // Keywords in any case, a decimal comma, a non-number and a warp block.
  dir.WriteFile("h.osd",
                "OrthoSetDataHeader [\r\n coordinatesystem [\n"
                "  datum= \"s42\" \n  projection = gk\n  spheroid = bessel\n"
                "  coordinatetype = en\n coordinatesystem ]\n imageinfo [\n"
                "  xdimension=  25,5  \n  YDimension = letters\n"
                "  nrofcellsperline = 2\n  NrOfLines  = 1\n  NrOfBands = 2\n"
                "  CellType   = Signed16BitInteger\n  ByteOrder = MSBFirst\n"
                "  Eastings  = 100\n  Northings = 200\n  RegistrationCellX\t= 1\n"
                "  WarpControl [\n   CoordinateSpace [\n    Datum = \"WGS84\"\n"
                "    Spheroid = krassovsky\n    CoordinateType = latlong\n   CoordinateSpace ]\n"
                "   ControlPoints\t= {\n\t\t\tpa Yes 1 2 3 4 5\n\t\t\tpb No 6 7 8 9 10\n   }\n"
                "  WarpControl ]\n imageinfo ]\nOrthoSetDataHeader ]\n");
  // Two bands of two cells, most significant byte first.
  dir.WriteFile("h", std::string("\xFF\xFE\x00\x07\x01\x00\x00\x80", 8));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("h.osd"))) << in.GetErrorText();
  auto& r = static_cast<OsdReader&>(*in.GetReader());
  EXPECT_EQ(25.5, r.GetCellSizeX());
  EXPECT_EQ("\"S42\"", r.GetGeoreference().Datum);
  EXPECT_EQ("\"WGS84\"", r.Header->WarpDatum);
  // The last spheroid line wins for both fields.
  EXPECT_EQ("KRASSOVSKY", r.GetGeoreference().Spheroid);
  EXPECT_EQ("KRASSOVSKY", r.Header->WarpSpheroid);
  EXPECT_EQ(CoordinateType::kEn, r.GetCoordinateType());
  EXPECT_EQ(CoordinateType::kLatLong, r.Header->WarpCoordinateType);
  EXPECT_EQ(100 - 25.5, r.GetLeftX());
  ASSERT_EQ(2, r.GetControlPoints()->Count());
  EXPECT_EQ("PB No 6.000 7.000 8.000 9.000 10.000", r.GetControlPoints()->Point(1)->ToLine());
  EXPECT_EQ(10, r.GetControlPoints()->MaxZ);
  float v = 0;
  ASSERT_TRUE(r.GetCell(1, 0, 1, v));
  EXPECT_EQ(128, v);
}

TEST(OsdReader, EachReaderRefusesTheOthersHeader) {
  TempDir dir;
  ErsSource ers;
  ers.data = "x";
  ers.Write(dir.Path("e"));
  dir.WriteFile("o.osd",
                "OrthoSetDataHeader [\nNrOfBands = 1\nNrOfLines = 1\nNrOfCellsPerLine = 1\n");
  dir.WriteFile("o", "y");
  const std::string refused = "Header " + ShortenPath(dir.Path("e.osd"), 20) + " reading error ";
  OsdReader osd;
  EXPECT_FALSE(osd.Open(dir.Path("e.ers")));
  EXPECT_EQ(refused, osd.ErrorText);
  dir.WriteFile("e.osd", ers.HeaderText());
  EXPECT_FALSE(osd.Open(dir.Path("e.osd")));
  EXPECT_EQ(refused, osd.ErrorText);
  dir.WriteFile("o.ers", dir.ReadFile("o.osd"));
  ErsReader er;
  EXPECT_FALSE(er.Open(dir.Path("o.ers")));
  OsdReader good;
  EXPECT_TRUE(good.Open(dir.Path("o.osd"))) << good.ErrorText;
  dir.WriteFile("b.osd", "OrthoSetDataHeader [\n  NrOfCellsPerLine = 12a\n");
  dir.WriteFile("b", "abc");
  Source in;
  EXPECT_FALSE(in.Open(dir.Path("b.osd")));
  EXPECT_EQ("Header value of NrOfCellsPerLine is not a valid count: '12A'", in.GetErrorText());
}

TEST(OsdReader, DataFileNamedDirectlyFindsItsHeaderWhateverItsFirstBytes) {
  TempDir dir;
  dir.WriteFile("o.osd",
                "OrthoSetDataHeader [\r\n  CellType   = Unsigned8BitInteger\r\n"
                "  NrOfLines  = 2\r\n  NrOfCellsPerLine = 4\r\n  NrOfBands = 1\r\n");
  dir.WriteFile("o", "ORTHabcd");  // cells that happen to spell the signature
  OsdReader r;
  ASSERT_TRUE(r.Open(dir.Path("o"))) << r.ErrorText;
  EXPECT_EQ(dir.Path("o.osd"), r.Header->FileName);
  float v = 0;
  ASSERT_TRUE(r.GetCell(0, 1, 0, v));
  EXPECT_EQ('a', v);
}

TEST(OsdRoundTrip, WriterThenReaderKeepsCellsGeoreferenceAndControlPoints) {
  TempDir dir;
  {
    Output out(dir.Path("rt.jpg"), 3, 2, CellType::kFloat32, 2, 1);
    out.SetGeoreference({2.5, 2.5, 0, 0, 500000.25, 6100000, "GRS80", "\"ETRS89\"", "UTM33"});
    const ControlPoint p = Point("gcp1 Yes 1.5 2 500001 6099999 12.25");
    out.GetWriter()->AddControlPoint(&p);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t b = 0; b < 2; ++b)
        for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, b, 100.0 * b + 10 * y + x + 0.25);
  }
  EXPECT_EQ((std::vector<float>{0.25f, 1.25f, 2.25f, 100.25f, 101.25f, 102.25f, 10.25f, 11.25f,
                                12.25f, 110.25f, 111.25f, 112.25f}),
            ReadAllCells(dir.Path("rt.jpg")));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("rt.jpg"))) << in.GetErrorText();
  RasterReader& r = *in.GetReader();
  EXPECT_EQ(500000.25, r.GetLeftX());
  EXPECT_EQ(2.5, r.GetCellSizeY());
  // The warp block's spheroid line is read last and wins, even when empty.
  EXPECT_EQ("\"\"", r.GetGeoreference().Spheroid);
  EXPECT_EQ("\"ETRS89\"", r.GetGeoreference().Datum);
  ASSERT_EQ(1, r.GetControlPoints()->Count());
  // Headers are read upper-cased.
  EXPECT_EQ("GCP1 Yes 1.500 2.000 500001.000 6099999.000 12.250",
            r.GetControlPoints()->Point(0)->ToLine());
}

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return static_cast<double>(x * 3 + y * 7 + b * 50) - 60;
}

double Positive(uint32_t x, uint32_t y, uint32_t b) {
  return Pattern(x, y, b) + 60;
}

// Clips a source into an OrthoSetData output, from its header back into ER
// Mapper, and straight into ER Mapper; both must hold the same cells.
TEST(OsdCli, ClipThroughOsdMatchesDirectErsClip) {
  const struct {
    uint32_t width, lines, bands;
    const char *cell_type, *cell_size, *eastings, *northings;
    bool msb_first;
    double (*cells)(uint32_t, uint32_t, uint32_t);
    const char *rect, *osd_name, *osd_header;
  } cases[] = {{9, 7, 2, "Signed16BitInteger", "10", "1000", "5000", true, Pattern,
                "-A1015:4985:1075:4935", "clip.jpg", "clip.jpg"},
               // Three bands partly outside the source: the background colour.
               {6, 5, 3, "Unsigned8BitInteger", "2.5", "300", "800", false, Positive,
                "-A295:805:310:792", "clip", "clip.osd"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.rect);
    TempDir dir;
    ErsSource s;
    s.width = k.width;
    s.lines = k.lines;
    s.bands = k.bands;
    s.cell_type = k.cell_type;
    s.msb_first = k.msb_first;
    s.cell_size_x = s.cell_size_y = k.cell_size;
    s.eastings = k.eastings;
    s.northings = k.northings;
    s.data = MakeCells(s, k.cells);
    s.Write(dir.Path("src"));
    const std::string source = dir.Path("src.ers");
    CliResult r = RunClipra({k.rect, "-B7:8:9", source, dir.Path(k.osd_name)});
    ASSERT_EQ(0, r.code) << r.err;
    r = RunClipra({k.rect, dir.Path(k.osd_header), dir.Path("back.ers")});
    ASSERT_EQ(0, r.code) << r.err;
    r = RunClipra({k.rect, "-B7:8:9", source, dir.Path("direct.ers")});
    ASSERT_EQ(0, r.code) << r.err;
    uint32_t w1 = 0, w2 = 0;
    const std::vector<float> direct = ReadAllCells(dir.Path("direct.ers"), &w2);
    ASSERT_FALSE(direct.empty());
    EXPECT_EQ(direct, ReadAllCells(dir.Path("back.ers"), &w1));
    EXPECT_EQ(w2, w1);
    Source a, b;
    ASSERT_TRUE(a.Open(dir.Path("back.ers")));
    ASSERT_TRUE(b.Open(dir.Path("direct.ers")));
    EXPECT_EQ(b.GetReader()->GetLeftX(), a.GetReader()->GetLeftX());
    EXPECT_EQ(b.GetReader()->GetTopY(), a.GetReader()->GetTopY());
  }
}

TEST(OsdGdal, GdalReadsTheDataFileAsBandInterleavedByLine) {
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  {
    Output out(dir.Path("g.osd"), 3, 2, CellType::kSigned16, 2, 1);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t b = 0; b < 2; ++b)
        for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, b, Pattern(x, y, b) * 10);
  }
  // GDAL has no OrthoSetData driver; an ENVI header describes the data file.
  dir.WriteFile("g.hdr",
                "ENVI\nsamples = 3\nlines = 2\nbands = 2\nheader offset = 0\n"
                "data type = 2\ninterleave = bil\nbyte order = 0\n");
  for (uint32_t b = 0; b < 2; ++b) {
    const std::string xyz = "b" + std::to_string(b) + ".xyz";
    ASSERT_EQ(0, RunCommand("gdal_translate -q -of XYZ -b " + std::to_string(b + 1) + " " +
                            ShellQuote(dir.Path("g")) + " " + ShellQuote(dir.Path(xyz))));
    std::istringstream in(dir.ReadFile(xyz));
    double gx = 0, gy = 0, v = 0;
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x) {
        ASSERT_TRUE(in >> gx >> gy >> v);
        EXPECT_EQ(Pattern(x, y, b) * 10, v) << "band " << b << " at " << x << "," << y;
      }
  }
}

}  // namespace
}  // namespace clipra
