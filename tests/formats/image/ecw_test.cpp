#include "formats/image/ecw.h"

#include <numeric>

#include "support/format_test.h"

namespace clipra {
namespace {

double Colour(uint32_t x, uint32_t y, uint32_t c) {
  return static_cast<uint8_t>(x * 3 + y * 17 + c * 80);
}

// Where the fake fails.
struct Failures {
  int open_error = 0, view_error = 0, failing_line = -1, line_status = 0;
};

// Serves an image of Colour() triplets, fails where told to, and counts
// what the reader asked of it.
struct FakeDecoder : EcwDecoder {
  FakeDecoder(const EcwFileInfo& i, const Failures& f) : info(i), fail(f) {}
  EcwFileInfo info;
  Failures fail;
  int open_views = 0, complete_closes = 0;  // closes that also freed the cache
  std::vector<uint32_t> view;  // the bands, then top-left x, y, bottom-right x, y, width, lines
  uint32_t lines_read = 0;

  int OpenFileView(const std::string&) override {
    if (fail.open_error == 0) ++open_views;
    return fail.open_error;
  }
  EcwFileInfo GetViewFileInfo() override { return info; }
  int SetFileView(const std::vector<uint32_t>& b, uint32_t tlx, uint32_t tly, uint32_t brx,
                  uint32_t bry, uint32_t w, uint32_t h) override {
    view = b;
    view.insert(view.end(), {tlx, tly, brx, bry, w, h});
    return fail.view_error;
  }
  int ReadViewLineRGB(uint8_t* rgb) override {
    if (static_cast<int>(lines_read) == fail.failing_line) return fail.line_status;
    for (uint32_t x = 0; x < info.Width * 3; ++x)
      rgb[x] = static_cast<uint8_t>(Colour(x / 3, lines_read, x % 3));
    ++lines_read;
    return 0;
  }
  void CloseFileView(bool free_cache) override {
    complete_closes += free_cache;
    --open_views;
  }
  std::string GetErrorText(int code) override { return "fake failure " + std::to_string(code); }
};

EcwFileInfo Info(uint32_t width, uint32_t lines, uint16_t bands) {
  return {width, lines, bands, 2.5, -2.5, 300000, 6000000};
}

// A reader over a fresh fake decoder, which `fake` then shows.
std::unique_ptr<EcwReader> Reader(FakeDecoder*& fake, const EcwFileInfo& info, Failures fail = {}) {
  auto decoder = std::make_unique<FakeDecoder>(info, fail);
  fake = decoder.get();
  return std::make_unique<EcwReader>(std::move(decoder));
}

// Grey files present one band, any other band count three. A grey line
// holds fewer bytes than the decoder delivers: the delivered line must never
// land in the block, which is exactly Lines x LineSize bytes (the address
// sanitizer sees any overrun).
TEST(EcwTest, BandCountsDecodeToGreyOrColourAndRefusalsLeaveNoViewOpenAndNoCells) {
  TempDir dir;
  dir.WriteFile("image.ecw", "\x65\x02\x01\x02 not really wavelets");
  FakeDecoder* fake = nullptr;
  const struct {
    uint32_t width, lines;
    uint16_t file_bands;
    uint32_t bands, line_size;
  } cases[] = {{1000, 500, 3, 3, 3000}, {5, 3, 3, 3, 16}, {5, 3, 1, 1, 8},
               {3, 2, 2, 3, 12},        {3, 2, 4, 3, 12}, {3, 2, 7, 3, 12}};
  for (const auto& k : cases) {
    SCOPED_TRACE(std::to_string(k.width) + " x " + std::to_string(k.file_bands));
    auto reader = Reader(fake, Info(k.width, k.lines, k.file_bands));
    ASSERT_TRUE(reader->Open(dir.Path("image.ecw"))) << reader->ErrorText;
    EXPECT_EQ(k.line_size, reader->LineSize);
    // Every band, and the whole image at full size.
    std::vector<uint32_t> view(k.file_bands);
    std::iota(view.begin(), view.end(), 0u);
    view.insert(view.end(), {0, 0, k.width - 1, k.lines - 1, k.width, k.lines});
    EXPECT_EQ(view, fake->view);
    EXPECT_EQ(std::pair(1, 0), std::pair(fake->complete_closes, fake->open_views));
    // The negative increment loses its sign.
    EXPECT_EQ("2.5 2.5, 300000 6000000, RAW RAW RAW", Placement(*reader));
    ExpectCells(*reader, k.width, k.lines, k.bands, Colour);
  }

  // A refused open leaves no view open and serves no cell.
  const struct {
    EcwFileInfo info;
    Failures fail;              // open, view, failing line and its status
    std::string message;        // after "Open read error 1 "
    uint64_t memory_limit = 0;  // 0: the machine's
  } refusals[] = {
      {Info(4, 3, 3), {kEcwFileOpenFailed}, "Error: fake failure 3"},
      {Info(4, 3, 3), {0, kEcwInvalidView}, "Error: fake failure 4 Invalid file view"},
      {Info(4, 3, 3), {0, 0, 1, 2}, "Status code: 2"},
      {Info(0xFFFFFFFFu, 0xFFFFFFFFu, 3), {}, "Malloc error for output buffers", 1 << 20},
      {Info(100000, 100000, 1), {}, "Malloc error for output buffers", 1 << 20},
      {Info(4, 3, 9), {}, "Error - unable to malloc band list", 16},
      {Info(4, 3, 0), {}, "Error: the image has no cells (4 x 3, 0 bands)"},
  };
  for (const auto& k : refusals) {
    SCOPED_TRACE(k.message);
    auto reader = Reader(fake, k.info, k.fail);
    if (k.memory_limit) reader->MemoryLimit = k.memory_limit;
    EXPECT_FALSE(reader->Open(dir.Path("image.ecw")));
    EXPECT_EQ("Open read error 1 " + k.message, reader->ErrorText);
    // Each view opened is closed once, and the decoder keeps its cache.
    EXPECT_EQ(std::pair(0, 0), std::pair(fake->complete_closes, fake->open_views));
    float v = 9;
    EXPECT_FALSE(reader->GetCell(0, 0, 0, v));
  }
  // A missing file is not handed to the decoder, which would open it.
  auto reader = Reader(fake, Info(4, 3, 3));
  EXPECT_FALSE(reader->Open(dir.Path("none.ecw")));
  EXPECT_EQ("Open read error 2 No such file or directory", reader->ErrorText);
  EXPECT_STREQ("No ECW driver in the decoder library", EcwErrorDescription(kEcwDriverMissing));
  for (const int code : {99, -1}) EXPECT_STREQ("Unknown error", EcwErrorDescription(code));
}

// The GDAL binding, proven on GeoTIFFs that the GDAL here reads. The
// production decoder opens nothing but ECW: without an ECW driver the
// message names what is missing.
TEST(EcwGdal, BindingReadsColourOrGreyLinesAndGeoreferenceAndReportsFailures) {
  REQUIRE_TOOL("gdal_translate");
  TempDir dir;
  for (const uint32_t bands : {3u, 1u}) {
    SCOPED_TRACE(bands);
    dir.WriteFile("in.pnm", MakePnm(7, 5, bands, Colour));  // lines of 21 or 7 bytes, padded
    ASSERT_EQ(0, RunCommand("gdal_translate -q -of GTiff -a_ullr 1000 5000 1070 4975 " +
                            ShellQuote(dir.Path("in.pnm")) + " " + ShellQuote(dir.Path("in.tif"))));
    EcwReader reader(CreateGdalDecoderForTesting());
    ASSERT_TRUE(reader.Open(dir.Path("in.tif"))) << reader.ErrorText;
    EXPECT_EQ(bands == 3 ? 24u : 8u, reader.LineSize);
    EXPECT_EQ(0u, Placement(reader).find("10 5, 1000 5000, ")) << Placement(reader);
    ExpectCells(reader, 7, 5, bands, Colour);
  }
  dir.WriteFile("junk.ecw", "\x65\x02\x01\x02 and nothing GDAL knows");
  EcwReader reader(CreateGdalDecoderForTesting());
  EXPECT_FALSE(reader.Open(dir.Path("junk.ecw")));
  EXPECT_EQ(0u, reader.ErrorText.find("Open read error 1 Error: GDAL cannot open " +
                                      dir.Path("junk.ecw") + ": "))
      << reader.ErrorText;
  std::string formats;
  RunCommand("gdalinfo --formats", &formats);
  if (formats.find("ECW") != std::string::npos) return;  // this GDAL reads ECW
  Source source;
  EXPECT_FALSE(source.Open(dir.Path("junk.ecw")));
  const std::string text = source.GetErrorText();
  EXPECT_EQ(0u, text.find("Open read error 1 Error: the GDAL here (libgdal.so")) << text;
  EXPECT_NE(std::string::npos, text.find("has no ECW driver")) << text;
}

}  // namespace
}  // namespace clipra
