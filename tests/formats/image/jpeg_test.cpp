#include "formats/image/jpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/source.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// A decoded netpbm image: `channels` bytes a pixel, top line first.
struct Pnm {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 0;
  std::string bytes;
  uint8_t At(uint32_t x, uint32_t y, uint32_t c) const {
    return static_cast<uint8_t>(bytes[(uint64_t{y} * width + x) * channels + c]);
  }
};

// Parses the binary P5 (grey) and P6 (colour) forms that djpeg writes.
Pnm ParsePnm(const std::string& data) {
  Pnm pnm;
  std::istringstream in(data);
  std::string magic;
  uint32_t max = 0;
  in >> magic >> pnm.width >> pnm.height >> max;
  in.get();
  pnm.channels = magic == "P6" ? 3 : 1;
  pnm.bytes = data.substr(static_cast<size_t>(in.tellg()));
  if (max != 255 || pnm.bytes.size() != uint64_t{pnm.width} * pnm.height * pnm.channels)
    pnm = Pnm{};
  return pnm;
}

// Smooth gradients with some texture, so that every coefficient matters.
std::string MakePnm(uint32_t w, uint32_t h, bool colour) {
  std::string s = std::string(colour ? "P6" : "P5") + "\n" + std::to_string(w) + " " +
                  std::to_string(h) + "\n255\n";
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (uint32_t c = 0; c < (colour ? 3u : 1u); ++c)
        s += static_cast<char>((x * 5 + y * 3 + c * 70 + ((x * y + c) % 7) * 9) % 256);
  return s;
}

class JpegTest : public ::testing::Test {
 protected:
  // Encodes a generated image with cjpeg and the given options.
  void Encode(const std::string& name, uint32_t w, uint32_t h, bool colour,
              const std::string& options = "") {
    dir_.WriteFile("in.pnm", MakePnm(w, h, colour));
    ASSERT_EQ(0, RunCommand("cjpeg " + options + " -outfile " + ShellQuote(dir_.Path(name)) + " " +
                            ShellQuote(dir_.Path("in.pnm"))));
  }
  Pnm Djpeg(const std::string& name) {
    std::string out;
    EXPECT_EQ(0, RunCommand("djpeg -pnm " + ShellQuote(dir_.Path(name)), &out));
    return ParsePnm(out);
  }
  bool Open(const std::string& name) { return reader_.Open(dir_.Path(name)); }
  // Every cell of `reader` equals djpeg's decode of `name`.
  void ExpectCellsLikeDjpeg(JpegReader& reader, const std::string& name) {
    const Pnm want = Djpeg(name);
    ASSERT_GT(want.width, 0u) << name;
    ASSERT_EQ(want.width, reader.GetWidth());
    ASSERT_EQ(want.height, reader.GetLines());
    ASSERT_EQ(want.channels, reader.GetBands());
    EXPECT_EQ((want.width * want.channels + 3) / 4 * 4, reader.LineSize);
    float v = 0;
    for (uint32_t y = 0; y < want.height; ++y)
      for (uint32_t x = 0; x < want.width; ++x)
        for (uint32_t c = 0; c < want.channels; ++c) {
          ASSERT_TRUE(reader.GetCell(x, y, c, v));
          ASSERT_EQ(want.At(x, y, c), v) << name << " at " << x << "," << y << " band " << c;
        }
    // Bands past the last read the last.
    ASSERT_TRUE(reader.GetCell(1, 2, want.channels + 1, v));
    EXPECT_EQ(want.At(1, 2, want.channels - 1), v) << name;
  }
  std::string OpenFailure(const std::string& name) {
    EXPECT_FALSE(Open(name)) << name;
    EXPECT_EQ(1u, reader_.LastError);
    EXPECT_EQ(0u, reader_.ErrorText.find("Open read error ")) << reader_.ErrorText;
    return reader_.ErrorText;
  }
  // Damaged data is found when the cells are first read, and stays an error.
  std::string DecodeFailure(const std::string& name) {
    EXPECT_TRUE(Open(name)) << reader_.ErrorText;
    float v = 9;
    EXPECT_FALSE(reader_.GetCell(0, 0, 0, v)) << name;
    EXPECT_FALSE(reader_.AdviseRead(0, 0, 0, 0)) << name;
    EXPECT_EQ(1u, reader_.LastError);
    EXPECT_EQ(nullptr, reader_.ImageBuffer);
    EXPECT_EQ(0u, reader_.ErrorText.find("Open read error ")) << reader_.ErrorText;
    return reader_.ErrorText;
  }

  TempDir dir_;
  JpegReader reader_;
};

TEST_F(JpegTest, DecodesLikeDjpeg) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  struct Case {
    const char* name;
    bool colour;
    const char* options;
  } const cases[] = {
      {"grey.jpg", false, ""},
      {"rgb.jpg", true, "-quality 90"},
      {"rgb444.jpg", true, "-sample 1x1"},
      {"grey-progressive.jpg", false, "-progressive"},
      {"rgb-progressive.jpg", true, "-progressive"},
      {"rgb-restart-rows.jpg", true, "-restart 1"},
      {"rgb-restart-blocks.jpg", true, "-restart 3B"},
      {"progressive-restart.jpg", true, "-progressive -restart 2B"},
      {"arithmetic.jpg", true, "-arithmetic"},
  };
  for (const Case& k : cases) {
    Encode(k.name, 37, 23, k.colour, k.options);
    JpegReader reader;
    ASSERT_TRUE(reader.Open(dir_.Path(k.name))) << k.name << ": " << reader.ErrorText;
    ExpectCellsLikeDjpeg(reader, k.name);
  }
}

// An advised block is decoded alone, cropped and skipped to, and its cells
// are those of the whole image, next to the edges of the block too.
TEST_F(JpegTest, AdvisedBlockDecodesLikeDjpeg) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  struct Case {
    const char* name;
    bool colour;
    const char* options;
  } const cases[] = {
      {"rgb420.jpg", true, ""},
      {"rgb422.jpg", true, "-sample 2x1"},
      {"rgb440.jpg", true, "-sample 1x2"},
      {"rgb444.jpg", true, "-sample 1x1"},
      {"grey.jpg", false, ""},
      {"progressive.jpg", true, "-progressive"},
      {"restart.jpg", true, "-restart 1"},
  };
  struct Block {
    uint32_t first_col, first_line, last_col, last_line;
  } const blocks[] = {{17, 33, 101, 70}, {64, 48, 79, 63}, {1, 1, 1, 1},    {140, 80, 149, 89},
                      {0, 40, 149, 41},  {31, 15, 32, 16}, {0, 0, 149, 89}, {100, 0, 500, 500}};
  for (const Case& k : cases) {
    Encode(k.name, 150, 90, k.colour, k.options);
    const Pnm want = Djpeg(k.name);
    ASSERT_EQ(150u, want.width) << k.name;
    for (const Block& b : blocks) {
      SCOPED_TRACE(std::string(k.name) + " from " + std::to_string(b.first_col) + "," +
                   std::to_string(b.first_line));
      JpegReader reader;
      ASSERT_TRUE(reader.Open(dir_.Path(k.name))) << reader.ErrorText;
      EXPECT_EQ(nullptr, reader.ImageBuffer);  // nothing decoded at open
      ASSERT_TRUE(reader.AdviseRead(b.first_col, b.first_line, b.last_col, b.last_line));
      const uint32_t right = std::min(b.last_col, 149u), bottom = std::min(b.last_line, 89u);
      // Only the block is held.
      const uint64_t held =
          reader.PartLineSize == 0 ? reader.LineSize * 90 : reader.PartLineSize * reader.PartLines;
      EXPECT_EQ((right - b.first_col + 1) * want.channels * (bottom - b.first_line + 1) +
                    (reader.PartLineSize == 0 ? 90 * (reader.LineSize - 150 * want.channels) : 0),
                held);
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

TEST_F(JpegTest, LinesArePaddedToFourBytesAndCellsOutsideReadZero) {
  REQUIRE_TOOL("cjpeg");
  Encode("rgb.jpg", 3, 2, true);
  ASSERT_TRUE(Open("rgb.jpg")) << reader_.ErrorText;
  EXPECT_EQ(12u, reader_.LineSize);
  EXPECT_EQ(3u, reader_.GetBands());
  EXPECT_EQ(CellType::kUnsigned8, reader_.GetCellType());
  EXPECT_FALSE(reader_.HasPlainLayout());
  ASSERT_TRUE(reader_.SeekLine(1, 0));
  EXPECT_EQ(reader_.ImageBuffer.get() + 12, reader_.Current);
  EXPECT_EQ(0, reader_.Current[9] | reader_.Current[10] | reader_.Current[11]);
  EXPECT_FALSE(reader_.SeekLine(2, 0));
  for (const auto& [x, y] : {std::pair{3u, 0u}, std::pair{0u, 2u}}) {
    float v = 9;
    EXPECT_FALSE(reader_.GetCell(x, y, 0, v)) << x << "," << y;
    EXPECT_EQ(0, v);
  }
}

TEST_F(JpegTest, GeoreferenceComesFromTheWorldFile) {
  REQUIRE_TOOL("cjpeg");
  Encode("map.jpg", 4, 4, false);
  const std::string jpg = dir_.ReadFile("map.jpg");
  struct Case {
    const char* name;
    double size_x, size_y, reg_x, reg_y;
    const char* strings;  // projection, datum and spheroid
    const char* sidecar;
    const char* world;
  } const cases[] = {
      {"raw", 1, 1, 0, 0, "RAW", nullptr, nullptr},
      // The world file gives the centre of cell (0, 0); the corner is stored.
      {"w", 0.5, 0.5, 1000, 2001, "UNKNOWN", "w.jpgw",
       "0.5\r\n0\r\n0\r\n-0.5\r\n1000.25\r\n2000.75\r\n"},
      {"map", 2, 3, 99, 201.5, "UNKNOWN", "MAP.JGW", "2\n0\n0\n-3\n100\n200\n"},
      {"gdal", 4, 4, 8, 12, "UNKNOWN", "gdal.wld", "4\n0\n0\n-4\n10\n10\n"},
  };
  // .jpgw wins over .jgw.
  dir_.WriteFile("w.jgw", "9\n0\n0\n-9\n9\n9\n");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    dir_.WriteFile(k.name + std::string(".jpg"), jpg);
    if (k.sidecar) dir_.WriteFile(k.sidecar, k.world);
    ASSERT_TRUE(Open(k.name + std::string(".jpg"))) << reader_.ErrorText;
    EXPECT_EQ(k.size_x, reader_.GetCellSizeX());
    EXPECT_EQ(k.size_y, reader_.GetCellSizeY());
    EXPECT_EQ(k.reg_x, reader_.GetGeoreference().RegX);
    EXPECT_EQ(k.reg_y, reader_.GetGeoreference().RegY);
    EXPECT_EQ(k.strings, reader_.GetGeoreference().Projection);
    EXPECT_EQ(k.strings, reader_.GetGeoreference().Datum);
    EXPECT_EQ(k.strings, reader_.GetGeoreference().Spheroid);
  }
}

TEST_F(JpegTest, RefusesCmyk) {
  REQUIRE_TOOL("convert");
  dir_.WriteFile("in.ppm", MakePnm(8, 8, true));
  ASSERT_EQ(0, RunCommand("convert " + ShellQuote(dir_.Path("in.ppm")) + " -colorspace CMYK " +
                          ShellQuote(dir_.Path("cmyk.jpg"))));
  EXPECT_EQ("Open read error 1 Not a grey or RGB image: 4 channels", OpenFailure("cmyk.jpg"));
  EXPECT_EQ(nullptr, reader_.ImageBuffer);
}

TEST_F(JpegTest, HeaderErrorsKeepTheDecodersReason) {
  EXPECT_EQ("Open read error 1 File not Exists", OpenFailure("none.jpg"));
  dir_.WriteFile("not-a-jpeg.jpg", std::string("\xFF\xD8\xFF\xC4\x00\x02", 6));
  const std::string text = OpenFailure("not-a-jpeg.jpg");
  EXPECT_EQ(0u, text.find("Open read error 1 JPEG read params error: ")) << text;
  dir_.WriteFile("png.jpg", "\x89PNG\r\n\x1a\n....");
  EXPECT_NE(std::string::npos,
            OpenFailure("png.jpg").find("Not a JPEG file: starts with 0x89 0x50"));
}

TEST_F(JpegTest, TruncatedOrExtraneousDataIsAnErrorNotAWarning) {
  REQUIRE_TOOL("cjpeg");
  Encode("rgb.jpg", 40, 40, true);
  const std::string full = dir_.ReadFile("rgb.jpg");
  dir_.WriteFile("truncated.jpg", full.substr(0, full.size() * 2 / 3));
  const std::string text = DecodeFailure("truncated.jpg");
  EXPECT_EQ(0u, text.find("Open read error 1 JPEG read whole image error: ")) << text;
  EXPECT_NE(std::string::npos, text.find("Premature end of JPEG file")) << text;

  ASSERT_EQ("\xFF\xD9", full.substr(full.size() - 2));
  dir_.WriteFile("junk-before-eoi.jpg",
                 full.substr(0, full.size() - 2) + std::string(100, 'x') + "\xFF\xD9");
  EXPECT_NE(std::string::npos, DecodeFailure("junk-before-eoi.jpg").find("Corrupt JPEG data"));
}

TEST_F(JpegTest, DamagedScansNeverCrash) {
  REQUIRE_TOOL("cjpeg");
  Encode("rgb.jpg", 48, 32, true, "-progressive");
  const std::string good = dir_.ReadFile("rgb.jpg");
  int failures = 0;
  for (size_t at = good.size() / 3; at < good.size() - 2; at += 37) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x5A);
    bad[at + 1] = '\xFF';
    dir_.WriteFile("damaged.jpg", bad);
    JpegReader reader;
    float v = 0;
    if (!reader.Open(dir_.Path("damaged.jpg")) || !reader.GetCell(0, 0, 0, v)) {
      ++failures;
      EXPECT_EQ(0u, reader.ErrorText.find("Open read error 1 JPEG ")) << reader.ErrorText;
    }
  }
  EXPECT_GT(failures, 0);
}

TEST_F(JpegTest, ImageTooLargeForMemoryIsOutOfMemory) {
  REQUIRE_TOOL("cjpeg");
  Encode("rgb.jpg", 8, 8, true);
  std::string data = dir_.ReadFile("rgb.jpg");
  const size_t sof = data.find("\xFF\xC0");
  ASSERT_NE(std::string::npos, sof);
  data.replace(sof + 5, 4, "\xFF\xDC\xFF\xDC");  // 65500 x 65500
  dir_.WriteFile("huge.jpg", data);
  const uint64_t saved = JpegMemoryLimit();
  SetJpegMemoryLimit(uint64_t{1} << 30);
  EXPECT_EQ("Open read error 1 Out of memory", DecodeFailure("huge.jpg"));
  SetJpegMemoryLimit(saved);
  EXPECT_EQ(65500u, reader_.GetWidth());
}

// The scans of a progressive JPEG: the bytes before the first scan, and
// each scan with the table segments that precede it, up to its last data byte.
struct Scans {
  std::string head;
  std::vector<std::string> scans;
  std::vector<int> spectral_start;  // Ss of each scan
};

Scans SplitScans(const std::string& jpg) {
  Scans out;
  auto byte = [&jpg](size_t i) { return static_cast<uint8_t>(jpg[i]); };
  size_t pos = 2;
  size_t group = 0;
  while (pos + 4 <= jpg.size() && byte(pos) == 0xFF) {
    const uint8_t marker = byte(pos + 1);
    if (marker == 0xD9) break;
    size_t end = pos + 2 + (size_t{byte(pos + 2)} << 8 | byte(pos + 3));
    if (marker == 0xC2) group = end;  // the frame header closes the head
    if (marker == 0xDA) {
      if (out.head.empty()) out.head = jpg.substr(0, group);
      out.spectral_start.push_back(byte(pos + 5 + 2 * byte(pos + 4)));
      // Entropy-coded data runs to the next marker that is not a stuffed 0xFF.
      while (end + 1 < jpg.size() && !(byte(end) == 0xFF && byte(end + 1) != 0)) ++end;
      out.scans.push_back(jpg.substr(group, end - group));
      group = end;
    }
    pos = end;
  }
  return out;
}

// A valid progressive grey file of 704 scans: the DC and each of the 63 AC
// coefficients sent bit by bit, 11 scans each. cjpeg makes at most 100 scans
// a file, so the AC scans of eight files of the same image are put together.
TEST_F(JpegTest, StopsProgressiveFilesWithTooManyScans) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  auto refine = [](int first, int last) {
    std::string script;
    for (int k = first; k <= last; ++k) {
      const std::string band = std::to_string(k) + " " + std::to_string(k);
      script += "0: " + band + " 0 10;\n";
      for (int al = 9; al >= 0; --al)
        script += "0: " + band + " " + std::to_string(al + 1) + " " + std::to_string(al) + ";\n";
    }
    return script;
  };
  std::string spliced;
  size_t scans = 0;
  for (int first = 1; first <= 63; first += 8) {
    dir_.WriteFile("scans.txt", refine(0, 0) + refine(first, std::min(first + 7, 63)));
    Encode("part.jpg", 16, 16, false, "-scans " + ShellQuote(dir_.Path("scans.txt")));
    const Scans part = SplitScans(dir_.ReadFile("part.jpg"));
    ASSERT_FALSE(part.scans.empty());
    if (spliced.empty()) spliced = part.head;
    for (size_t i = 0; i < part.scans.size(); ++i)
      if (first == 1 || part.spectral_start[i] != 0) {
        spliced += part.scans[i];
        ++scans;
      }
  }
  spliced += "\xFF\xD9";
  ASSERT_EQ(704u, scans);
  dir_.WriteFile("many-scans.jpg", spliced);
  // The file itself is sound: djpeg decodes it.
  ASSERT_EQ(16u, Djpeg("many-scans.jpg").width);
  EXPECT_EQ("Open read error 1 JPEG read whole image error: more than 500 scans",
            DecodeFailure("many-scans.jpg"));
}

TEST_F(JpegTest, FacadeClipsJpegWithItsWorldFile) {
  REQUIRE_TOOL("cjpeg");
  REQUIRE_TOOL("djpeg");
  Encode("src.jpg", 30, 20, true, "-progressive -restart 1");
  // The centre of cell (0, 0): its corner is (1000, 5000).
  dir_.WriteFile("src.jgw", "10\n0\n0\n-10\n1005\n4995\n");
  const Pnm want = Djpeg("src.jpg");
  ASSERT_EQ(30u, want.width);
  const CliResult r =
      RunClipra({"-A1050:4950:1150:4900", dir_.Path("src.jpg"), dir_.Path("out.ers")});
  ASSERT_EQ(0, r.code) << r.err;
  Source out;
  ASSERT_TRUE(out.Open(dir_.Path("out.ers"))) << out.GetErrorText();
  RasterReader& o = *out.GetReader();
  ASSERT_EQ(11u, o.GetWidth());
  ASSERT_EQ(6u, o.GetLines());
  ASSERT_EQ(3u, o.GetBands());
  float v = 0;
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 11; ++x)
      for (uint32_t b = 0; b < 3; ++b) {
        ASSERT_TRUE(o.GetCell(x, y, b, v));
        ASSERT_EQ(want.At(x + 5, y + 5, b), v) << x << "," << y << " band " << b;
      }
}

}  // namespace
}  // namespace clipra
