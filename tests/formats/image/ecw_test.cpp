#include "formats/image/ecw.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataset/source.h"
#include "support/temp_dir.h"
#include "support/tools.h"

namespace clipra {
namespace {

// What the reader did to the fake decoder, kept apart so that tests can
// look at it after the reader has gone.
struct DecoderLog {
  int opens = 0;
  int closes = 0;
  int complete_closes = 0;  // closes that also freed the cached file
  int open_views = 0;
  std::vector<uint32_t> bands;
  std::vector<uint32_t> window;  // top-left x, y, bottom-right x, y, out width, lines
  uint32_t lines_read = 0;
};

uint8_t Colour(uint32_t x, uint32_t y, uint32_t c) {
  return static_cast<uint8_t>(x * 3 + y * 17 + c * 80);
}

// Serves an image of Colour() triplets, failing where told to.
class FakeDecoder : public EcwDecoder {
 public:
  FakeDecoder(std::shared_ptr<DecoderLog> log, EcwFileInfo info) : log_(log), info_(info) {}

  int open_error = 0;
  int view_error = 0;
  int failing_line = -1;
  int line_status = 0;

  int OpenFileView(const std::string&) override {
    ++log_->opens;
    if (open_error != 0) return open_error;
    ++log_->open_views;
    return 0;
  }
  EcwFileInfo GetViewFileInfo() override { return info_; }
  int SetFileView(const std::vector<uint32_t>& bands, uint32_t tlx, uint32_t tly, uint32_t brx,
                  uint32_t bry, uint32_t w, uint32_t h) override {
    log_->bands = bands;
    log_->window = {tlx, tly, brx, bry, w, h};
    return view_error;
  }
  int ReadViewLineRGB(uint8_t* rgb) override {
    const uint32_t y = log_->lines_read;
    if (static_cast<int>(y) == failing_line) return line_status;
    for (uint32_t x = 0; x < info_.Width; ++x)
      for (uint32_t c = 0; c < 3; ++c) rgb[x * 3 + c] = Colour(x, y, c);
    ++log_->lines_read;
    return 0;
  }
  void CloseFileView(bool free_cache) override {
    ++log_->closes;
    if (free_cache) ++log_->complete_closes;
    --log_->open_views;
  }
  std::string GetErrorText(int code) override { return "fake failure " + std::to_string(code); }

 private:
  std::shared_ptr<DecoderLog> log_;
  EcwFileInfo info_;
};

EcwFileInfo Info(uint32_t width, uint32_t lines, uint16_t bands) {
  EcwFileInfo info;
  info.Width = width;
  info.Lines = lines;
  info.Bands = bands;
  info.CellIncrementX = 2.5;
  info.CellIncrementY = -2.5;
  info.OriginX = 300000;
  info.OriginY = 6000000;
  return info;
}

class EcwTest : public ::testing::Test {
 protected:
  EcwTest() { dir_.WriteFile("image.ecw", "\x65\x02\x01\x02 not really wavelets"); }

  // A reader over a fake decoder; `configure` adjusts the fake first.
  std::unique_ptr<EcwReader> Reader(const EcwFileInfo& info,
                                    void (*configure)(FakeDecoder&) = nullptr) {
    auto decoder = std::make_unique<FakeDecoder>(log_, info);
    if (configure) configure(*decoder);
    return std::make_unique<EcwReader>(std::move(decoder));
  }
  bool Open(EcwReader& reader) { return reader.Open(dir_.Path("image.ecw")); }
  // The open fails with `message`, leaves no view open and serves no cell.
  void ExpectRefused(EcwReader& reader, const std::string& message) {
    EXPECT_FALSE(Open(reader));
    EXPECT_EQ(message, reader.ErrorText);
    EXPECT_EQ(1u, reader.LastError);
    EXPECT_EQ(0, log_->open_views);
    EXPECT_EQ(0, log_->complete_closes);
    EXPECT_EQ(nullptr, reader.ImageBuffer);
    float v = 9;
    EXPECT_FALSE(reader.GetCell(0, 0, 0, v));
    EXPECT_FALSE(reader.SeekLine(0, 0));
  }

  TempDir dir_;
  std::shared_ptr<DecoderLog> log_ = std::make_shared<DecoderLog>();
};

TEST_F(EcwTest, ThreeBandImageIsDecodedWithTheDecodersGeoreference) {
  auto reader = Reader(Info(1000, 500, 3));
  ASSERT_TRUE(Open(*reader)) << reader->ErrorText;
  EXPECT_EQ(3000u, reader->LineSize);
  EXPECT_EQ(3u, reader->GetBands());
  EXPECT_EQ(1000u, reader->GetWidth());
  EXPECT_EQ(500u, reader->GetLines());
  EXPECT_EQ(CellType::kUnsigned8, reader->GetCellType());
  EXPECT_FALSE(reader->HasPlainLayout());
  EXPECT_EQ((std::vector<uint32_t>{0, 1, 2}), log_->bands);
  EXPECT_EQ((std::vector<uint32_t>{0, 0, 999, 499, 1000, 500}), log_->window);
  EXPECT_EQ(1, log_->complete_closes);
  EXPECT_EQ(0, log_->open_views);
  EXPECT_EQ(300000, reader->GetGeoreference().RegX);
  EXPECT_EQ(6000000, reader->GetGeoreference().RegY);
  EXPECT_EQ(2.5, reader->GetCellSizeX());
  EXPECT_EQ(2.5, reader->GetCellSizeY());  // the negative increment loses its sign
  EXPECT_EQ("RAW", reader->GetGeoreference().Projection);
  EXPECT_EQ("RAW", reader->GetGeoreference().Datum);
  EXPECT_EQ("RAW", reader->GetGeoreference().Spheroid);
  float v = 0;
  for (uint32_t y : {0u, 250u, 499u})
    for (uint32_t x : {0u, 1u, 999u})
      for (uint32_t b = 0; b < 3; ++b) {
        ASSERT_TRUE(reader->GetCell(x, y, b, v));
        ASSERT_EQ(Colour(x, y, b), v);
      }
  ASSERT_TRUE(reader->GetCell(7, 8, 9, v));  // bands beyond the last read the last
  EXPECT_EQ(Colour(7, 8, 2), v);
}

TEST_F(EcwTest, LinesArePaddedToFourBytesAndCellsOutsideReadZero) {
  auto reader = Reader(Info(5, 3, 3));
  ASSERT_TRUE(Open(*reader)) << reader->ErrorText;
  EXPECT_EQ(16u, reader->LineSize);
  ASSERT_TRUE(reader->SeekLine(2, 0));
  EXPECT_EQ(reader->ImageBuffer.get() + 32, reader->Current);
  EXPECT_EQ(Colour(4, 2, 2), reader->Current[14]);
  EXPECT_EQ(0, reader->Current[15]);
  EXPECT_FALSE(reader->SeekLine(3, 0));
  float v = 9;
  EXPECT_FALSE(reader->GetCell(5, 0, 0, v));
  EXPECT_EQ(0, v);
  v = 9;
  EXPECT_FALSE(reader->GetCell(0, 3, 0, v));
  EXPECT_EQ(0, v);
}

// A 5-wide grey line holds 8 bytes, fewer than the 15 the decoder delivers:
// the delivered line must never land in the block, which is exactly
// Lines x LineSize bytes (the address sanitizer sees any overrun).
TEST_F(EcwTest, GreyFileKeepsTheRedBytesInsideTheBlock) {
  auto reader = Reader(Info(5, 3, 1));
  ASSERT_TRUE(Open(*reader)) << reader->ErrorText;
  EXPECT_EQ(1u, reader->GetBands());
  EXPECT_EQ(8u, reader->LineSize);
  EXPECT_EQ((std::vector<uint32_t>{0}), log_->bands);
  float v = 0;
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 5; ++x) {
      ASSERT_TRUE(reader->GetCell(x, y, 2, v));
      ASSERT_EQ(Colour(x, y, 0), v);
    }
}

TEST_F(EcwTest, OtherBandCountsArePresentedAsColour) {
  for (uint16_t bands : {2, 4, 7}) {
    log_ = std::make_shared<DecoderLog>();
    auto reader = Reader(Info(3, 2, bands));
    ASSERT_TRUE(Open(*reader)) << reader->ErrorText;
    EXPECT_EQ(3u, reader->GetBands());
    EXPECT_EQ(12u, reader->LineSize);
    EXPECT_EQ(bands, log_->bands.size());
    EXPECT_EQ(bands - 1u, log_->bands.back());
    float v = 0;
    ASSERT_TRUE(reader->GetCell(2, 1, 1, v));
    EXPECT_EQ(Colour(2, 1, 1), v);
  }
}

TEST_F(EcwTest, MissingFileIsNotHandedToTheDecoder) {
  auto reader = Reader(Info(4, 3, 3));
  EXPECT_FALSE(reader->Open(dir_.Path("none.ecw")));
  EXPECT_EQ(1u, reader->LastError);
  EXPECT_EQ("Open read error 2 No such file or directory", reader->ErrorText);
  EXPECT_EQ(0, log_->opens);
}

TEST_F(EcwTest, DecoderOpenFailureKeepsItsText) {
  auto reader = Reader(Info(4, 3, 3), [](FakeDecoder& d) { d.open_error = kEcwFileOpenFailed; });
  ExpectRefused(*reader, "Open read error 1 Error: fake failure 3");
  EXPECT_EQ(0, log_->closes);  // nothing was opened
}

TEST_F(EcwTest, ViewFailureQuotesTextAndDescriptionAndClosesTheView) {
  auto reader = Reader(Info(4, 3, 3), [](FakeDecoder& d) { d.view_error = kEcwInvalidView; });
  ExpectRefused(*reader, "Open read error 1 Error: fake failure 4 Invalid file view");
  EXPECT_EQ(1, log_->closes);
}

TEST_F(EcwTest, LineFailureReleasesTheBlockAndClosesTheView) {
  auto reader = Reader(Info(4, 3, 3), [](FakeDecoder& d) {
    d.failing_line = 1;
    d.line_status = 2;
  });
  ExpectRefused(*reader, "Open read error 1 Status code: 2");
}

TEST_F(EcwTest, ImagesBeyondMemoryOrWithoutCellsAreRefused) {
  for (const EcwFileInfo& info : {Info(0xFFFFFFFFu, 0xFFFFFFFFu, 3), Info(100000, 100000, 1)}) {
    log_ = std::make_shared<DecoderLog>();
    auto reader = Reader(info);
    reader->MemoryLimit = 1 << 20;
    ExpectRefused(*reader, "Open read error 1 Malloc error for output buffers");
    EXPECT_EQ(0u, log_->lines_read);
  }
  log_ = std::make_shared<DecoderLog>();
  auto nine_bands = Reader(Info(4, 3, 9));
  nine_bands->MemoryLimit = 16;
  ExpectRefused(*nine_bands, "Open read error 1 Error - unable to malloc band list");
  EXPECT_TRUE(log_->bands.empty());
  ExpectRefused(*Reader(Info(4, 3, 0)),
                "Open read error 1 Error: the image has no cells (4 x 3, 0 bands)");
}

TEST_F(EcwTest, ErrorDescriptionsCoverEveryCode) {
  EXPECT_STREQ("No ECW driver in the decoder library", EcwErrorDescription(kEcwDriverMissing));
  EXPECT_STREQ("Unknown error", EcwErrorDescription(99));
  EXPECT_STREQ("Unknown error", EcwErrorDescription(-1));
}

// The GDAL binding, proven on a GeoTIFF that the GDAL here reads.
class EcwGdalTest : public ::testing::Test {
 protected:
  // A PPM (colour) or PGM (grey) of Colour() bytes, made a GeoTIFF by gdal_translate.
  void MakeGeoTiff(const std::string& name, uint32_t w, uint32_t h, bool colour) {
    std::string pnm = std::string(colour ? "P6" : "P5") + "\n" + std::to_string(w) + " " +
                      std::to_string(h) + "\n255\n";
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t c = 0; c < (colour ? 3u : 1u); ++c) pnm += static_cast<char>(Colour(x, y, c));
    dir_.WriteFile("in.pnm", pnm);
    const std::string cmd = "gdal_translate -q -of GTiff -a_ullr 1000 5000 " +
                            std::to_string(1000 + 10 * w) + " " + std::to_string(5000 - 5 * h) +
                            " " + ShellQuote(dir_.Path("in.pnm")) + " " +
                            ShellQuote(dir_.Path(name));
    ASSERT_EQ(0, RunCommand(cmd));
  }

  TempDir dir_;
};

TEST_F(EcwGdalTest, BindingReadsColourOrGreyLinesAndGeoreference) {
  REQUIRE_TOOL("gdal_translate");
  for (const bool colour : {true, false}) {
    SCOPED_TRACE(colour ? "colour" : "grey");
    const uint32_t w = colour ? 7 : 6, h = colour ? 5 : 3, bands = colour ? 3 : 1;
    MakeGeoTiff("in.tif", w, h, colour);
    EcwReader reader(CreateGdalDecoderForTesting());
    ASSERT_TRUE(reader.Open(dir_.Path("in.tif"))) << reader.ErrorText;
    EXPECT_EQ(w, reader.GetWidth());
    EXPECT_EQ(h, reader.GetLines());
    EXPECT_EQ(bands, reader.GetBands());
    EXPECT_EQ(colour ? 24u : 8u, reader.LineSize);
    EXPECT_EQ(1000, reader.GetGeoreference().RegX);
    EXPECT_EQ(5000, reader.GetGeoreference().RegY);
    EXPECT_EQ(10, reader.GetCellSizeX());
    EXPECT_EQ(5, reader.GetCellSizeY());
    float v = 0;
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t b = 0; b < bands; ++b) {
          ASSERT_TRUE(reader.GetCell(x, y, b, v));
          ASSERT_EQ(Colour(x, y, b), v) << x << "," << y << " band " << b;
        }
  }
}

TEST_F(EcwGdalTest, BindingReportsWhatGdalCouldNotOpen) {
  REQUIRE_TOOL("gdal_translate");
  dir_.WriteFile("junk.ecw", "\x65\x02\x01\x02 and nothing GDAL knows");
  EcwReader reader(CreateGdalDecoderForTesting());
  EXPECT_FALSE(reader.Open(dir_.Path("junk.ecw")));
  EXPECT_EQ(0u, reader.ErrorText.find("Open read error 1 Error: GDAL cannot open " +
                                      dir_.Path("junk.ecw") + ": "))
      << reader.ErrorText;
}

// The production decoder opens nothing but ECW: without an ECW driver the
// message names what is missing.
TEST_F(EcwGdalTest, FacadeSaysWhenGdalHasNoEcwDriver) {
  REQUIRE_TOOL("gdal_translate");
  std::string formats;
  RunCommand("gdalinfo --formats", &formats);
  if (formats.find("ECW") != std::string::npos) GTEST_SKIP() << "this GDAL reads ECW";
  dir_.WriteFile("photo.ecw", "\x65\x02\x01\x02 wavelets");
  Source source;
  EXPECT_FALSE(source.Open(dir_.Path("photo.ecw")));
  const std::string text = source.GetErrorText();
  EXPECT_EQ(0u, text.find("Open read error 1 Error: the GDAL here (libgdal.so")) << text;
  EXPECT_NE(std::string::npos, text.find("has no ECW driver")) << text;
}

}  // namespace
}  // namespace clipra
