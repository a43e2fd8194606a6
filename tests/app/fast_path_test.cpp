// The indexed path (column indices computed once, bytes copied where the
// layouts allow) must write exactly what sampling every cell through the
// facades writes.
#include <gtest/gtest.h>

#include "app/core/job.h"
#include "support/ers_builder.h"
#include "support/temp_dir.h"

namespace clipra {
namespace {

double Pattern(uint32_t x, uint32_t y, uint32_t b) {
  return static_cast<double>((x * 7 + y * 13 + b * 29) % 251) - (b == 1 ? 100 : 0);
}

struct Geometry {
  const char* name;
  std::string cell_x, cell_y, reg_cell_x, reg_cell_y;
  double tlx, tly, brx, bry;
};

struct Layout {
  const char* name;
  std::string cell_type;
  uint32_t bands;
  bool msb_first;
};

// An output format, and the file that holds its cells.
struct OutputCase {
  const char* extension;
  const char* data_extension;
  bool byte_only;  // BMP takes only byte cells
  bool Accepts(const Layout& layout) const {
    const std::string ext = extension;
    const bool image = ext == ".tif" || ext == ".bmp";
    if (image && layout.bands != 1 && layout.bands != 3) return false;
    if (byte_only) return layout.cell_type == "Unsigned8BitInteger";
    if (ext == ".tif")
      return layout.cell_type != "Signed32BitInteger" && layout.cell_type != "Signed32BitSingle";
    return true;
  }
};

const OutputCase kOutputs[] = {
    {".ers", "", false},    {".osd", "", false},     {".tif", ".tif", false},
    {".bmp", ".bmp", true}, {".001", ".002", false}, {".dtm", ".dtm", false},
};

void PrintTo(const Layout& layout, std::ostream* os) {
  *os << layout.name;
}

class FastPathTest : public ::testing::TestWithParam<Layout> {
 protected:
  // Runs the job both ways and compares the two data files byte for byte.
  void ExpectSameBothWays(const Geometry& g) {
    const Layout& layout = GetParam();
    ErsSource s;
    s.width = 7;
    s.lines = 5;
    s.bands = layout.bands;
    s.cell_type = layout.cell_type;
    s.msb_first = layout.msb_first;
    s.cell_size_x = g.cell_x;
    s.cell_size_y = g.cell_y;
    s.reg_cell_x = g.reg_cell_x;
    s.reg_cell_y = g.reg_cell_y;
    s.eastings = "100";
    s.northings = "200";
    s.data = MakeCells(s, Pattern);
    const std::string base = dir_.Path(std::string("src_") + g.name);
    s.Write(base);

    ExtractOptions o;
    o.TopLeftX = g.tlx;
    o.TopLeftY = g.tly;
    o.BotRightX = g.brx;
    o.BotRightY = g.bry;
    o.BgrColor = 0x203040;
    for (const OutputCase& output : kOutputs) {
      if (!output.Accepts(layout)) continue;
      std::string data[2];
      for (int cell_by_cell = 0; cell_by_cell < 2; ++cell_by_cell) {
        const std::string out = std::string(g.name) + std::to_string(cell_by_cell);
        AbortRequested = false;
        ExtractJob job(base + ".ers", dir_.Path(out + output.extension), o, nullptr);
        job.CellByCell = cell_by_cell == 1;
        job.Run();
        ASSERT_EQ("Successful Finish", job.StatusText) << g.name << output.extension;
        data[cell_by_cell] = dir_.ReadFile(out + output.data_extension);
      }
      ASSERT_FALSE(data[0].empty()) << g.name << output.extension;
      EXPECT_EQ(data[1], data[0]) << g.name << " / " << layout.name << output.extension;
    }
  }

  TempDir dir_;
};

TEST_P(FastPathTest, AwkwardGeometryMatchesCellByCell) {
  const Geometry cases[] = {
      // Grid points exactly half a cell off: ties go to the even neighbour.
      {"ties", "2", "2", "", "", 101, 199, 113, 189},
      {"reversed", "2", "2", "", "", 112, 190, 99, 201},
      {"partly_outside", "2", "2", "", "", 90, 210, 108, 195},
      {"wholly_outside", "2", "2", "", "", 500, 500, 510, 490},
      {"non_square", "3", "1.5", "", "", 100, 200, 121, 193},
      {"one_line", "2", "2", "", "", 100, 198, 114, 198},
      {"one_column", "2", "2", "", "", 104, 200, 104, 190},
      {"zero_cell_size", "0", "0", "", "", 99.5, 200.5, 108, 195},
      {"fractional_registration", "2", "2", "0.5", "0.5", 99, 201, 115, 191},
      {"tiny_cells", "0.1", "0.1", "", "", 100.05, 199.95, 100.75, 199.55},
  };
  for (const Geometry& g : cases) ExpectSameBothWays(g);
}

INSTANTIATE_TEST_SUITE_P(Layouts, FastPathTest,
                         ::testing::Values(Layout{"byte3", "Unsigned8BitInteger", 3, false},
                                           Layout{"byte1", "Unsigned8BitInteger", 1, false},
                                           Layout{"byte2", "Unsigned8BitInteger", 2, false},
                                           Layout{"int16msb", "Signed16BitInteger", 1, true},
                                           Layout{"uint16lsb3", "Unsigned16BitInteger", 3, false},
                                           Layout{"int32", "Signed32BitInteger", 2, true},
                                           Layout{"float", "Signed32BitSingle", 1, false}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace clipra
