// The program under a real comma locale, switched on as the window's toolkit
// does it. Numbers on the command line and in every file other programs read
// keep their "."; only the settings file speaks the locale.
#include <gtest/gtest.h>

#include <string>

#include "app/core/cli.h"
#include "app/core/settings.h"
#include "dataset/control_points.h"
#include "dataset/utils.h"
#include "support/app_fixtures.h"
#include "support/comma_locale.h"
#include "support/gdal.h"
#include "support/tools.h"

namespace clipra {
namespace {

TEST(CommaLocale, ClipWithDecimalHeaderNumbersWritesPointsInEveryFile) {
  TempDir dir;
  // Cell size 0.5, cell (0, 0) at (100.25, 203.5); the Northings use the comma.
  const std::string src = WriteSource(dir, "src", Grid(8, 6, 1, "0.5", "0.5", "100.25", "203,5"),
                                      [](uint32_t x, uint32_t y, uint32_t) { return x + 8.0 * y; });
  const struct {
    const char* output;
    const char* text_file;  // the header or world file that carries the numbers
    const char* cell_size;  // as it must appear there
  } rows[] = {
      {"o.ers", "o.ers", "Xdimension = 0.500"},
      {"p.osd", "p.osd", "Xdimension = 0.500"},
      {"q.bmp", "q.bmpw", "  0.50000000000000"},
      {"r.tif", "r.tfw", "  0.50000000000000"},
      {"u.001", "u.001", "0.5"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.output);
    {
      CommaLocale comma;
      REQUIRE_COMMA_LOCALE(comma);
      // Source cells (2, 2) to (5, 5).
      const CliResult r = RunClipra({"/A101.25:202.5:102.75:201.0", src, dir.Path(row.output)});
      ASSERT_EQ(kExitSuccess, r.code) << r.err;
    }
    const std::string text = dir.ReadFile(row.text_file);
    EXPECT_NE(std::string::npos, text.find(row.cell_size)) << text;
    EXPECT_EQ(std::string::npos, text.find(',')) << text;

    EXPECT_EQ("18 19 20 21|26 27 28 29|34 35 36 37|42 43 44 45", CellText(dir.Path(row.output)));
  }

  // GDAL reads the cell size and origin as written.
  REQUIRE_GDAL_PYTHON();
  for (const char* name : {"o.ers", "r.tif"})
    EXPECT_EQ((std::vector<double>{101.25, 0.5, 0, 202.5, 0, -0.5}), ReadWithGdal(dir, name).geo)
        << name;
}

// Only the settings file speaks the locale; it reads either separator back.
TEST(CommaLocale, NumberTextsAndControlPointFilesKeepThePointAndSettingsTheLocaleSeparator) {
  CommaLocale comma;
  REQUIRE_COMMA_LOCALE(comma);
  const struct {
    const char* text;
    long double value;
  } parsed[] = {
      {"110.2", 110.2L}, {" 12,5 ", 12.5L}, {"-4e2", -400}, {"1.234,5", 7}, {"+.25", 0.25L}};
  for (const auto& row : parsed) EXPECT_EQ(row.value, ParseFloatDef(row.text, 7)) << row.text;
  EXPECT_EQ("0.500|1.23457E+12|12.5|   -2.500|  0.50000000000000",
            FormatFixed(0.5, 6, 3) + "|" + FormatFixed(1234567890123.0, 6, 3) + "|" +
                FormatGeneral(12.5) + "|" + FormatRight3(-2.5, 9) + "|" +
                FormatFixedWidth(0.5, 18, 14));
  TempDir dir;
  Settings s;
  s.Options.TopLeftX = 110.2;
  ASSERT_TRUE(SaveSettings(dir.Path("c.ini"), s));
  EXPECT_NE(std::string::npos, dir.ReadFile("c.ini").find("TopLeftX=110,200\r\n"));
  EXPECT_EQ(110.2, LoadSettings(dir.Path("c.ini")).Options.TopLeftX);
  dir.WriteFile("p.ini", "[Options]\r\nTopLeftX=110.200\r\n");
  EXPECT_EQ(110.2, LoadSettings(dir.Path("p.ini")).Options.TopLeftX);

  ControlPointList list;
  list.AddFromLine("P1 Yes 10.5 20,25 512000.125 -1.5 0");
  ASSERT_TRUE(list.SaveToFile(dir.Path("p.gcp")));
  EXPECT_EQ("P1\tYes\t    10.500\t    20.250\t512000.125\t    -1.500\t     0.000\r\n",
            dir.ReadFile("p.gcp"));
}

}  // namespace
}  // namespace clipra
