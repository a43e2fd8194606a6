#include "support/format_test.h"

#include <charconv>
#include <sstream>

namespace clipra {

std::string MakePnm(uint32_t width, uint32_t height, uint32_t channels, CellFn f) {
  std::string s = (channels == 3 ? "P6\n" : "P5\n") + std::to_string(width) + " " +
                  std::to_string(height) + "\n255\n";
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < channels; ++c) s += static_cast<char>(f(x, y, c));
  return s;
}

double Texture(uint32_t x, uint32_t y, uint32_t c) {
  return (x * 5 + y * 3 + c * 70 + ((x * y + c) % 7) * 9) % 256;
}

Pnm ParsePnm(const std::string& data) {
  Pnm pnm;
  std::istringstream in(data);
  std::string magic;
  uint32_t max = 0;
  in >> magic >> pnm.width >> pnm.height >> max;
  in.get();
  pnm.channels = magic == "P6" ? 3 : 1;
  if (in) pnm.bytes = data.substr(static_cast<size_t>(in.tellg()));
  if (max != 255 || pnm.bytes.size() != uint64_t{pnm.width} * pnm.height * pnm.channels)
    pnm = Pnm{};
  return pnm;
}

void ExpectCells(RasterReader& reader, uint32_t width, uint32_t lines, uint32_t bands,
                 const std::function<double(uint32_t, uint32_t, uint32_t)>& want,
                 bool zero_outside) {
  ASSERT_EQ(width, reader.GetWidth());
  ASSERT_EQ(lines, reader.GetLines());
  ASSERT_EQ(bands, reader.GetBands());
  float v = 0;
  for (uint32_t y = 0; y < lines; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t b = 0; b <= bands; ++b) {
        ASSERT_TRUE(reader.GetCell(x, y, b, v)) << x << "," << y << " band " << b;
        ASSERT_EQ(static_cast<float>(want(x, y, b < bands ? b : bands - 1)), v)
            << x << "," << y << " band " << b;
      }
  for (const auto& [x, y] : {std::pair{width, 0u}, std::pair{0u, lines}}) {
    v = 9;
    EXPECT_FALSE(reader.GetCell(x, y, 0, v)) << x << "," << y;
    if (zero_outside) {
      EXPECT_EQ(0, v) << x << "," << y;
    }
  }
  EXPECT_FALSE(reader.SeekLine(lines, 0));
}

std::string Num(double v) {
  char text[400];
  return std::string(text,
                     std::to_chars(text, text + sizeof text, v, std::chars_format::fixed).ptr);
}

std::string Placement(RasterReader& reader) {
  const Georeference& g = reader.GetGeoreference();
  return Num(reader.GetCellSizeX()) + " " + Num(reader.GetCellSizeY()) + ", " +
         Num(reader.GetLeftX()) + " " + Num(reader.GetTopY()) + ", " + g.Projection + " " +
         g.Datum + " " + g.Spheroid +
         (g.RegCellX || g.RegCellY ? ", cell " + Num(g.RegCellX) + " " + Num(g.RegCellY) + " at " +
                                         Num(g.RegX) + " " + Num(g.RegY)
                                   : "");
}

void ExpectClip(const std::vector<std::string>& args, uint32_t width, uint32_t lines,
                uint32_t bands, const std::function<double(uint32_t, uint32_t, uint32_t)>& want) {
  const CliResult r = RunClipra(args);
  ASSERT_EQ(0, r.code) << r.err;
  Source out;
  ASSERT_TRUE(out.Open(args.back())) << out.GetErrorText();
  ExpectCells(*out.GetReader(), width, lines, bands, want, false);
}

std::string CrLf(const std::string& lf_text) {
  std::string out;
  for (char c : lf_text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

std::string BlankValue(std::string text, const std::string& key) {
  const size_t at = text.find(key);
  if (at != std::string::npos)
    text.replace(at + key.size(), text.find("\r\n", at) - at - key.size(), "*");
  return text;
}

}  // namespace clipra
