// JPEG sources decoded at a reduced scale: libjpeg's DCT scaling gives an
// image of 1/8 to 7/8 of the size for little more than the cost of reading
// the file, which is all an overview of a large image needs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dataset/source.h"

namespace clipra {

// `file_name` decoded at the smallest scale n/8 that still gives at least
// `min_width` x `min_lines` cells (at most the full size), georeferenced by
// its world file so that each reduced cell lies over the n/8 block of cells
// it stands for. nullptr with `error` set when the image cannot be decoded.
std::unique_ptr<RasterReader> OpenJpegScaled(const std::string& file_name, uint32_t min_width,
                                             uint32_t min_lines, std::string& error);

// The reduction n/8 that OpenJpegScaled picks for an image of `width` x
// `lines`: the n, from 1 to 8.
int JpegScaleNumerator(uint32_t width, uint32_t lines, uint32_t min_width, uint32_t min_lines);

}  // namespace clipra
