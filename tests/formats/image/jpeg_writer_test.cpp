// JPEG outputs as other programs see them: GDAL opens them, GDAL and this
// program place them where the ER Mapper clip of the same rectangle lies,
// and what cannot be a JPEG changes no file.
#include <sys/resource.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <optional>

#include "app/core/cli.h"
#include "formats/image/jpeg.h"
#include "support/app_fixtures.h"
#include "support/comma_locale.h"
#include "support/format_test.h"
#include "support/gdal.h"

namespace clipra {
namespace {

// Smooth, so that JPEG's error stays small, and different in every band.
double Smooth(uint32_t x, uint32_t y, uint32_t b) {
  return 40 + 3 * x + 2 * y + 30 * b;
}

// 24 x 16 cells of 0.5, cell (0, 0) at (500000.25, 6100000.75).
ErsSource SmoothSource(uint32_t bands, const char* cell_type = "Unsigned8BitInteger") {
  return Grid(24, 16, bands, "0.5", "0.5", "500000.25", "6100000.75", cell_type);
}

// Source cells (2, 2) to (19, 14): 18 x 13, neither a whole number of blocks.
constexpr const char* kRect = "-A500001.25:6099999.75:500009.75:6099993.75";

// What cannot be a JPEG changes no file; what is written, GDAL and this
// program read where the ER Mapper clip of the same rectangle lies.
TEST(JpegOutput, RefusalsChangeNoFileAndOutputsLieWhereTheErMapperClipLies) {
  constexpr const char* kU8 = "Unsigned8BitInteger";
  const struct {
    uint32_t bands;
    const char* cell_type;
    const char* err;
    const char* quality = nullptr;  // --jpeg-quality, refused with its usage message
    rlim_t file_limit = 0;          // bytes, as a full disk stops the writing; 0 for none
    const char* rect = kRect;
  } rows[] = {
      {2, kU8, "JPEG files support 1 band (grey) or 3 bands (colour), not 2\n"},
      {1, "Unsigned16BitInteger", "JPEG files support only byte cells, not UNSIGNED16BITINTEGER\n"},
      {1, kU8, "JPEG files hold 1 to 65500 cells each way, not 65502 x 1\n", nullptr, 0,
       "-A500000:6100000:532750.5:6100000"},
      {1, kU8, "clipra-cli: --jpeg-quality takes a number from 1 to 100\n", "101"},
      {3, kU8, "clipra-cli: --jpeg-quality takes a number from 1 to 100\n", "0"},
      {3, kU8, "JPEG write error: File too large\n", nullptr, 512},
  };
  using Files = std::map<std::string, std::string>;  // names and contents
  auto files = [](const TempDir& dir) {
    Files names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      names[entry.path().filename()] = dir.ReadFile(entry.path().filename());
    return names;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.err);
    TempDir dir;
    WriteSource(dir, "src", SmoothSource(row.bands, row.cell_type), Smooth);
    dir.WriteFile("out.jpg", "old image");
    dir.WriteFile("out.jgw", "old world");
    const Files before = files(dir);
    std::vector<std::string> args = {row.rect, dir.Path("src.ers"), dir.Path("out.jpg")};
    if (row.quality) args.insert(args.begin(), {"--jpeg-quality", row.quality});
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit limit{row.file_limit ? row.file_limit : old_limit.rlim_cur, old_limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const CliResult r = RunClipra(args);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    EXPECT_EQ(row.quality ? kExitUsage : kExitFailure, r.code);
    EXPECT_NE(std::string::npos, r.err.find(row.err)) << r.err;
    EXPECT_EQ(before, files(dir));
  }

  // A writer freed before Finish, as a stopped or failed run frees it.
  TempDir dir;
  dir.WriteFile("out.jpg", "old image");
  {
    JpegWriter writer(dir.Path("out.jpg"), 4, 3, CellType::kUnsigned8, 3, 1);
    writer.SetGeoreference({});
    for (uint32_t x = 0; x < 4; ++x) writer.SetCell(x, 1, 0, 200);
    EXPECT_EQ(2u, files(dir).size());
  }
  EXPECT_EQ((Files{{"out.jpg", "old image"}}), files(dir));

  REQUIRE_GDAL_PYTHON();
  const struct {
    const char* output;
    uint32_t bands;
    const char* quality;  // --jpeg-quality, or none
    int quantiser;        // the first entry of the first quantisation table: 16 scaled
    int max_error;        // against the source, in either direction
    bool comma;           // run under a comma locale; last, as it may skip
  } readable[] = {
      {"grey.jpg", 1, nullptr, 3, 2, false},
      {"rgb.jpg", 3, nullptr, 3, 8, false},
      {"rgb40.jpeg", 3, "40", 20, 24, false},
      {"grey-comma.JPG", 1, "100", 1, 1, true},
  };
  for (const auto& row : readable) {
    SCOPED_TRACE(row.output);
    TempDir dir;
    WriteSource(dir, "src", SmoothSource(row.bands), Smooth);
    std::vector<std::string> args = {kRect, dir.Path("src.ers"), dir.Path(row.output)};
    if (row.quality) args.insert(args.begin(), {"--jpeg-quality", row.quality});
    {
      std::optional<CommaLocale> comma;
      if (row.comma) {
        comma.emplace();
        REQUIRE_COMMA_LOCALE(*comma);
      }
      const CliResult r = RunClipra(args);
      ASSERT_EQ(kExitSuccess, r.code) << r.err;
    }
    ASSERT_EQ(kExitSuccess, RunClipra({kRect, dir.Path("src.ers"), dir.Path("ref.ers")}).code);

    const std::string jpeg = dir.ReadFile(row.output);
    EXPECT_NE(std::string::npos, jpeg.find("\xFF\xC0")) << "not baseline";
    const size_t dqt = jpeg.find("\xFF\xDB");
    ASSERT_LT(dqt + 5, jpeg.size());
    EXPECT_EQ(row.quantiser, static_cast<uint8_t>(jpeg[dqt + 5]));
    EXPECT_EQ(
        "0.5000000000\r\n0.0000000000\r\n0.0000000000\r\n-0.5000000000\r\n"
        "500001.5000000000\r\n6099999.5000000000\r\n",
        dir.ReadFile(ChangeFileExt(row.output, ".jgw")));

    // GDAL: the ER Mapper clip's geotransform, and the cells this program decodes.
    const GdalView ref = ReadWithGdal(dir, "ref.ers");
    const GdalView out = ReadWithGdal(dir, row.output);
    ASSERT_EQ(ref.geo, out.geo);
    ASSERT_EQ((std::vector<int>{18, 13, static_cast<int>(row.bands)}),
              (std::vector<int>{out.width, out.height, out.bands}));
    const std::vector<float> own = ReadAllCells(dir.Path(row.output));
    ASSERT_EQ(out.cells.size(), own.size());
    double worst = 0;
    for (size_t i = 0; i < own.size(); ++i) {
      // GDAL's cells go band by band, this program's band by band in each line.
      const size_t x = i % 18, b = i / 18 % row.bands, y = i / 18 / row.bands;
      const double gdal = out.cells[(b * 13 + y) * 18 + x];
      ASSERT_EQ(gdal, own[i]) << x << " " << y << " " << b;
      worst = std::max(worst, std::abs(gdal - ref.cells[(b * 13 + y) * 18 + x]));
    }
    EXPECT_LE(worst, row.max_error);

    // This program places it where it lies: a clip of the clip takes the same cells.
    ASSERT_EQ(kExitSuccess, RunClipra({kRect, dir.Path(row.output), dir.Path("again.ers")}).code);
    EXPECT_EQ(own, ReadAllCells(dir.Path("again.ers")));
    // Another JPEG of the same base name would replace the source's world file.
    const CliResult twin =
        RunClipra({kRect, dir.Path(row.output), dir.Path(ChangeFileExt(row.output, ".Jpeg"))});
    EXPECT_NE(std::string::npos, twin.err.find("would overwrite the source's file: " +
                                               dir.Path(ChangeFileExt(row.output, ".jgw"))))
        << twin.err;
  }
}

}  // namespace
}  // namespace clipra
