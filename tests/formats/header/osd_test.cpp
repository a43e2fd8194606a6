#include "formats/header/osd.h"

#include "support/format_test.h"

namespace clipra {
namespace {

constexpr const char* kStamp = "Sat Dec 05 16:46:03 GMT 2026";

// The families differ in the stamp's label and in how they print counts. A
// RAW warp space drops the warp spheroid and units, and makes the raster RAW.
TEST(OsdHeader, ComposeLabelsCountsAndRawWarpSpace) {
  OsdOutputHeader h("w.osd");
  OsdHeader reader;
  h.Lines = reader.Lines = -1;
  h.Georef.Datum = h.Georef.Spheroid = "WGS84";
  h.Georef.Projection = "UTM";
  h.WarpDatum = "RAW";
  h.WarpProjection = "\"RAW\"";
  h.WarpSpheroid = "GRS80";
  h.ControlPoints->AddPoint(ControlPoint::CreateFromLine("A Yes 1 2 3 4 5").get());
  const std::string text = h.Compose(kStamp), r = reader.Compose(kStamp);
  EXPECT_NE(std::string::npos, r.find("\r\n  LastUpdated = Sat Dec 05 16:46:03 GMT 2026\r\n"));
  EXPECT_NE(std::string::npos, text.find("NrOfLines  = -1\r\n"));
  EXPECT_NE(std::string::npos, r.find("NrOfLines  = 4294967295\r\n"));
  EXPECT_NE(std::string::npos, text.find("    Spheroid = \"WGS84\"\r\n"));
  EXPECT_NE(std::string::npos,
            text.find("        Datum      = \"RAW\"\r\n        Projection = \"RAW\"\r\n"
                      "        CoordinateType  = EN\r\n"));
  EXPECT_EQ(std::string::npos, text.find("GRS80"));
  EXPECT_EQ(CoordinateType::kRaw, h.GetCoordinateType());
}

TEST(OsdWriter, EveryNameWithoutItsOwnWriterBecomesAZeroedOsd) {
  TempDir dir;
  const char* cases[][3] = {
      {"a.osd", "a.osd", "a"}, {"b.jpgw", "b.jpgw", "b"}, {"d", "d.osd", "d"},
      {"e.xyz", "e.xyz", "e"}, {"f.veg", "f.veg", "f"},
  };
  for (const auto& [given, header, data] : cases) {
    { Output out(dir.Path(given), 3, 2, CellType::kSigned16, 1, 1); }
    EXPECT_EQ(0u, dir.ReadFile(header).rfind("OrthoSetDataHeader [\r\n", 0)) << given;
    EXPECT_EQ(std::string(12, '\0'), dir.ReadFile(data)) << given;
  }
  // Without a georeference the header holds the defaults.
  const std::string text = dir.ReadFile("a.osd");
  for (const char* line : {"    Spheroid = \"\"\r\n", "    Xdimension = 1.000\r\n",
                           "      Eastings  = 0.000\r\n", "    RegistrationCellY\t= 0.000\r\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line;
}

}  // namespace
}  // namespace clipra
