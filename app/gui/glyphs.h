// The tool bar's images and the window icon, drawn in code so that they stay
// sharp at every size.
#pragma once

#include <QIcon>

namespace clipra {

enum GlyphIndex {
  kGlyphInput = 0,   // an open folder
  kGlyphOutput = 1,  // a disk
  kGlyphMap = 2,     // a map sheet with a cut-out frame: the window icon
  kGlyphStart = 3,
  kGlyphStop = 4,
  kGlyphPreview = 5,  // a magnifier over a map
};

QIcon Glyph(GlyphIndex index);

}  // namespace clipra
