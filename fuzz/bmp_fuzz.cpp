// Bitmap sources through the real file path, with a world file beside them.
// The first byte steers: when odd, the rest is the whole bitmap; when even,
// "BM" comes first. When its second bit is set, the next byte is the length
// of a ".bmpw" world file that precedes the bitmap's bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "dataset/source.h"
#include "dataset/utils.h"
#include "support/exercise.h"
#include "support/fuzz_file.h"

namespace {

void WriteOrRemove(const std::string& path, const std::string& text, bool present) {
  if (!present) {
    ::unlink(path.c_str());
    return;
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace clipra;
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  size_t at = 1;
  std::string world;
  const bool with_world = (flags & 2) && size >= 2;
  if (with_world) {
    const size_t n = data[1];
    at = 2;
    const size_t take = n < size - at ? n : size - at;
    world.assign(reinterpret_cast<const char*>(data + at), take);
    at += take;
  }
  std::string bytes = (flags & 1) ? std::string() : std::string("BM");
  bytes.append(reinterpret_cast<const char*>(data + at), size - at);
  const std::string& path =
      fuzz::WriteFuzzFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ".bmp");
  const std::string world_path = ChangeFileExt(path, ".bmpw");
  WriteOrRemove(world_path, world, with_world);
  Source source;
  const bool opened = source.Open(path);
  if (opened) fuzz::ExerciseSource(source);
  WriteOrRemove(world_path, world, false);
  return 0;
}
