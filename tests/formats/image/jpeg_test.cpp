#include "formats/image/jpeg.h"

#include <algorithm>
#include <regex>

#include "formats/image/jpeg_scaled.h"
#include "support/format_test.h"

namespace clipra {
namespace {

class JpegTest : public ::testing::Test {
 protected:
  std::string Q(const std::string& name) { return ShellQuote(dir_.Path(name)); }
  // Encodes a Texture() image with cjpeg and `options`.
  void Encode(const std::string& name, uint32_t w, uint32_t h, bool colour,
              const std::string& options = "") {
    dir_.WriteFile("in.pnm", MakePnm(w, h, colour ? 3 : 1, Texture));
    ASSERT_EQ(0, RunCommand("cjpeg " + options + " -outfile " + Q(name) + " " + Q("in.pnm")));
  }
  Pnm Djpeg(const std::string& name, const std::string& options = "") {
    std::string out;
    EXPECT_EQ(0, RunCommand("djpeg -pnm " + options + " " + Q(name), &out));
    return ParsePnm(out);
  }
  std::string ManyScans();

  TempDir dir_;
  JpegReader reader_;
};

// The whole image, and each advised block decoded alone (cropped and
// skipped to), hold djpeg's cells, next to the edges of the block too.
TEST_F(JpegTest, DecodesLikeDjpegWholeOrByAdvisedBlock) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  struct Block {
    uint32_t first_col, first_line, last_col, last_line;
  } const blocks[] = {{17, 33, 101, 70}, {64, 48, 79, 63}, {1, 1, 1, 1},    {140, 80, 149, 89},
                      {0, 40, 149, 41},  {31, 15, 32, 16}, {0, 0, 149, 89}, {100, 0, 500, 500}};
  for (const char* options :
       {"-grayscale", "-quality 90", "-sample 2x1", "-sample 1x2", "-sample 1x1",
        "-grayscale -progressive", "-progressive", "-restart 1", "-restart 3B",
        "-progressive -restart 2B", "-arithmetic"}) {
    SCOPED_TRACE(options);
    Encode("e.jpg", 150, 90, true, options);
    const Pnm want = Djpeg("e.jpg");
    JpegReader whole;
    ASSERT_TRUE(whole.Open(dir_.Path("e.jpg"))) << whole.ErrorText;
    ExpectCells(whole, 150, 90, want.channels,
                [&](uint32_t x, uint32_t y, uint32_t c) { return want.At(x, y, c); });
    for (const Block& b : blocks) {
      SCOPED_TRACE(std::to_string(b.first_col) + "," + std::to_string(b.first_line));
      JpegReader reader;
      ASSERT_TRUE(reader.Open(dir_.Path("e.jpg"))) << reader.ErrorText;
      ASSERT_TRUE(reader.AdviseRead(b.first_col, b.first_line, b.last_col, b.last_line));
      const uint32_t right = std::min(b.last_col, 149u), bottom = std::min(b.last_line, 89u);
      // Only the block is held: the whole image only when it is the block.
      EXPECT_EQ((right - b.first_col + 1) * want.channels * (bottom - b.first_line + 1),
                reader.PartLineSize == 0 ? 150 * want.channels * 90
                                         : reader.PartLineSize * reader.PartLines);
      for (uint32_t y = b.first_line; y <= bottom; ++y)
        for (uint32_t c = 0; c < want.channels; ++c) {
          uint64_t step = 0;
          uint32_t begin = 0, end = 0;
          const uint8_t* run = reader.CellSpan(y, c, step, begin, end);
          ASSERT_NE(nullptr, run);
          ASSERT_LE(begin, b.first_col);
          ASSERT_GT(end, right);
          for (uint32_t x = b.first_col; x <= right; ++x)
            ASSERT_EQ(want.At(x, y, c), run[(x - begin) * step]) << x << "," << y << " band " << c;
        }
      // A cell outside the block is still there: the whole image is decoded.
      float v = 0;
      ASSERT_TRUE(reader.GetCell(149 - b.first_col, 89 - b.first_line, 0, v));
      EXPECT_EQ(want.At(149 - b.first_col, 89 - b.first_line, 0), v);
    }
  }
}

// A valid progressive grey file of 704 scans: the DC and each of the 63 AC
// coefficients sent bit by bit, 11 scans each. cjpeg makes at most 100 scans
// a file, so the AC scans of eight files of the same image are put together.
std::string JpegTest::ManyScans() {
  auto refine = [](int first, int last) {
    std::string script;
    for (int k = first; k <= last; ++k) {
      const std::string band = "0: " + std::to_string(k) + " " + std::to_string(k);
      script += band + " 0 10;\n";
      for (int al = 9; al >= 0; --al)
        script += band + " " + std::to_string(al + 1) + " " + std::to_string(al) + ";\n";
    }
    return script;
  };
  std::string spliced;
  for (int first = 1; first <= 63; first += 8) {
    dir_.WriteFile("scans.txt", refine(0, 0) + refine(first, std::min(first + 7, 63)));
    Encode("part.jpg", 16, 16, false, "-scans " + Q("scans.txt"));
    const std::string jpg = dir_.ReadFile("part.jpg");
    // A scan goes with the table segments before it, up to the next table,
    // scan or end marker (entropy-coded data stuffs every 0xFF it holds);
    // the bytes up to the first table open the spliced file.
    size_t group = jpg.find("\xFF\xC4", jpg.find("\xFF\xC2"));
    if (spliced.empty()) spliced = jpg.substr(0, group);
    while (group + 2 < jpg.size()) {
      const size_t sos = jpg.find("\xFF\xDA", group);
      const size_t end =
          std::min({jpg.find("\xFF\xC4", sos), jpg.find("\xFF\xDA", sos + 2), jpg.size() - 2});
      // All scans of the first file, the AC scans (first coefficient not 0) of the others.
      if (first == 1 || jpg[sos + 7] != 0) spliced += jpg.substr(group, end - group);
      group = end;
    }
  }
  dir_.WriteFile("many-scans.jpg", spliced + "\xFF\xD9");
  EXPECT_EQ(16u, Djpeg("many-scans.jpg").width);  // the file itself is sound
  return spliced + "\xFF\xD9";
}

// Files that are no JPEG of grey or RGB pixels fail at the open; damaged
// data, when the cells are first read, and stays an error. The message
// keeps the decoder's reason.
TEST_F(JpegTest, FailuresKeepTheDecodersReason) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  REQUIRE_TOOL("convert");
  Encode("rgb.jpg", 40, 40, true);
  const std::string full = dir_.ReadFile("rgb.jpg");
  std::string huge = full;
  huge.replace(huge.find("\xFF\xC0") + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  dir_.WriteFile("in.ppm", MakePnm(8, 8, 3, Texture));
  ASSERT_EQ(0, RunCommand("convert " + Q("in.ppm") + " -colorspace CMYK " + Q("cmyk.jpg")));
  const std::string params = "JPEG read params error: ", data = "JPEG read whole image error: ";
  const struct {
    const char* name;
    std::string bytes;  // none: the file is left as it is
    bool opens;
    std::string message;  // a pattern, after "Open read error 1 "
  } rows[] = {
      {"none.jpg", "", false, "File not Exists"},
      {"dht.jpg", std::string("\xFF\xD8\xFF\xC4\x00\x02", 6), false, params + ".*"},
      {"png.jpg", "\x89PNG\r\n\x1a\n....", false,
       params + ".*Not a JPEG file: starts with 0x89 0x50"},
      {"cmyk.jpg", "", false, "Not a grey or RGB image: 4 channels"},
      {"cut.jpg", full.substr(0, full.size() * 2 / 3), true, data + ".*Premature end of JPEG file"},
      {"junk-before-eoi.jpg", full.substr(0, full.size() - 2) + std::string(100, 'x') + "\xFF\xD9",
       true, data + ".*Corrupt JPEG data.*"},
      {"huge.jpg", huge, true, "Out of memory"},
      {"many-scans.jpg", ManyScans(), true, data + "more than 500 scans"},
  };
  const uint64_t saved = JpegMemoryLimit();
  SetJpegMemoryLimit(uint64_t{1} << 30);
  for (const auto& k : rows) {
    if (!k.bytes.empty()) dir_.WriteFile(k.name, k.bytes);
    JpegReader reader;
    EXPECT_EQ(k.opens, reader.Open(dir_.Path(k.name))) << k.name;
    float v = 9;
    EXPECT_FALSE(reader.GetCell(0, 0, 0, v)) << k.name;
    EXPECT_FALSE(k.opens && reader.AdviseRead(0, 0, 0, 0)) << k.name;
    EXPECT_TRUE(std::regex_match(reader.ErrorText, std::regex("Open read error 1 " + k.message)))
        << reader.ErrorText;
  }
  SetJpegMemoryLimit(saved);
}

// The world file gives the centre of cell (0, 0). The reduced image is
// djpeg's at the same scale, and each reduced cell lies at the centre of the
// block of full cells it stands for.
TEST_F(JpegTest, GeoreferenceComesFromTheWorldFileAndScaledDecodesAreDjpegs) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  const struct {
    bool colour;
    uint32_t min_width, min_lines;
    int n;                  // eighths of the full size
    const char* placement;  // cell sizes and corner
  } rows[] = {{true, 16, 10, 2, "8 12, 102 197"},
              {false, 1, 1, 1, "16 24, 106 191"},
              {true, 30, 1, 4, "4 6, 100 200"},
              {false, 61, 37, 8, "2 3, 99 201.5"}};
  // The centre of cell (0, 0) at (100, 200), cells 2 across and 3 down: its
  // corner lies at (99, 201.5). The world file is found in any case.
  dir_.WriteFile("MAP.JGW", "2\n0\n0\n-3\n100\n200\n");
  std::string error;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.n);
    ASSERT_EQ(row.n, JpegScaleNumerator(61, 37, row.min_width, row.min_lines));
    Encode("map.jpg", 61, 37, row.colour);
    const Pnm want = Djpeg("map.jpg", "-scale " + std::to_string(row.n) + "/8");
    auto reader = OpenJpegScaled(dir_.Path("map.jpg"), row.min_width, row.min_lines, error);
    ASSERT_TRUE(reader) << error;
    ExpectCells(*reader, want.width, want.height, want.channels,
                [&](uint32_t x, uint32_t y, uint32_t c) { return want.At(x, y, c); });
    EXPECT_EQ(row.placement + std::string(", UNKNOWN UNKNOWN UNKNOWN"), Placement(*reader));
  }
  // The full decode: .jpgw wins over .jgw, and ".wld" serves any image.
  const std::string jpg = dir_.ReadFile("map.jpg");
  dir_.WriteFile("w.jgw", "9\n0\n0\n-9\n9\n9\n");
  const char* cases[][4] = {
      {"raw", nullptr, nullptr, "1 1, 0 0, RAW RAW RAW"},
      {"w", "w.jpgw", "0.5\r\n0\r\n0\r\n-0.5\r\n1000.25\r\n2000.75\r\n",
       "0.5 0.5, 1000 2001, UNKNOWN UNKNOWN UNKNOWN"},
      {"gdal", "gdal.wld", "4\n0\n0\n-4\n10\n10\n", "4 4, 8 12, UNKNOWN UNKNOWN UNKNOWN"},
      {"map", nullptr, nullptr, "2 3, 99 201.5, UNKNOWN UNKNOWN UNKNOWN"},  // MAP.JGW
  };
  for (const auto& [name, sidecar, world, placement] : cases) {
    dir_.WriteFile(name + std::string(".jpg"), jpg);
    if (sidecar) dir_.WriteFile(sidecar, world);
    ASSERT_TRUE(reader_.Open(dir_.Path(name + std::string(".jpg")))) << reader_.ErrorText;
    EXPECT_EQ(placement, Placement(reader_)) << name;
  }
  dir_.WriteFile("bad.jpg", "\xFF\xD8 not a JPEG");
  EXPECT_FALSE(OpenJpegScaled(dir_.Path("bad.jpg"), 1, 1, error));
  EXPECT_EQ(0u, error.find("JPEG read error: ")) << error;
}

}  // namespace
}  // namespace clipra
