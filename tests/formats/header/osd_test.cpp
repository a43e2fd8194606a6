#include "formats/header/osd.h"

#include <cstdio>
#include <regex>

#include "dataset/control_points.h"
#include "formats/header/ers.h"
#include "support/ers_builder.h"
#include "support/format_test.h"

namespace clipra {
namespace {

constexpr const char* kStamp = "Sat Dec 05 16:46:03 GMT 2026";

// The value of the time-stamp line.
std::string TimeStampOf(const std::string& text) {
  const size_t value = text.find("= ", text.find("  LastUpdated ")) + 2;
  return text.substr(value, text.find("\r\n", value) - value);
}

// The time-stamp label as the writer family spells it.
constexpr const char* kStampKey = "  LastUpdated  = ";

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
  EXPECT_EQ(
      CrLf("OrthoSetDataHeader [\n  Version      = 1.0\n  LastUpdated  = *\n"
           "  DataSetType  = OrthoSetData\n  ByteOrder = LSBFirst\n  CoordinateSystem [\n"
           "    Datum      = \"RAW\"\n    Projection = \"RAW\"\n    CoordinateType  = RAW\n"
           "  CoordinateSystem ]\n  ImageInfo [\n    CellType   = UNSIGNED8BITINTEGER\n"
           "    NrOfLines  = 200\n    NrOfCellsPerLine = 300\n    NrOfBands = 3\n  ImageInfo ]\n"
           "OrthoSetDataHeader ]\n"),
      BlankValue(text, kStampKey));
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
  EXPECT_EQ(
      CrLf("OrthoSetDataHeader [\n  Version      = 1.0\n  LastUpdated  = *\n"
           "  DataSetType  = OrthoSetData\n  ByteOrder = LSBFirst\n  CoordinateSystem [\n"
           "    Datum      = \"S42\"\n    Projection = \"GK\"\n    Spheroid = \"KRASSOVSKY\"\n"
           "    Units      = \"METERS\"\n    CoordinateType  = EN\n  CoordinateSystem ]\n"
           "  ImageInfo [\n    CellType   = SIGNED16BITINTEGER\n    Xdimension = 2.000\n"
           "    Ydimension = 2.000\n    NrOfLines  = 1\n    NrOfCellsPerLine = 2\n"
           "    RegistrationPoint [\n      Eastings  = 4521.123\n      Northings = 6100000.500\n"
           "    RegistrationPoint ]\n    RegistrationCellX\t= 0.000\n"
           "    RegistrationCellY\t= 0.000\n    NrOfBands = 1\n    WarpControl [\n"
           "      CoordinateSpace [\n        Datum      = \"\"\n        Projection = \"\"\n"
           "        Spheroid = \"\"\n        Units      = \"METERS\"\n"
           "        CoordinateType  = EN\n      CoordinateSpace ]\n      ControlPoints\t= {\n"
           "\t\t\tP1 Yes 1.000 2.500 300.000 400.250 9.000\n"
           "\t\t\t\"\" No 0.000 0.000 0.000 0.000 0.000\n      }\n    WarpControl ]\n"
           "  ImageInfo ]\nOrthoSetDataHeader ]\n"),
      BlankValue(dir.ReadFile("en.osd"), kStampKey));
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
                            {"b.jpgw", "b.jpgw", "b"},
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
  // The last spheroid line wins for both fields.
  EXPECT_EQ("25.5 1, 74.5 200, GK \"S42\" KRASSOVSKY, cell 1 0 at 100 200", Placement(r));
  EXPECT_EQ("\"WGS84\" KRASSOVSKY", r.Header->WarpDatum + " " + r.Header->WarpSpheroid);
  EXPECT_EQ(CoordinateType::kEn, r.GetCoordinateType());
  EXPECT_EQ(CoordinateType::kLatLong, r.Header->WarpCoordinateType);
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
    Output out(dir.Path("rt.osd"), 3, 2, CellType::kFloat32, 2, 1);
    out.SetGeoreference({2.5, 2.5, 0, 0, 500000.25, 6100000, "GRS80", "\"ETRS89\"", "UTM33"});
    const ControlPoint p = Point("gcp1 Yes 1.5 2 500001 6099999 12.25");
    out.GetWriter()->AddControlPoint(&p);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t b = 0; b < 2; ++b)
        for (uint32_t x = 0; x < 3; ++x) out.PutValue(x, y, b, 100.0 * b + 10 * y + x + 0.25);
  }
  // Stored under ".jpg", the header still reads as OrthoSetData.
  std::rename(dir.Path("rt.osd").c_str(), dir.Path("rt.jpg").c_str());
  EXPECT_EQ((std::vector<float>{0.25f, 1.25f, 2.25f, 100.25f, 101.25f, 102.25f, 10.25f, 11.25f,
                                12.25f, 110.25f, 111.25f, 112.25f}),
            ReadAllCells(dir.Path("rt.jpg")));
  Source in;
  ASSERT_TRUE(in.Open(dir.Path("rt.jpg"))) << in.GetErrorText();
  RasterReader& r = *in.GetReader();
  // The warp block's spheroid line is read last and wins, even when empty.
  EXPECT_EQ("2.5 2.5, 500000.25 6100000, \"UTM33\" \"ETRS89\" \"\"", Placement(r));
  ASSERT_EQ(1, r.GetControlPoints()->Count());
  // Headers are read upper-cased.
  EXPECT_EQ("GCP1 Yes 1.500 2.000 500001.000 6099999.000 12.250",
            r.GetControlPoints()->Point(0)->ToLine());
}

}  // namespace
}  // namespace clipra
